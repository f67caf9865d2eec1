#pragma once
// A runtime folder (XDG_RUNTIME_DIR) of the test's own for as long as the object lives, so
// that simulators of tests running at the same time neither take this test's port names nor
// appear in its port folder. The folder that was set before comes back at destruction.
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

class TPrivateRuntime {
public:
    TPrivateRuntime()
        : FHadOld(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")), FOld(qgetenv("XDG_RUNTIME_DIR")) {
        // Qt takes a runtime folder only when its owner alone may enter it.
        QFile::setPermissions(FDir.path(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(FDir.path()));
    }
    ~TPrivateRuntime() {
        if (FHadOld)
            qputenv("XDG_RUNTIME_DIR", FOld);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }
    TPrivateRuntime(const TPrivateRuntime &) = delete;
    TPrivateRuntime &operator=(const TPrivateRuntime &) = delete;

    // The folder exists and Qt took it as the runtime location.
    bool InUse() const {
        return FDir.isValid() &&
               QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) == FDir.path();
    }
    QString Path() const { return FDir.path(); }

private:
    const bool FHadOld;
    const QByteArray FOld;
    QTemporaryDir FDir;
};
