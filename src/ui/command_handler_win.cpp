#include "ui/command_handler_win.h"

#include "checks/json_text.h"
#include "checks/notice_list.h"
#include "common/message_box_win.h"
#include "common/text_win.h"
#include "common/variant_win.h"
#include "ui/request_lock_win.h"

namespace Velmora::UI {
namespace {

constexpr wchar_t kSaveKeyNotString[] = L"save_settings第2个参数应该为String类型！";
constexpr wchar_t kSaveValueUnsupported[] = L"save_settings第3个参数使用了不支持的类型！";
constexpr wchar_t kLoadKeyNotString[] = L"load_settings第2个参数应该为String类型！";
constexpr wchar_t kLoadDefaultUnsupported[] = L"load_settings第3个参数使用了不支持的类型！";
constexpr wchar_t kKeyTypeNotInt[] = L"update_key_info第2个参数应该为int类型！";

constexpr wchar_t kCloseType[] = L"CloseType";
constexpr wchar_t kConfigUrl[] = L"ConfigUrl";
// The settings the page keeps. The others (the document's location above all) are the program's:
// the page, whatever script runs in it, cannot write them.
constexpr const wchar_t* kPageSettings[] = {
    L"boot_start",  L"AutoCheck", L"CloseType", L"update_time", L"LastTimeUpdate", L"LastTimeCheck",
    L"IsFirstTime", L"UserType",  L"KeyType",   L"keytype",     L"safeType"};

bool IsPageSetting(std::wstring_view key)
{
    // Exact: the registry's names ignore letter case, so "configurl" would be ConfigUrl.
    for (const wchar_t* setting : kPageSettings)
        if (key == setting)
            return true;
    return false;
}
constexpr wchar_t kIeProgram[] = L"\\Internet Explorer\\iexplore.exe";
constexpr wchar_t kNormalStart[] = L"Normal";

std::wstring Text(const VARIANT& v)
{
    return std::wstring(StringOf(v));
}

} // namespace

void KeyIdTable::Set(const std::wstring& flag, const std::wstring& keyId)
{
    std::lock_guard<std::mutex> guard(lock_);
    ids_[flag] = keyId;
}

std::wstring KeyIdTable::Get(const std::wstring& flag) const
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = ids_.find(flag);
    return it == ids_.end() ? std::wstring() : it->second;
}

std::map<std::wstring, std::wstring> KeyIdTable::Snapshot() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return ids_;
}

void KeyIdTable::Clear()
{
    std::lock_guard<std::mutex> guard(lock_);
    ids_.clear();
}

CommandCore::CommandCore(CommandServices services) : services_(std::move(services)) {}

CommandHandler CommandDispatcher::AsHandler()
{
    return [core = core_](IBSDialog* dialog, const VARIANT& name, const VARIANT& a1, const VARIANT& a2,
                          const VARIANT& a3, const VARIANT& a4,
                          VARIANT* result) { core->Handle(dialog, name, a1, a2, a3, a4, result); };
}

int CommandCore::CommandIdOf(const VARIANT& name)
{
    static const CommandTable table;
    if (IsString(name))
        return table.IdOf(StringOf(name));
    if (IsInt(name))
        return name.lVal;
    return kCommandUnknown;
}

void CommandCore::Handle(IBSDialog* dialog, const VARIANT& name, const VARIANT& a1, const VARIANT& a2,
                         const VARIANT& a3, const VARIANT& a4, VARIANT* result)
{
    ScopedVariant answer;
    HWND window = dialog ? dialog->GetWindowHandle() : nullptr;
    switch (CommandIdOf(name)) {
    case kCommandGetConfig: {
        RequestLock::Guard serialised(RequestLock::Instance());
        GetConfig(dialog);
        break;
    }
    case kCommandSaveSettings:
        SaveSettings(a1, a2);
        break;
    case kCommandLoadSettings:
        LoadSettings(a1, a2, answer.Ptr());
        break;
    case kCommandMessageBox:
        if (IsString(a1))
            ShowMessage(Text(a1), L"", services_.title, IsInt(a2) ? a2.lVal : 0, window);
        break;
    case kCommandOpenIe:
        if (IsString(a1) && services_.openBrowser)
            services_.openBrowser(services_.programFilesFolder + kIeProgram, Text(a1));
        break;
    case kCommandGetData:
        if (IsString(a1)) {
            const std::shared_ptr<const PageData> data = CurrentPageData();
            const std::string key = WideToUtf8(StringOf(a1));
            const auto it = data->values.find(key);
            // The notice file's address only where notices may come from.
            const std::string& value = key == "var_url"           ? data->noticeFileUrl
                                       : it != data->values.end() ? it->second
                                                                  : std::string();
            answer = ScopedVariant::String(Utf8ToWide(value));
        }
        break;
    case kCommandDelayMs:
        Delay(a1);
        break;
    case kCommandCallJs:
        CallJs(dialog, a1, a2, a3, a4);
        break;
    case kCommandDoExtraStartup:
        answer = ScopedVariant::String(services_.commandLineArgs.size() == 1 ? services_.commandLineArgs[0]
                                                                             : std::wstring(kNormalStart));
        break;
    case kCommandRestartApp:
        if (services_.restartApplication)
            services_.restartApplication();
        break;
    case kCommandGetNotices:
        answer = ScopedVariant::String(Notices());
        break;
    case kCommandHttpPost:
        if (IsString(a1))
            answer =
                ScopedVariant::String(services_.httpPost ? services_.httpPost(Text(a1)) : std::wstring());
        break;
    case kCommandStartWithBoot:
        if (IsBool(a1) && services_.setAutostart)
            services_.setAutostart(a1.boolVal != VARIANT_FALSE);
        break;
    case kCommandSetLog:
        if (IsString(a1) && services_.appendLog)
            services_.appendLog(WideToUtf8(StringOf(a1)));
        break;
    case kCommandMiniSize:
        if (window)
            ::ShowWindow(window, SW_MINIMIZE);
        break;
    case kCommandQuit:
        Quit();
        break;
    case kCommandUpdateKeyInfo:
        if (!IsInt(a1)) {
            ShowError(kKeyTypeNotInt);
            break;
        }
        RunKeyRequest(dialog, kCommandUpdateKeyInfo, a1, a2, answer.Ptr());
        break;
    case kCommandIsKeyConnect:
    case kCommandGetSmInfo:
        RunKeyRequest(dialog, CommandIdOf(name), a1, a2, answer.Ptr());
        break;
    case kCommandDoCheck:
        RunEngineRequest(dialog, a1, true, answer.Ptr());
        break;
    case kCommandDoFix:
    case kCommandDoInstall:
        RunEngineRequest(dialog, a1, false, answer.Ptr());
        break;
    case kCommandCheckUpdate:
        CheckUpdate(dialog, a1);
        break;
    case kCommandGetVersion:
        if (IsString(a1) && services_.versionText)
            if (const std::optional<std::wstring> text = services_.versionText(Text(a1)))
                answer = ScopedVariant::String(*text);
        break;
    case kCommandDebugPrint:
    default:
        break;
    }
    if (result)
        answer.MoveTo(result);
}

void CommandCore::RunEngineRequest(IBSDialog* dialog, const VARIANT& target, bool checkOnly, VARIANT* result)
{
    if (!services_.runRequest || !services_.config)
        return;
    Assistant::RunTarget request;
    if (IsString(target))
        request = WideToUtf8(StringOf(target));
    else if (IsInt(target))
        request = static_cast<std::int32_t>(target.lVal);
    else
        return;
    const EngineProgress progress{
        [this](std::int32_t index) { SetCurrentItem(index); },
        [this, dialog](int percent, bool ok) { ReportProgress(dialog, percent, ok); }};
    RequestLock::Guard serialised(RequestLock::Instance());
    const std::optional<std::string> answer =
        services_.runRequest(*services_.config, request, checkOnly, progress);
    if (answer && result)
        ScopedVariant::String(Utf8ToWide(*answer)).MoveTo(result);
}

void CommandCore::CheckUpdate(IBSDialog* dialog, const VARIANT& interactive)
{
    if (!services_.checkUpdate || !services_.config)
        return;
    const EngineProgress progress{
        [this](std::int32_t index) { SetCurrentItem(index); },
        [this, dialog](int percent, bool ok) { ReportUpdateProgress(dialog, percent, ok); }};
    RequestLock::Guard serialised(RequestLock::Instance());
    const bool updated =
        services_.checkUpdate(*services_.config, IsBool(interactive) && interactive.boolVal != VARIANT_FALSE,
                              dialog ? dialog->GetWindowHandle() : nullptr, progress);
    if (updated && services_.restartApplication)
        services_.restartApplication();
}

void CommandCore::RunKeyRequest(IBSDialog* dialog, int id, const VARIANT& a1, const VARIANT& a2,
                                VARIANT* result)
{
    // Not under the request lock: is_key_connect answers on the UI thread at once, while a download
    // may hold that lock for minutes.
    if (services_.keyRequest)
        services_.keyRequest(dialog, id, a1, a2, result);
}

void CommandCore::ShowError(const wchar_t* message)
{
    ShowMessage(message, kErrorInstruction, services_.title, kIconError, nullptr);
}

std::wstring CommandCore::ConfigLocation() const
{
    if (!services_.configOverride.empty())
        return services_.configOverride;
    // The setting is the user's to write, and this program runs elevated: only a document from an
    // https server can decide what it installs, never a local file or a plain http answer.
    const std::wstring setting =
        services_.readString ? services_.readString(kConfigUrl, L"") : std::wstring();
    if (Assistant::IsHttpsUrl(WideToUtf8(setting)))
        return setting;
    if (!setting.empty())
        ::OutputDebugStringW((L"ConfigUrl is not an https address and is not used: " + setting).c_str());
    return services_.defaultConfigUrl;
}

std::wstring CommandCore::Notices()
{
    // The notice file is read as data, never run: it must be one assignment of a list of texts,
    // which the page then shows through its snippet filter.
    const std::string url = CurrentPageData()->noticeFileUrl;
    std::string body;
    if (url.empty() || !services_.fetch || FAILED(services_.fetch(Utf8ToWide(url), &body)))
        return L"[]";
    const std::optional<std::vector<std::string>> notices =
        Assistant::ParseNoticeList(WideToUtf8(Utf8OrAnsiToWide(body)));
    if (!notices) {
        ::OutputDebugStringW(L"The notice file is not a list of texts: no notices are shown");
        return L"[]";
    }
    std::string json = "[";
    for (const std::string& notice : *notices) {
        if (json.size() > 1)
            json += ",";
        json += Assistant::JsonQuoted(notice);
    }
    return Utf8ToWide(json + "]");
}

void CommandCore::GetConfig(IBSDialog* dialog)
{
    const std::wstring url = ConfigLocation();
    const HRESULT hr =
        services_.loadConfig && services_.config ? services_.loadConfig(*services_.config, url) : E_NOTIMPL;
    if (FAILED(hr)) {
        PublishPageData(std::make_shared<PageData>());
        ShowMessage(kConfigFailedMessage, kErrorInstruction, services_.title, kIconError, nullptr);
        if (services_.quitApplication)
            services_.quitApplication();
        return;
    }
    auto data = std::make_shared<PageData>();
    data->values = services_.config->DataValues;
    data->noticeFileUrl = Assistant::NoticeFileUrl(*services_.config);
    PublishPageData(std::move(data));
    keys_.Clear();
    static const char* const kFields[] = {"name", "type", "keyid", "flag"};
    const Assistant::CheckConfig& config = *services_.config;
    for (size_t index = 0; index < config.ItemCount(); ++index) {
        const Assistant::ConfigItem& item = *config.ItemAt(index);
        for (const char* field : kFields) {
            if (dialog)
                CallPageFunction(*dialog, L"setItemInfo",
                                 {ScopedVariant::Unsigned(static_cast<unsigned>(index)),
                                  ScopedVariant::String(Utf8ToWide(field)),
                                  ScopedVariant::String(Utf8ToWide(item.Attributes.Get(field)))});
        }
        if (item.Attributes.Get("type") == "key")
            keys_.Set(Utf8ToWide(item.Attributes.Get("flag")), Utf8ToWide(item.Attributes.Get("keyid")));
    }
    if (dialog)
        CallPageFunction(*dialog, L"isAnyKeyConnect");
}

std::shared_ptr<const CommandCore::PageData> CommandCore::CurrentPageData()
{
    std::lock_guard<std::mutex> guard(pageDataLock_);
    return pageData_;
}

void CommandCore::PublishPageData(std::shared_ptr<const PageData> data)
{
    std::lock_guard<std::mutex> guard(pageDataLock_);
    pageData_ = std::move(data);
}

void CommandCore::SaveSettings(const VARIANT& key, const VARIANT& value)
{
    if (!IsString(key)) {
        ShowError(kSaveKeyNotString);
        return;
    }
    if (!IsInt(value) && !IsBool(value) && !IsString(value)) {
        ShowError(kSaveValueUnsupported);
        return;
    }
    if (!IsPageSetting(Text(key))) {
        ::OutputDebugStringW((L"save_settings: not a setting of the page: " + Text(key)).c_str());
        return;
    }
    if (IsString(value)) {
        if (services_.writeString)
            services_.writeString(Text(key), Text(value));
    } else if (services_.writeInt) {
        services_.writeInt(Text(key), IsInt(value) ? value.lVal : (value.boolVal != VARIANT_FALSE ? -1 : 0));
    }
}

void CommandCore::LoadSettings(const VARIANT& key, const VARIANT& defaultValue, VARIANT* result)
{
    if (!IsString(key)) {
        ShowError(kLoadKeyNotString);
        return;
    }
    ScopedVariant answer;
    if (IsInt(defaultValue)) {
        answer = ScopedVariant::Int(services_.readInt ? services_.readInt(Text(key), defaultValue.lVal)
                                                      : defaultValue.lVal);
    } else if (IsBool(defaultValue)) {
        const int fallback = defaultValue.boolVal != VARIANT_FALSE ? -1 : 0;
        const int stored = services_.readInt ? services_.readInt(Text(key), fallback) : fallback;
        // A boolean holds 16 bits: higher bits of the stored number are cut off.
        answer = ScopedVariant::Bool(static_cast<short>(stored & 0xFFFF) != 0);
    } else if (IsString(defaultValue)) {
        answer = ScopedVariant::String(
            services_.readString ? services_.readString(Text(key), Text(defaultValue)) : Text(defaultValue));
    } else {
        ShowError(kLoadDefaultUnsupported);
        return;
    }
    answer.MoveTo(result);
}

void CommandCore::Delay(const VARIANT& ms)
{
    if (!IsInt(ms) || ms.lVal <= 0)
        return;
    const DWORD interval = static_cast<DWORD>(ms.lVal);
    const DWORD start = ::GetTickCount();
    for (;;) {
        const DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= interval)
            return;
        // Waits for input or for the rest of the interval, so the command also ends when no message
        // arrives.
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, interval - elapsed, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Leave the quit for the thread's own loop.
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

void CommandCore::CallJs(IBSDialog* dialog, const VARIANT& function, const VARIANT& a2, const VARIANT& a3,
                         const VARIANT& a4)
{
    if (!dialog || !IsString(function))
        return;
    // The page function receives a2, a3, a4 as its first, second and third argument.
    CallPageFunction(*dialog, Text(function).c_str(),
                     {ScopedVariant(a2), ScopedVariant(a3), ScopedVariant(a4)});
}

void CommandCore::Quit()
{
    const int closeType = services_.readInt ? services_.readInt(kCloseType, 0) : 0;
    if (closeType == 1) {
        if (services_.postQuit)
            services_.postQuit();
    } else if (services_.quitApplication) {
        services_.quitApplication();
    }
}

void CommandCore::SendProgress(IBSDialog* dialog, int percent, int index, bool status)
{
    if (!dialog)
        return;
    CallPageFunction(*dialog, L"setProgress",
                     {ScopedVariant::Int(percent), ScopedVariant::Int(index), ScopedVariant::Bool(status)});
}

void CommandCore::ReportProgress(IBSDialog* dialog, int percent, bool status)
{
    int sent = 0;
    {
        std::lock_guard<std::mutex> guard(progressLock_);
        if (!progress_.Next(percent, &sent))
            return;
    }
    SendProgress(dialog, sent, currentItem_.load(), status);
}

void CommandCore::ReportUpdateProgress(IBSDialog* dialog, int percent, bool status)
{
    int sent = 0;
    {
        std::lock_guard<std::mutex> guard(progressLock_);
        if (!updateProgress_.Next(percent, &sent))
            return;
    }
    SendProgress(dialog, sent, -1, status);
}

} // namespace Velmora::UI
