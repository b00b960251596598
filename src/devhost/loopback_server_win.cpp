#include "devhost/loopback_server_win.h"

#include <ws2tcpip.h>

#include <chrono>

namespace Velmora::DevHost {

WinsockSession::WinsockSession()
{
    WSADATA data;
    ready_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

WinsockSession::~WinsockSession()
{
    if (ready_)
        ::WSACleanup();
}

int LoopbackServer::Start(int port, Handler handler)
{
    handler_ = std::move(handler);
    listener_.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listener_.IsValid())
        return ::WSAGetLastError();
    // Nobody else may take over the port while it is ours.
    BOOL exclusive = TRUE;
    ::setsockopt(listener_.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    if (::bind(listener_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.Get(), SOMAXCONN) != 0) {
        const int error = ::WSAGetLastError();
        listener_.Reset();
        return error;
    }
    int length = sizeof address;
    ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this, listening = listener_.Get()] { AcceptLoop(listening); });
    return 0;
}

void LoopbackServer::Stop()
{
    if (stopping_.exchange(true))
        return;
    // Closing the listener ends the accept loop's wait.
    listener_.Reset();
    if (acceptor_.joinable())
        acceptor_.join();
    std::list<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> held(connectionsLock_);
        connections.swap(connections_);
    }
    // A request being answered gets a moment to finish; idle connections end at once.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (auto& connection : connections) {
        while (connection->busy && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::shutdown(connection->socket.Get(), SD_BOTH);
        if (connection->thread.joinable())
            connection->thread.join();
    }
}

void LoopbackServer::JoinFinished()
{
    std::lock_guard<std::mutex> held(connectionsLock_);
    for (auto it = connections_.begin(); it != connections_.end();) {
        if ((*it)->done) {
            (*it)->thread.join();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void LoopbackServer::AcceptLoop(SOCKET listening)
{
    while (!stopping_) {
        SOCKET accepted = ::accept(listening, nullptr, nullptr);
        if (accepted == INVALID_SOCKET) {
            if (stopping_)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        JoinFinished();
        auto connection = std::make_unique<Connection>();
        connection->socket.Reset(accepted);
        Connection* raw = connection.get();
        std::lock_guard<std::mutex> held(connectionsLock_);
        if (stopping_)
            return;
        raw->thread = std::thread([this, raw] { Serve(*raw); });
        connections_.push_back(std::move(connection));
    }
}

void LoopbackServer::Serve(Connection& connection)
{
    std::string received;
    char buffer[16384];
    for (;;) {
        HttpRequest request;
        std::size_t consumed = 0;
        const ParseOutcome outcome = ParseHttpRequest(received, &request, &consumed);
        if (outcome == ParseOutcome::Incomplete) {
            const int got = ::recv(connection.socket.Get(), buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            received.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        HttpResponse response;
        bool keepAlive = false;
        if (outcome == ParseOutcome::Complete) {
            connection.busy = true;
            received.erase(0, consumed);
            response = handler_(request);
            keepAlive = request.keepAlive && !stopping_;
        } else {
            response.status = outcome == ParseOutcome::TooLarge      ? 413
                              : outcome == ParseOutcome::Unsupported ? 501
                                                                     : 400;
        }
        std::string bytes = SerializeResponse(response, keepAlive);
        // HEAD: the head of what a GET would answer, its length included.
        if (request.method == "HEAD")
            bytes.resize(bytes.size() - response.body.size());
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const int put = ::send(connection.socket.Get(), bytes.data() + sent,
                                   static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 1 << 20)), 0);
            if (put <= 0)
                break;
            sent += static_cast<std::size_t>(put);
        }
        connection.busy = false;
        if (!keepAlive || sent < bytes.size())
            break;
    }
    ::shutdown(connection.socket.Get(), SD_SEND);
    connection.done = true;
}

} // namespace Velmora::DevHost
