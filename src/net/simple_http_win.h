#pragma once
// The one-shot request client: its own session per call ("Aurn", never a proxy), optional basic
// credentials, content type and cookie headers. Shares nothing; any thread may call it.

#include "net/simple_http.h"

#include <string>
#include <string_view>

namespace Velmora::Network {

// True when a status code was read (whatever it is). On false the response is empty with
// status -1.
bool RunSimpleHttpRequest(const SimpleHttpRequest& request, SimpleHttpResponse* response);

// What the page's http_post command answers: POSTs nothing to `url` and returns the response body
// decoded from UTF-8, whatever the HTTP status; empty on any failure.
std::wstring HttpPostText(std::wstring_view url);

} // namespace Velmora::Network
