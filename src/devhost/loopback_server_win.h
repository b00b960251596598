#pragma once
// The developer host's HTTP server, on 127.0.0.1 only, with bounded resources: a fixed number of
// workers serve connections (a few more wait for one; beyond that, accepting pauses and new
// connections wait in the system's queue), every read and write waits a bounded time, a connection
// without a request is closed when it has been idle a while, and a request's head is screened
// before any of its body is read.

#include "devhost/http_message.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace httplib {
class Server;
}

namespace Velmora::DevHost {

struct ServerLimits {
    std::size_t workers = 16; // connections served at once: above the six a browser opens per host
    std::size_t waiting = 16; // connections accepted and waiting for a worker
    std::chrono::seconds idle{2};
    std::chrono::seconds receive{5};
    std::chrono::seconds send{5};
};

class LoopbackServer {
public:
    // Decides on a request's head (method, target, headers; no body yet): an answer that refuses
    // it, sent at once with the connection closed after it, or none to read the body and serve it.
    using Screen = std::function<std::optional<HttpResponse>(const HttpRequest& head)>;
    using Handler = std::function<HttpResponse(const HttpRequest& request)>;

    LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    ~LoopbackServer();

    // Listens on 127.0.0.1:`port` (0: a free port the system picks). The Winsock error when it cannot.
    int Start(int port, Screen screen, Handler handler, const ServerLimits& limits = {});
    int Port() const { return port_; }
    // No new connection is taken; each open one ends after the request it is serving, or when it
    // has been idle for the idle time; every worker is joined.
    void Stop();

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread listening_;
    int port_ = 0;
};

} // namespace Velmora::DevHost
