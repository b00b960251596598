// The HTTP server itself is cpp-httplib's; this adapter gives it the host's limits and rules.
#include <httplib.h>

#include "devhost/loopback_server_win.h"

#include "checks/check_config.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace Velmora::DevHost {
namespace {

// A fixed set of workers for the accepted connections. When `waiting` connections already wait for
// a worker, the acceptor waits too: further connections stay in the system's listen queue (and
// beyond its length are refused by the system), so nothing grows without bound.
class BoundedWorkers final : public httplib::TaskQueue {
public:
    BoundedWorkers(std::size_t workers, std::size_t waiting) : waiting_(waiting == 0 ? 1 : waiting)
    {
        for (std::size_t i = 0; i < (workers == 0 ? 1 : workers); ++i)
            threads_.emplace_back([this] { Work(); });
    }

    void enqueue(std::function<void()> serve) override
    {
        std::unique_lock<std::mutex> held(lock_);
        room_.wait(held, [this] { return jobs_.size() < waiting_ || stopping_; });
        jobs_.push_back(std::move(serve));
        work_.notify_one();
    }

    // What was accepted is still served (once the listener is closed, that only closes it).
    void shutdown() override
    {
        {
            std::lock_guard<std::mutex> held(lock_);
            stopping_ = true;
        }
        work_.notify_all();
        room_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }

private:
    void Work()
    {
        for (;;) {
            std::function<void()> serve;
            {
                std::unique_lock<std::mutex> held(lock_);
                work_.wait(held, [this] { return !jobs_.empty() || stopping_; });
                if (jobs_.empty())
                    return;
                serve = std::move(jobs_.front());
                jobs_.pop_front();
                room_.notify_one();
            }
            serve();
        }
    }

    const std::size_t waiting_;
    std::mutex lock_;
    std::condition_variable work_, room_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    bool stopping_ = false;
};

// Header names in lower case; a repeated header's values joined by ", " as HTTP allows, so that a
// rule reading one value sees that there were several.
HttpRequest RequestOf(const httplib::Request& request, bool withBody)
{
    HttpRequest out;
    out.method = request.method;
    out.target = request.target;
    for (const auto& [name, value] : request.headers) {
        auto [at, added] = out.headers.emplace(Assistant::AsciiLower(name), value);
        if (!added)
            at->second += ", " + value;
    }
    if (withBody)
        out.body = request.body;
    return out;
}

// The body of an answer that has none of its own: what its status is.
std::string StatusText(int status)
{
    return std::to_string(status) + " " + httplib::detail::status_message(status) + "\n";
}

void Answer(const HttpResponse& response, httplib::Response& out)
{
    out.status = response.status;
    for (const auto& [name, value] : response.headers)
        out.set_header(name, value);
    if (!response.body.empty() || !response.contentType.empty())
        out.set_content(response.body, response.contentType.empty() ? "text/plain" : response.contentType);
}

// A refusal, and the end of its connection: the request's body (if any) was never read, so nothing
// after its head can be read as a next request. The body goes out through a provider that then
// reports failure, which is what makes the server close the connection after answering.
void RefuseAndClose(const HttpResponse& refusal, httplib::Response& out)
{
    out.status = refusal.status;
    for (const auto& [name, value] : refusal.headers)
        out.set_header(name, value);
    out.set_header("Connection", "close");
    auto body =
        std::make_shared<const std::string>(refusal.body.empty() ? StatusText(refusal.status) : refusal.body);
    out.set_content_provider(body->size(),
                             refusal.contentType.empty() ? "text/plain; charset=utf-8" : refusal.contentType,
                             [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 sink.write(body->data() + offset, length);
                                 return false;
                             });
}

} // namespace

LoopbackServer::LoopbackServer() = default;

LoopbackServer::~LoopbackServer()
{
    Stop();
}

int LoopbackServer::Start(int port, Screen screen, Handler handler, const ServerLimits& limits)
{
    server_ = std::make_unique<httplib::Server>();
    httplib::Server& server = *server_;
    server.new_task_queue = [limits] { return new BoundedWorkers(limits.workers, limits.waiting); };
    // Nobody else may take over the port while it is ours (no SO_REUSEADDR).
    server.set_socket_options([](SOCKET socket) {
        BOOL exclusive = TRUE;
        ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                     sizeof exclusive);
    });
    // An answer's head and body go out in separate writes: without this, the second waits for the
    // peer's delayed acknowledgement of the first (some 40 ms a request).
    server.set_tcp_nodelay(true);
    server.set_keep_alive_timeout(limits.idle.count());
    server.set_keep_alive_max_count(1000);
    server.set_read_timeout(limits.receive);
    server.set_write_timeout(limits.send);
    server.set_payload_max_length(kMaxRequestBody);
    server.set_default_headers({{"Cache-Control", "no-store"},
                                {"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"}});
    // Every failure without content of its own says what its status is.
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& response) {
            if (!response.body.empty() || response.has_header("Content-Type"))
                return httplib::Server::HandlerResponse::Unhandled;
            response.set_content(StatusText(response.status), "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }));
    // The head is screened before the server reads the body.
    server.set_pre_routing_handler([screen](const httplib::Request& request, httplib::Response& response) {
        const std::optional<HttpResponse> refusal = screen ? screen(RequestOf(request, false)) : std::nullopt;
        if (!refusal)
            return httplib::Server::HandlerResponse::Unhandled;
        RefuseAndClose(*refusal, response);
        return httplib::Server::HandlerResponse::Handled;
    });
    const auto serve = [handler](const httplib::Request& request, httplib::Response& response) {
        Answer(handler(RequestOf(request, true)), response);
    };
    // Every path and method reaches the handler, which decides what is there.
    server.Get(".*", serve);
    server.Post(".*", serve);
    server.Put(".*", serve);
    server.Delete(".*", serve);
    server.Options(".*", serve);
    server.Patch(".*", serve);

    const int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                                : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound < 0) {
        const int error = ::WSAGetLastError();
        server_.reset();
        return error != 0 ? error : WSAEADDRINUSE;
    }
    port_ = bound;
    auto ended = std::make_shared<std::atomic<bool>>(false);
    listening_ = std::thread([&server, ended] {
        server.listen_after_bind();
        *ended = true;
    });
    // Stop must find it running, or it would not close the listener.
    while (!server.is_running() && !*ended)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

void LoopbackServer::Stop()
{
    if (!server_)
        return;
    server_->stop();
    if (listening_.joinable())
        listening_.join();
    server_.reset();
}

} // namespace Velmora::DevHost
