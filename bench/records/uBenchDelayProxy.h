#pragma once
// A distant server played on one machine: a TCP port on 127.0.0.1 whose every connection is
// carried to a unix socket (a PostgreSQL cluster's), each chunk of bytes held back for a fixed
// time in each direction. Its own thread; it ends with the object.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <list>
#include <string>
#include <thread>
#include <vector>

class TDelayProxy {
public:
    using TClock = std::chrono::steady_clock;

    // oneWay: the delay of each direction; a round trip through the proxy costs twice that.
    TDelayProxy(std::string upstreamSocket, std::chrono::milliseconds oneWay)
        : FUpstream(std::move(upstreamSocket)), FDelay(oneWay) {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::listen(FListen, 16) != 0 ||
            ::getsockname(FListen, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        Port = ntohs(address.sin_port);
        if (::pipe2(FWake, O_CLOEXEC) != 0) return;
        FThread = std::thread([this] { Run(); });
    }
    ~TDelayProxy() {
        FStop = true;
        if (FThread.joinable()) {
            const char byte = 0;
            [[maybe_unused]] const ssize_t written = ::write(FWake[1], &byte, 1);
            FThread.join();
        }
        for (TConnection &c : FConnections) {
            ::close(c.Ends[0]);
            ::close(c.Ends[1]);
        }
        for (int fd : {FListen, FWake[0], FWake[1]})
            if (fd >= 0) ::close(fd);
    }
    TDelayProxy(const TDelayProxy &) = delete;
    TDelayProxy &operator=(const TDelayProxy &) = delete;

    int Port = 0; // 0: the proxy could not be set up

private:
    struct TChunk {
        TClock::time_point Due;
        std::string Bytes;
    };
    struct TConnection {
        int Ends[2];                  // 0: the client, 1: the server
        std::deque<TChunk> Toward[2]; // bytes on their way to end 0 or 1
        bool Closed = false;
    };

    std::string FUpstream;
    std::chrono::milliseconds FDelay;
    int FListen = -1;
    int FWake[2] = {-1, -1};
    std::atomic<bool> FStop = false;
    std::thread FThread;
    std::list<TConnection> FConnections;

    void Accept() {
        const int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, FUpstream.c_str(), sizeof address.sun_path - 1);
        if (server < 0 || ::connect(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(client);
            if (server >= 0) ::close(server);
            return;
        }
        FConnections.push_back(TConnection{{client, server}, {}, false});
    }

    void Run() {
        while (!FStop) {
            std::vector<pollfd> fds{{FWake[0], POLLIN, 0}, {FListen, POLLIN, 0}};
            for (TConnection &c : FConnections)
                for (int end : c.Ends)
                    fds.push_back({end, short(c.Closed ? 0 : POLLIN), 0});
            // Wake for the next chunk that falls due.
            auto wait = std::chrono::milliseconds(100);
            const TClock::time_point now = TClock::now();
            for (const TConnection &c : FConnections)
                for (const auto &queue : c.Toward)
                    if (!queue.empty())
                        wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(std::max(
                                                  queue.front().Due - now, TClock::duration::zero())));
            ::poll(fds.data(), fds.size(), int(wait.count()));
            if (FStop) break;
            if (fds[1].revents & POLLIN) Accept();
            std::size_t index = 2;
            for (TConnection &c : FConnections) {
                for (int end = 0; end < 2 && index < fds.size(); ++end, ++index) {
                    if (!(fds[index].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                    char buffer[65536];
                    const ssize_t got = ::recv(c.Ends[end], buffer, sizeof buffer, MSG_DONTWAIT);
                    if (got > 0)
                        c.Toward[1 - end].push_back(
                            {TClock::now() + FDelay, std::string(buffer, size_t(got))});
                    else if (got == 0 || (errno != EAGAIN && errno != EINTR))
                        c.Closed = true;
                }
            }
            const TClock::time_point later = TClock::now();
            for (auto it = FConnections.begin(); it != FConnections.end();) {
                for (int end = 0; end < 2; ++end) {
                    std::deque<TChunk> &queue = it->Toward[end];
                    while (!queue.empty() && queue.front().Due <= later) {
                        const std::string &bytes = queue.front().Bytes;
                        for (std::size_t sent = 0; sent < bytes.size();) {
                            const ssize_t n =
                                ::send(it->Ends[end], bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                            if (n <= 0) break;
                            sent += size_t(n);
                        }
                        queue.pop_front();
                    }
                }
                if (it->Closed && it->Toward[0].empty() && it->Toward[1].empty()) {
                    ::close(it->Ends[0]);
                    ::close(it->Ends[1]);
                    it = FConnections.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
};
