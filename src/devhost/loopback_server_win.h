#pragma once
// An HTTP server on 127.0.0.1 only: a thread that accepts, and one per connection that reads its
// requests in turn and answers each through the handler (keep-alive as the browser asks).

#include "devhost/http_message.h"

#include <winsock2.h>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace Velmora::DevHost {

// Winsock for as long as it lives.
class WinsockSession {
public:
    WinsockSession();
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    ~WinsockSession();
    bool Ready() const { return ready_; }

private:
    bool ready_ = false;
};

class ScopedSocket {
public:
    ScopedSocket() = default;
    explicit ScopedSocket(SOCKET s) : socket_(s) {}
    ScopedSocket(const ScopedSocket&) = delete;
    ScopedSocket& operator=(const ScopedSocket&) = delete;
    ~ScopedSocket() { Reset(); }
    SOCKET Get() const { return socket_; }
    bool IsValid() const { return socket_ != INVALID_SOCKET; }
    void Reset(SOCKET s = INVALID_SOCKET)
    {
        if (socket_ != INVALID_SOCKET)
            ::closesocket(socket_);
        socket_ = s;
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
};

class LoopbackServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    LoopbackServer() = default;
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    ~LoopbackServer() { Stop(); }

    // Listens on 127.0.0.1:`port` (0: a free port the system picks). The Winsock error when it cannot.
    int Start(int port, Handler handler);
    int Port() const { return port_; }
    // No new connection is taken; open ones are shut down once their request in progress is
    // answered, and every thread is joined.
    void Stop();

private:
    struct Connection {
        ScopedSocket socket;
        std::thread thread;
        std::atomic<bool> done{false};
        std::atomic<bool> busy{false};
    };

    // `listening` is the listener as it was started: Stop closes it, which ends the wait.
    void AcceptLoop(SOCKET listening);
    void Serve(Connection& connection);
    void JoinFinished();

    Handler handler_;
    ScopedSocket listener_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex connectionsLock_;
    std::list<std::unique_ptr<Connection>> connections_;
};

} // namespace Velmora::DevHost
