#include "common/message_box_win.h"

#include <commctrl.h>

#include <atomic>

namespace Velmora::UI {
namespace {

std::atomic<IMessagePresenter*> g_presenter{nullptr};
std::atomic<HWND> g_mainWindow{nullptr};

// Task dialog options: hyperlinks, command-link buttons, footer expanded.
constexpr TASKDIALOG_FLAGS kTaskDialogOptions = 0x51;

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// Present only when common controls 6 are active (the program's manifest asks for them).
TaskDialogIndirectFn FindTaskDialog()
{
    HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
    if (!comctl)
        return nullptr;
    return reinterpret_cast<TaskDialogIndirectFn>(
        reinterpret_cast<void*>(::GetProcAddress(comctl, "TaskDialogIndirect")));
}

PCWSTR TaskIcon(int icon)
{
    switch (icon) {
    case kIconInformation:
        return TD_INFORMATION_ICON;
    case kIconWarning:
        return TD_WARNING_ICON;
    case kIconShield:
        return TD_SHIELD_ICON;
    case kIconError:
        return TD_ERROR_ICON;
    default:
        return nullptr;
    }
}

UINT BoxIcon(int icon)
{
    switch (icon) {
    case kIconInformation:
        return MB_ICONINFORMATION;
    case kIconWarning:
        return MB_ICONWARNING;
    case kIconQuestion:
        return MB_ICONQUESTION;
    case kIconError:
        return MB_ICONERROR;
    default:
        return 0;
    }
}

class SystemPresenter final : public IMessagePresenter {
public:
    int Present(const MessageRequest& r) override
    {
        if (TaskDialogIndirectFn taskDialog = FindTaskDialog()) {
            TASKDIALOGCONFIG config = {};
            config.cbSize = sizeof(config);
            config.hwndParent = r.owner;
            config.dwFlags = kTaskDialogOptions;
            config.pszWindowTitle = r.title.c_str();
            config.pszMainInstruction = r.instruction.c_str();
            config.pszContent = r.content.c_str();
            TASKDIALOG_BUTTON buttons[2] = {{IDYES, r.yesLabel.c_str()}, {IDNO, r.noLabel.c_str()}};
            if (r.askYesNo) {
                config.pButtons = buttons;
                config.cButtons = 2;
            } else {
                config.pszMainIcon = TaskIcon(r.icon);
            }
            int pressed = 0;
            if (SUCCEEDED(taskDialog(&config, &pressed, nullptr, nullptr)))
                return pressed;
        }
        const UINT type = r.askYesNo ? MB_YESNO | MB_ICONQUESTION : MB_OK | BoxIcon(r.icon);
        return ::MessageBoxW(r.owner, r.content.c_str(), r.title.c_str(), type);
    }
};

int Present(MessageRequest& request)
{
    if (!request.owner)
        request.owner = g_mainWindow.load();
    static SystemPresenter system;
    IMessagePresenter* presenter = g_presenter.load();
    return (presenter ? presenter : &system)->Present(request);
}

} // namespace

std::wstring MessageText::Resolve() const
{
    if (!resourceId)
        return text;
    const wchar_t* resource = nullptr;
    // Length 0 asks for a read-only pointer into the resource itself.
    const int length =
        ::LoadStringW(::GetModuleHandleW(nullptr), resourceId, reinterpret_cast<LPWSTR>(&resource), 0);
    return length > 0 && resource ? std::wstring(resource, static_cast<size_t>(length)) : std::wstring();
}

void SetMessagePresenter(IMessagePresenter* presenter)
{
    g_presenter = presenter;
}

void SetMessageMainWindow(HWND window)
{
    g_mainWindow = window;
}

int ShowMessage(const MessageText& content, const MessageText& instruction, const MessageText& title,
                int icon, HWND owner)
{
    MessageRequest request;
    request.content = content.Resolve();
    request.instruction = instruction.Resolve();
    request.title = title.Resolve();
    request.icon = icon;
    request.owner = owner;
    return Present(request);
}

int AskYesNo(const MessageText& content, const MessageText& instruction, const MessageText& title,
             const MessageText& yesLabel, const MessageText& noLabel, HWND owner)
{
    MessageRequest request;
    request.askYesNo = true;
    request.content = content.Resolve();
    request.instruction = instruction.Resolve();
    request.title = title.Resolve();
    request.yesLabel = yesLabel.Resolve();
    request.noLabel = noLabel.Resolve();
    request.owner = owner;
    return Present(request);
}

} // namespace Velmora::UI
