#pragma once
// A small HTTP server on 127.0.0.1 for the loader and file-handler tests: answers every request
// with one programmed status and body, one request per connection.

// Before <windows.h>, which the handle owners include.
#include "common/winsock_win.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace Velmora::Assistant::Testing {

class LoopbackServer {
public:
    LoopbackServer()
    {
        listener_.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        if (!listener_ || bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(listener_.Get(), 8) != 0 ||
            getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            listener_.Reset();
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }

    ~LoopbackServer() { Stop(); }

    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Closes the listening socket: later connections are refused.
    void Stop()
    {
        stopping_ = true;
        listener_.Reset();
        if (thread_.joinable())
            thread_.join();
    }

    bool IsListening() const { return port_ != 0; }
    unsigned short Port() const { return port_; }
    int Requests() const { return requests_; }

    void Respond(int status, std::string body)
    {
        std::lock_guard guard(lock_);
        status_ = status;
        body_ = std::move(body);
        missing_ = 0;
        trickle_ = false;
    }

    // Declares `missing` more bytes than the body holds and closes after the body: a transfer cut
    // short. Respond() ends it.
    void CutShort(std::size_t missing)
    {
        std::lock_guard guard(lock_);
        missing_ = missing;
    }

    // After the body, goes on sending one more byte every 20 ms until Stop(): a download that never
    // ends. Respond() ends it.
    void Trickle()
    {
        std::lock_guard guard(lock_);
        trickle_ = true;
    }
    // True once a trickling answer has begun sending its body.
    bool Trickling() const { return trickling_; }

private:
    void Serve()
    {
        while (!stopping_) {
            ScopedSocket client(accept(listener_.Get(), nullptr, nullptr));
            if (!client)
                return;
            std::string request;
            char buffer[2048];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int got = recv(client.Get(), buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(got));
            }
            ++requests_;
            std::string answer;
            bool trickle = false;
            {
                std::lock_guard guard(lock_);
                trickle = trickle_;
                const std::size_t declared = trickle ? body_.size() + (1u << 30) : body_.size() + missing_;
                answer = "HTTP/1.1 " + std::to_string(status_) + " Answer\r\nContent-Type: text/xml\r\n" +
                         "Content-Length: " + std::to_string(declared) + "\r\nConnection: close\r\n\r\n" +
                         body_;
            }
            send(client.Get(), answer.data(), static_cast<int>(answer.size()), 0);
            if (trickle) {
                trickling_ = true;
                while (!stopping_ && send(client.Get(), "x", 1, 0) == 1)
                    ::Sleep(20);
            }
            shutdown(client.Get(), SD_SEND);
        }
    }

    WinsockSession winsock_;
    ScopedSocket listener_;
    unsigned short port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_ = false;
    std::atomic<int> requests_ = 0;
    std::mutex lock_;
    int status_ = 200;
    std::string body_;
    std::size_t missing_ = 0;
    bool trickle_ = false;
    std::atomic<bool> trickling_ = false;
};

} // namespace Velmora::Assistant::Testing
