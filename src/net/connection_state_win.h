#pragma once
// The state of the Internet connection as the system's Internet settings see it: whether the
// default connection goes through a proxy, whether the system thinks it is online, and whether a
// URL's server accepts a connection.

#include <string>

namespace Velmora::Network {

// True when the default connection's per-connection flags select a proxy server or an automatic
// configuration script. False when the options cannot be read.
bool ProxyInUse();

// The system's Internet connected state, as it answers.
bool IsConnected();

// True when a connection to the URL's server can be made now (a connection is forced, not taken
// from the cached state).
bool CanConnect(const std::wstring& url);

} // namespace Velmora::Network
