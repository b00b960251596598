#pragma once
// Who may talk to the developer host, and what a request's path names: the page's files under the
// names the executable carries them by, or one of the host's own routes.

#include "devhost/http_message.h"

#include <optional>
#include <string>

namespace Velmora::DevHost {

struct AccessRule {
    std::string token; // the random part every URL carries: /<token>/...
    int port = 0;
};

struct Admission {
    int status = 0;   // 0: admitted; else the status to answer (403)
    std::string path; // below /<token>/, without the query
};

// Admitted only when the Host header is exactly the address the host listens on (127.0.0.1 and its
// port), an Origin, when sent, is that address over http, and the path starts with the token.
Admission AdmitRequest(const HttpRequest& request, const AccessRule& rule);

// What the host does not read, refused on a request's head before any of its body: 400 for a
// Content-Length that is not one plain number (a repeated header arrives joined by ", "), 501 for a
// body in a transfer coding (no chunked uploads), 413 for a body above kMaxRequestBody, whatever
// the length's digits. 0 for a head it reads.
int HeadRefusal(const HttpRequest& head);

// A page file as the executable carries it: res://<exe>/<type>/<name>.
struct ResourceName {
    int typeId = 0; // a numbered type (23, RT_HTML), else 0 and `type` holds the name
    std::string type;
    int nameId = 0; // a numbered resource, else 0 and `name` holds the name
    std::string name;
    std::string contentType;
};

// The resource a page path names ("" and "index.html" are the page itself), or none: a path the
// page cannot address, such as one with "..", more than one folder or characters outside its names.
std::optional<ResourceName> PageResourceFor(const std::string& path);

// The host's own routes, below /<token>/.
inline constexpr char kHostRoutePrefix[] = "~host/";

// The page's HTML with the host script loaded first of all (right after <head>, or at the start
// when it has none); the page's own bytes are otherwise untouched.
std::string PageWithHostScript(const std::string& html);

// A new token: 32 lower-case hex digits from `random16` (16 random bytes).
std::string TokenFromBytes(const unsigned char (&random16)[16]);

} // namespace Velmora::DevHost
