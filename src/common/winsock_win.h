#pragma once
// Winsock for as long as an owner lives, and sockets in handle owners. Include before <windows.h>.

#include <winsock2.h>

#include "common/scoped_handle_win.h"

namespace Velmora {

// Winsock's start is counted, so one session per user is cheap and leaves other users alone.
class WinsockSession {
public:
    WinsockSession()
    {
        WSADATA data;
        started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockSession()
    {
        if (started_)
            ::WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

    bool Started() const { return started_; }

private:
    bool started_ = false;
};

struct SocketTraits {
    using Handle = SOCKET;
    static Handle Null() { return INVALID_SOCKET; }
    static bool IsValid(Handle s) { return s != INVALID_SOCKET; }
    static void Close(Handle s) { ::closesocket(s); }
};
using ScopedSocket = ScopedGeneric<SocketTraits>;

} // namespace Velmora
