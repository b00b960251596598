#include "devhost/devhost_site_win.h"

#include "common/com_ptr_win.h"
#include "common/text_win.h"
#include "common/variant_win.h"
#include "ui/async_call_queue_win.h"
#include "ui/thread_parameter.h"

#include <objbase.h>

#include <array>

namespace Velmora::DevHost {
namespace {

using UI::ScopedVariant;

// An answer that is only its status (the server words it).
HttpResponse Status(int status)
{
    HttpResponse response;
    response.status = status;
    return response;
}

HttpResponse JsonResponse(const Json& value)
{
    HttpResponse response;
    response.contentType = "application/json; charset=utf-8";
    response.body = WireJsonText(value);
    return response;
}

// A resource of this executable, or none.
std::optional<std::string> ResourceBytes(const wchar_t* name, const wchar_t* type)
{
    HRSRC found = ::FindResourceW(nullptr, name, type);
    if (!found)
        return std::nullopt;
    HGLOBAL loaded = ::LoadResource(nullptr, found);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes)
        return std::nullopt;
    return std::string(static_cast<const char*>(bytes), ::SizeofResource(nullptr, found));
}

// The five command arguments (name, a1..a4) of a call's "args"; absent ones are empty.
std::array<ScopedVariant, 5> CommandArguments(const Json& body)
{
    std::array<ScopedVariant, 5> args;
    const Json* list = Member(body, "args");
    if (list && list->is_array()) {
        for (std::size_t i = 0; i < args.size() && i < list->size(); ++i)
            VariantFromWire((*list)[i], args[i].Ptr());
    }
    return args;
}

// COM for the thread that serves the page's synchronous calls, the UI thread of this host, for as
// long as the thread lives.
void EnsureComOnThisThread()
{
    thread_local ScopedComApartment com;
}

// One asynchronous page command: the handler on a worker, then the page's callback with the
// answer, waited for until it has returned.
class RemoteAsyncCall final : public Model::IThreadParameter {
public:
    RemoteAsyncCall(std::shared_ptr<RemotePage> page, UI::CommandHandler handler, std::string callback,
                    std::array<ScopedVariant, 5> args, bool queuedItem)
        : page_(std::move(page)), handler_(std::move(handler)), callback_(std::move(callback)),
          args_(std::move(args))
    {
        queued = queuedItem;
    }

    void Run() override
    {
        ScopedVariant answer;
        if (handler_)
            handler_(page_.get(), args_[0].Get(), args_[1].Get(), args_[2].Get(), args_[3].Get(),
                     args_[4].Get(), answer.Ptr());
        if (!callback_.empty())
            page_->CallCallback(callback_, answer.Get());
    }

private:
    std::shared_ptr<RemotePage> page_;
    UI::CommandHandler handler_;
    std::string callback_;
    std::array<ScopedVariant, 5> args_;
};

} // namespace

DevHostSite::DevHostSite(PageChannel& channel, UI::CommandHandler handler)
    : channel_(channel), handler_(std::move(handler)), page_(std::make_shared<RemotePage>(channel))
{
}

void DevHostSite::SetAccessRule(AccessRule rule)
{
    std::lock_guard<std::mutex> held(ruleLock_);
    rule_ = std::move(rule);
}

Admission DevHostSite::Admit(const HttpRequest& request)
{
    std::lock_guard<std::mutex> held(ruleLock_);
    return AdmitRequest(request, rule_);
}

std::optional<HttpResponse> DevHostSite::Screen(const HttpRequest& head)
{
    const int refused = HeadRefusal(head);
    if (refused != 0)
        return Status(refused);
    const Admission admission = Admit(head);
    if (admission.status != 0)
        return Status(admission.status);
    return std::nullopt;
}

HttpResponse DevHostSite::Serve(const HttpRequest& request)
{
    const Admission admission = Admit(request);
    if (admission.status != 0)
        return Status(admission.status);
    const std::string& path = admission.path;
    if (path.rfind(kHostRoutePrefix, 0) != 0) {
        if (request.method != "GET" && request.method != "HEAD")
            return Status(405);
        return ServeFile(path);
    }
    const std::string route = path.substr(sizeof kHostRoutePrefix - 1);
    if (route == "external.js") {
        if (request.method != "GET")
            return Status(405);
        const std::optional<std::string> script = ResourceBytes(kHostScriptName, kHostScriptType);
        if (!script)
            return Status(404);
        HttpResponse response;
        response.contentType = "text/javascript; charset=utf-8";
        response.body = *script;
        return response;
    }
    if (request.method != "POST")
        return Status(405);
    const std::optional<Json> body = ParseWireJson(request.body);
    if (!body || !body->is_object())
        return Status(400);
    if (route == "callc")
        return SyncCall(*body);
    if (route == "step")
        return ContinueSyncCall(*body);
    if (route == "asyncallc" || route == "asyncalld")
        return AsyncCall(*body, route == "asyncallc");
    if (route == "poll")
        return Poll(*body);
    return Status(404);
}

HttpResponse DevHostSite::ServeFile(const std::string& path)
{
    const std::optional<ResourceName> resource = PageResourceFor(path);
    if (!resource)
        return Status(404);
    const std::wstring type = Utf8ToWide(resource->type), name = Utf8ToWide(resource->name);
    const std::optional<std::string> bytes =
        ResourceBytes(resource->nameId ? MAKEINTRESOURCEW(resource->nameId) : name.c_str(),
                      resource->typeId ? MAKEINTRESOURCEW(resource->typeId) : type.c_str());
    if (!bytes)
        return Status(404);
    HttpResponse response;
    response.contentType = resource->contentType;
    response.body = resource->nameId == 200 && resource->typeId == 23 ? PageWithHostScript(*bytes) : *bytes;
    return response;
}

HttpResponse DevHostSite::SyncCall(const Json& body)
{
    auto args = std::make_shared<std::array<ScopedVariant, 5>>(CommandArguments(body));
    std::optional<Json> step = channel_.BeginCall([this, args] {
        EnsureComOnThisThread();
        ScopedVariant answer;
        if (handler_)
            handler_(page_.get(), (*args)[0].Get(), (*args)[1].Get(), (*args)[2].Get(), (*args)[3].Get(),
                     (*args)[4].Get(), answer.Ptr());
        return WireFromVariant(answer.Get());
    });
    return step ? JsonResponse(*step) : Status(409);
}

HttpResponse DevHostSite::ContinueSyncCall(const Json& body)
{
    const std::optional<Json> step = channel_.ContinueCall(body);
    return step ? JsonResponse(*step) : Status(409);
}

HttpResponse DevHostSite::AsyncCall(const Json& body, bool queued)
{
    auto* item =
        new RemoteAsyncCall(page_, handler_, TextOf(body, "callback"), CommandArguments(body), queued);
    // Answered once the command is on its way, as the embedded page's call returns.
    UI::Dispatch(item);
    return JsonResponse(Json::object());
}

HttpResponse DevHostSite::Poll(const Json& body)
{
    const std::string page = TextOf(body, "page");
    if (page.empty())
        return Status(400);
    const Json* answers = Member(body, "answers");
    return JsonResponse(channel_.Poll(page, answers ? *answers : Json::array()));
}

} // namespace Velmora::DevHost
