// The dialog host under Wine: the window, its template and message table, and the host object's
// own COM methods called directly (Wine's browser control never loads a document).

#include "common/message_box_win.h"
#include "fake_page.h"
#include "ui/assistant_commands_win.h"
#include "ui/bs_dialog_win.h"
#include "ui/host_rules.h"

#include <gtest/gtest.h>

#include <exdispid.h>
#include <mshtmhst.h>

#include <vector>

using namespace Velmora::UI;
using namespace Velmora::UI::Testing;

namespace {

struct Seen {
    std::vector<std::wstring> commands;
    std::vector<ScopedVariant> firstArgs;
    std::vector<UINT> hooks;
    std::vector<std::wstring> launched;
};

BSDialogParams Params(Seen* seen, int autoSize = 0)
{
    BSDialogParams p;
    p.title = L"Velmora Assistant";
    p.autoSize = autoSize;
    p.maxWidth = 400;
    p.maxHeight = 300;
    p.pageResourceId = 200;
    p.commandHandler = [seen](IBSDialog*, const VARIANT& name, const VARIANT& a1, const VARIANT&,
                              const VARIANT&, const VARIANT&, VARIANT*) {
        seen->commands.emplace_back(StringOf(name));
        seen->firstArgs.emplace_back(a1);
    };
    p.messageHook = [seen](IBSDialog*, UINT code, WPARAM, LPARAM) { seen->hooks.push_back(code); };
    return p;
}

std::wstring ExePath()
{
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// Invokes one browser event on the host object, arguments given in event order.
void FireEvent(IUnknown* host, DISPID id, std::vector<VARIANT> args)
{
    IDispatch* sink = nullptr;
    ASSERT_EQ(S_OK, host->QueryInterface(DIID_DWebBrowserEvents2, reinterpret_cast<void**>(&sink)));
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXPECT_EQ(S_OK, sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    sink->Release();
}

VARIANT Bstr(BSTR s)
{
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = s;
    return v;
}
VARIANT NoObject()
{
    VARIANT v;
    v.vt = VT_DISPATCH;
    v.pdispVal = nullptr;
    return v;
}
VARIANT CancelRef(VARIANT_BOOL* cancel)
{
    VARIANT v;
    v.vt = VT_BOOL | VT_BYREF;
    v.pboolVal = cancel;
    return v;
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CBSDialog::SetIeLauncher([this](const std::wstring& url) { seen_.launched.push_back(url); });
    }
    void TearDown() override
    {
        CBSDialog::SetIeLauncher({});
        // Drop the quit message the last closed dialog leaves behind.
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ;
    }
    Seen seen_;
};

TEST_F(DialogTest, CreationChecksTheRecordAndBuildsTheWindowFromTheTemplate)
{
    BSDialogParams bad = Params(&seen_);
    bad.size = 60;
    EXPECT_EQ(nullptr, CBSDialog::Create(bad));
    EXPECT_EQ(0u, CBSDialog::OpenCount());

    IBSDialog* dialog = CBSDialog::Create(Params(&seen_, 0));
    ASSERT_NE(nullptr, dialog);
    HWND w = dialog->GetWindowHandle();
    ASSERT_TRUE(::IsWindow(w));
    EXPECT_EQ(1u, CBSDialog::OpenCount());
    const DWORD style = static_cast<DWORD>(::GetWindowLongW(w, GWL_STYLE));
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_THICKFRAME); // no auto-size: the user may size it
    EXPECT_FALSE(style & WS_CAPTION & ~WS_BORDER);
    EXPECT_TRUE(::GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    wchar_t title[64] = {};
    ::GetWindowTextW(w, title, 64);
    EXPECT_STREQ(L"Velmora Assistant", title);
    RECT rc;
    ::GetWindowRect(w, &rc);
    EXPECT_EQ(400, rc.right - rc.left);
    EXPECT_EQ(300, rc.bottom - rc.top);
    auto* d = static_cast<CBSDialog*>(dialog);
    EXPECT_EQ(OwnResourcePrefix(ExePath()) + L"200", d->StartUrl());
    // Before a document: every page call fails with the invalid-pointer status.
    EXPECT_EQ(E_POINTER, dialog->CallScript(L"setProgress", nullptr, 0, nullptr));
    EXPECT_EQ(0, dialog->RunBuiltinCommand(VARIANT{}, VARIANT{}, VARIANT{}, VARIANT{}, VARIANT{}, nullptr));
    CBSDialog::Destroy(dialog);
    EXPECT_EQ(0u, CBSDialog::OpenCount());

    IBSDialog* autoSized = CBSDialog::Create(Params(&seen_, 1));
    ASSERT_NE(nullptr, autoSized);
    EXPECT_FALSE(::GetWindowLongW(autoSized->GetWindowHandle(), GWL_STYLE) & WS_THICKFRAME);
    // Nothing measured yet: resizing to the content fails and leaves the size.
    EXPECT_TRUE(FAILED(autoSized->ResizeWindow(0, 0)));
    EXPECT_EQ(S_OK, autoSized->ResizeWindow(1000, 120)); // capped by the limits
    ::GetWindowRect(autoSized->GetWindowHandle(), &rc);
    EXPECT_EQ(400, rc.right - rc.left);
    EXPECT_EQ(120, rc.bottom - rc.top);
    CBSDialog::Destroy(autoSized);
}

TEST_F(DialogTest, HostObjectAnswersKeysMenusHostInfoAndExternal)
{
    // A page that is not one of the program's own.
    BSDialogParams record = Params(&seen_);
    record.pageUrl = L"about:blank";
    IBSDialog* dialog = CBSDialog::Create(record);
    ASSERT_NE(nullptr, dialog);
    IUnknown* host = static_cast<CBSDialog*>(dialog)->HostObject();
    IDocHostUIHandler* ui = nullptr;
    ASSERT_EQ(S_OK, host->QueryInterface(IID_IDocHostUIHandler, reinterpret_cast<void**>(&ui)));

    MSG key = {};
    key.hwnd = dialog->GetWindowHandle();
    key.message = WM_KEYDOWN;
    for (WPARAM vk : {WPARAM(VK_F5), WPARAM(VK_ESCAPE), WPARAM(VK_F1)}) {
        key.wParam = vk;
        EXPECT_EQ(S_OK, ui->TranslateAccelerator(&key, nullptr, 0)) << vk;
    }
    for (WPARAM vk : {WPARAM('P'), WPARAM(VK_RETURN), WPARAM(VK_LEFT)}) {
        key.wParam = vk; // without Ctrl or Alt these reach the page
        EXPECT_EQ(S_FALSE, ui->TranslateAccelerator(&key, nullptr, 0)) << vk;
    }
    key.message = WM_SYSKEYDOWN; // Alt+Left
    key.wParam = VK_LEFT;
    EXPECT_EQ(S_OK, ui->TranslateAccelerator(&key, nullptr, 0));
    key.message = WM_KEYUP;
    key.wParam = VK_F5;
    EXPECT_EQ(S_FALSE, ui->TranslateAccelerator(&key, nullptr, 0));

    EXPECT_EQ(S_FALSE, ui->ShowContextMenu(CONTEXT_MENU_TEXTSELECT, nullptr, nullptr, nullptr));
    EXPECT_EQ(S_OK, ui->ShowContextMenu(CONTEXT_MENU_DEFAULT, nullptr, nullptr, nullptr));
    EXPECT_EQ(S_OK, ui->ShowContextMenu(CONTEXT_MENU_ANCHOR, nullptr, nullptr, nullptr));

    DOCHOSTUIINFO info = {};
    info.cbSize = sizeof(info);
    info.dwFlags = DOCHOSTUIFLAG_NO3DBORDER;
    ASSERT_EQ(S_OK, ui->GetHostInfo(&info));
    EXPECT_EQ(DWORD(DOCHOSTUIFLAG_NO3DBORDER | 0x40001), info.dwFlags);

    // The download-control ambient property.
    IDispatch* ambient = nullptr;
    ASSERT_EQ(S_OK, host->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambient)));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ScopedVariant dl;
    EXPECT_EQ(S_OK,
              ambient->Invoke(-5512, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, dl.Ptr(), nullptr, nullptr));
    EXPECT_EQ(112, dl.Get().lVal);
    ambient->Release();

    // external exists, but the browser shows no page of the program's own: no command runs.
    IDispatch* external = nullptr;
    ASSERT_EQ(S_OK, ui->GetExternal(&external));
    ASSERT_NE(nullptr, external);
    LPOLESTR name[] = {const_cast<LPOLESTR>(L"callc")};
    DISPID id = 0;
    ASSERT_EQ(S_OK, external->GetIDsOfNames(IID_NULL, name, 1, 0, &id));
    ScopedVariant cmd = ScopedVariant::String(L"quit");
    VARIANT args[1] = {cmd.Get()};
    DISPPARAMS params = {args, nullptr, 1, 0};
    EXPECT_EQ(E_ACCESSDENIED,
              external->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_TRUE(seen_.commands.empty());
    external->Release();
    ui->Release();
    CBSDialog::Destroy(dialog);
}

TEST_F(DialogTest, NavigationAndNewWindowsLeaveForInternetExplorer)
{
    IBSDialog* dialog = CBSDialog::Create(Params(&seen_));
    ASSERT_NE(nullptr, dialog);
    auto* d = static_cast<CBSDialog*>(dialog);
    IUnknown* host = d->HostObject();
    BSTR empty = ::SysAllocString(L"");
    BSTR own = ::SysAllocString(d->StartUrl().c_str());
    BSTR foreign = ::SysAllocString(L"https://evil.example/phish");

    VARIANT_BOOL cancel = VARIANT_FALSE;
    FireEvent(
        host, DISPID_BEFORENAVIGATE2,
        {NoObject(), Bstr(own), Bstr(empty), Bstr(empty), Bstr(empty), Bstr(empty), CancelRef(&cancel)});
    EXPECT_EQ(VARIANT_FALSE, cancel);
    FireEvent(
        host, DISPID_BEFORENAVIGATE2,
        {NoObject(), Bstr(foreign), Bstr(empty), Bstr(empty), Bstr(empty), Bstr(empty), CancelRef(&cancel)});
    EXPECT_EQ(VARIANT_TRUE, cancel);
    ASSERT_EQ(1u, seen_.launched.size());
    EXPECT_EQ(L"https://evil.example/phish", seen_.launched[0]);

    // The first document: the window is centred once and the URL becomes the current one.
    FireEvent(host, DISPID_DOCUMENTCOMPLETE, {NoObject(), Bstr(own)});
    RECT rc;
    ::GetWindowRect(dialog->GetWindowHandle(), &rc);
    EXPECT_NEAR(::GetSystemMetrics(SM_CXSCREEN) / 2, (rc.left + rc.right) / 2, 1);
    EXPECT_NEAR(::GetSystemMetrics(SM_CYSCREEN) / 2, (rc.top + rc.bottom) / 2, 1);
    EXPECT_EQ(NormalizeUrl(d->StartUrl()), d->CurrentUrl());
    ::SetWindowPos(dialog->GetWindowHandle(), nullptr, 5, 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    FireEvent(host, DISPID_DOCUMENTCOMPLETE, {NoObject(), Bstr(own)});
    ::GetWindowRect(dialog->GetWindowHandle(), &rc);
    EXPECT_EQ(5, rc.left); // centred only once

    // The same page again with a fragment does not reload.
    BSTR fragment = ::SysAllocString((d->StartUrl() + L"#top").c_str());
    cancel = VARIANT_FALSE;
    FireEvent(
        host, DISPID_BEFORENAVIGATE2,
        {NoObject(), Bstr(fragment), Bstr(empty), Bstr(empty), Bstr(empty), Bstr(empty), CancelRef(&cancel)});
    EXPECT_EQ(VARIANT_TRUE, cancel);
    EXPECT_EQ(1u, seen_.launched.size());

    // A new window: refused, its URL opened outside.
    cancel = VARIANT_FALSE;
    BSTR popup = ::SysAllocString(L"https://bank.example/help");
    VARIANT flags;
    flags.vt = VT_I4;
    flags.lVal = 0;
    VARIANT ppDisp;
    IDispatch* none = nullptr;
    ppDisp.vt = VT_DISPATCH | VT_BYREF;
    ppDisp.ppdispVal = &none;
    FireEvent(host, DISPID_NEWWINDOW3, {ppDisp, CancelRef(&cancel), flags, Bstr(own), Bstr(popup)});
    EXPECT_EQ(VARIANT_TRUE, cancel);
    ASSERT_EQ(2u, seen_.launched.size());
    EXPECT_EQ(L"https://bank.example/help", seen_.launched[1]);

    for (BSTR s : {empty, own, foreign, fragment, popup})
        ::SysFreeString(s);
    CBSDialog::Destroy(dialog);
}

TEST_F(DialogTest, MessageTableAndCloseEndsTheLoop)
{
    IBSDialog* dialog = CBSDialog::Create(Params(&seen_));
    ASSERT_NE(nullptr, dialog);
    HWND w = dialog->GetWindowHandle();
    ::SendMessageW(w, WM_USER + 3, 17, 0);
    ::SendMessageW(w, WM_USER + 4, 1, 2);
    ::SendMessageW(w, ::RegisterWindowMessageW(L"AssistantNotify"), 1, 2);
    COPYDATASTRUCT data = {1, 0, nullptr};
    EXPECT_EQ(TRUE, ::SendMessageW(w, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)));
    ::SendMessageW(w, WM_COMMAND, IDCANCEL, 0); // Escape: the dialog stays
    EXPECT_TRUE(::IsWindow(w));
    // Marshalled call with a bad operation number.
    EXPECT_EQ(E_FAIL, static_cast<HRESULT>(::SendMessageW(w, WM_USER + 1, 9, 1)));

    // Closing runs quit, destroys the window and, as the last dialog, ends the message loop.
    ::PostMessageW(w, WM_CLOSE, 0, 0);
    MSG msg;
    bool quit = false;
    const DWORD start = ::GetTickCount();
    while (!quit && ::GetTickCount() - start < 5000) {
        if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            quit = msg.message == WM_QUIT;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        } else {
            ::Sleep(5);
        }
    }
    EXPECT_TRUE(quit);
    EXPECT_FALSE(::IsWindow(w));
    EXPECT_EQ(0u, CBSDialog::OpenCount());
    const std::vector<std::wstring> expected = {L"button_notify", L"call_main", L"quit"};
    std::vector<std::wstring> commands;
    for (auto& c : seen_.commands)
        if (c != L"ui_notify")
            commands.push_back(c);
    EXPECT_EQ(expected, commands);
    EXPECT_EQ(17, seen_.firstArgs[0].Get().lVal);
    std::vector<UINT> hooks;
    for (UINT h : seen_.hooks)
        if (h != WM_COMMAND || hooks.empty() || hooks.back() != WM_COMMAND)
            hooks.push_back(h);
    const std::vector<UINT> expectedHooks = {0x8001, WM_COPYDATA, WM_COMMAND, WM_CLOSE};
    EXPECT_EQ(expectedHooks, hooks);
    CBSDialog::Destroy(dialog);
}

class OwnerPresenter : public IMessagePresenter {
public:
    int Present(const MessageRequest& r) override
    {
        owner = r.owner;
        return IDOK;
    }
    HWND owner = nullptr;
};

TEST_F(DialogTest, MainDialogRecordAndConnection)
{
    BSDialogParams record = MainDialogParams({});
    EXPECT_EQ(kBSDialogParamsSize, record.size);
    EXPECT_EQ(200, record.pageResourceId);
    EXPECT_EQ(1, record.autoSize);
    EXPECT_FALSE(record.framed);
    EXPECT_EQ(0, record.maxWidth);
    IBSDialog* dialog = CBSDialog::Create(record);
    ASSERT_NE(nullptr, dialog);
    const DWORD style = static_cast<DWORD>(::GetWindowLongW(dialog->GetWindowHandle(), GWL_STYLE));
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & WS_THICKFRAME); // fitted to the page, not sized by the user
    // Messages without an owner belong to the main window once it is connected.
    OwnerPresenter presenter;
    SetMessagePresenter(&presenter);
    ConnectMainDialog(dialog);
    ShowMessage(L"x", L"", L"t", kIconInformation, nullptr);
    EXPECT_EQ(dialog->GetWindowHandle(), presenter.owner);
    SetMessagePresenter(nullptr);
    ConnectMainDialog(nullptr);
    CBSDialog::Destroy(dialog);
}

} // namespace
