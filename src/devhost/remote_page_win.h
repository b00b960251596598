#pragma once
// The page in a browser as native code sees it: a dialog without a window whose page operations go
// over the page channel, the messages of the program shown by the page, and the page's values as
// automation values.

#include "common/message_box_win.h"
#include "devhost/page_channel.h"
#include "ui/ibs_dialog_win.h"

#include <oaidl.h>

namespace Velmora::DevHost {

// A page value on the wire: JSON, with undefined as {"$":"undefined"} and an object or function,
// which cannot cross, as {"$":"object"}.
Json WireFromVariant(const VARIANT& value);
// The automation value the page's script engine would pass: an integer in 32 bits as VT_I4, any
// other number as VT_R8, undefined and objects as VT_EMPTY, null as VT_NULL. `out` is initialised.
void VariantFromWire(const Json& value, VARIANT* out);

class RemotePage final : public UI::IBSDialog {
public:
    explicit RemotePage(PageChannel& channel) : channel_(channel) {}

    HWND GetWindowHandle() override { return nullptr; }
    HWND GetBrowserWindow() override { return nullptr; }
    HRESULT ResizeWindow(int, int) override { return E_NOTIMPL; }
    HRESULT CallScript(const wchar_t* function, VARIANT* args, UINT count, VARIANT* result) override;
    HRESULT SetScriptVariable(const wchar_t* name, const VARIANT& value) override;
    HRESULT GetScriptVariable(const wchar_t* name, VARIANT* result) override;
    HRESULT ExecScript(const wchar_t* script) override;
    // No page object can be handed to native code over the wire.
    HRESULT CreateScriptObject(const wchar_t*, IDispatch**, const UI::ScriptObjectFiller&) override
    {
        return E_NOTIMPL;
    }

    // A callback the page handed to an asynchronous call, called with `result`.
    HRESULT CallCallback(const std::string& callback, const VARIANT& result);

private:
    PageChannel& channel_;
};

// Messages and questions as dialogs of the page (alert and confirm).
class RemotePresenter final : public UI::IMessagePresenter {
public:
    explicit RemotePresenter(PageChannel& channel) : channel_(channel) {}
    int Present(const UI::MessageRequest& request) override;

private:
    PageChannel& channel_;
};

} // namespace Velmora::DevHost
