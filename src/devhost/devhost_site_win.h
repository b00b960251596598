#pragma once
// What the developer host answers: the page and its files as the executable carries them, the
// script that gives the page its `external`, and that script's routes to the command handler and
// the page channel.

#include "devhost/http_message.h"
#include "devhost/page_channel.h"
#include "devhost/remote_page_win.h"
#include "devhost/request_rules.h"
#include "ui/ibs_dialog_win.h"

#include <memory>
#include <mutex>
#include <optional>

namespace Velmora::DevHost {

// The host script's resource in the developer host's executable.
inline constexpr wchar_t kHostScriptType[] = L"HOSTJS";
inline constexpr wchar_t kHostScriptName[] = L"EXTERNAL.JS";

class DevHostSite {
public:
    DevHostSite(PageChannel& channel, UI::CommandHandler handler);

    void SetAccessRule(AccessRule rule);
    // A request's head, before its body is read: the refusal of what the host does not read or
    // does not admit, or none.
    std::optional<HttpResponse> Screen(const HttpRequest& head);
    HttpResponse Serve(const HttpRequest& request);

    RemotePage& Page() { return *page_; }

private:
    Admission Admit(const HttpRequest& request);
    HttpResponse ServeFile(const std::string& path);
    HttpResponse SyncCall(const Json& body);
    HttpResponse ContinueSyncCall(const Json& body);
    HttpResponse AsyncCall(const Json& body, bool queued);
    HttpResponse Poll(const Json& body);

    PageChannel& channel_;
    UI::CommandHandler handler_;
    std::shared_ptr<RemotePage> page_;
    std::mutex ruleLock_;
    AccessRule rule_;
};

} // namespace Velmora::DevHost
