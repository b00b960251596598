#include "net/connection_state_win.h"

#include "common/scoped_handle_win.h"

#include <windows.h>

#include <wininet.h>

#include <iterator>

namespace Velmora::Network {

bool ProxyInUse()
{
    INTERNET_PER_CONN_OPTIONW options[5] = {};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    options[3].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
    options[4].dwOption = INTERNET_PER_CONN_AUTODISCOVERY_FLAGS;
    INTERNET_PER_CONN_OPTION_LISTW list = {};
    list.dwSize = sizeof list;
    list.pszConnection = nullptr; // the default (LAN) connection
    list.dwOptionCount = static_cast<DWORD>(std::size(options));
    list.pOptions = options;
    DWORD size = sizeof list;
    if (!::InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size))
        return false;
    const ScopedGlobal server(options[1].Value.pszValue);
    const ScopedGlobal bypass(options[2].Value.pszValue);
    const ScopedGlobal script(options[3].Value.pszValue);
    return (options[0].Value.dwValue & (PROXY_TYPE_PROXY | PROXY_TYPE_AUTO_PROXY_URL)) != 0;
}

bool IsConnected()
{
    DWORD flags = 0;
    return ::InternetGetConnectedState(&flags, 0) != FALSE;
}

bool CanConnect(const std::wstring& url)
{
    return ::InternetCheckConnectionW(url.c_str(), FLAG_ICC_FORCE_CONNECTION, 0) != FALSE;
}

} // namespace Velmora::Network
