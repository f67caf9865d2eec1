#pragma once
// The engine's one link to the shared-memory register server. The server lives in a library
// of its own that installs its factory here when it is linked into the program; the engine
// holds whatever the factory returns through this interface and knows nothing else of it.
#include <QString>

#include <memory>

class TKvProtocol;

// The basic interface of the server: its lifetime is shared with the engine, and it can say
// why it publishes nothing.
class ITrazerServer {
public:
    virtual ~ITrazerServer() = default;
    // Why the server was refused its named objects (naming the conflict); empty when it serves.
    virtual QString Refusal() const { return {}; }
};

// Makes the server of an engine under the given (non-empty) name; may return null.
using TTrazerServerFactory = std::shared_ptr<ITrazerServer> (*)(TKvProtocol *aKvProtocol,
                                                                const QString &trazerServerName);

// Installed once by the server's library while the program loads; null uninstalls.
void SetTrazerServerFactory(TTrazerServerFactory factory);
// The installed factory, or null when no server library is linked.
TTrazerServerFactory TrazerServerFactory();
