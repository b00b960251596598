#pragma once
// The main dialog as native code sees it, what native code can ask of its page, and the record the
// dialog is created from.

#include "common/variant_win.h"

#include <windows.h>

#include <oaidl.h>

#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace Velmora::UI {

class IBSDialog;

// Serves every command the page runs; `result` is initialised and empty on entry.
using CommandHandler =
    std::function<void(IBSDialog* dialog, const VARIANT& name, const VARIANT& a1, const VARIANT& a2,
                       const VARIANT& a3, const VARIANT& a4, VARIANT* result)>;
using MessageHook = std::function<void(IBSDialog* dialog, UINT code, WPARAM wParam, LPARAM lParam)>;
using MenuProvider = std::function<HMENU(IBSDialog* dialog)>;
// Given the constructed page object before it is handed out.
using ScriptObjectFiller = std::function<void(IDispatch* object)>;

inline constexpr int kBSDialogParamsSize = 64;

struct BSDialogParams {
    int size = kBSDialogParamsSize;
    HWND parent = nullptr;
    std::wstring title;
    BOOL framed = FALSE;
    int autoSize = 0;
    int maxWidth = 0;
    int maxHeight = 0;
    HMODULE resourceModule = nullptr;
    HICON icon = nullptr;
    HMENU menu = nullptr;
    MenuProvider menuProvider;
    int pageResourceId = 0;
    std::wstring pageResourceName;
    std::wstring pageUrl;
    CommandHandler commandHandler;
    MessageHook messageHook;
};

// What native code can ask of the page, declared once: the dialog, the bridge that carries a
// worker's request over to the UI thread, the script site that performs it, and the stand-ins of
// the page (the developer host's, the command-line check's) answer the same operations. One not
// provided answers E_NOTIMPL.
class PageOperations {
public:
    virtual ~PageOperations() = default;
    // `args` follow the automation order: args[0] is the script function's last parameter. Callers
    // use CallPageFunction, which takes the arguments in the page function's own order.
    virtual HRESULT CallScript(const wchar_t* /*function*/, VARIANT* /*args*/, UINT /*count*/,
                               VARIANT* /*result*/)
    {
        return E_NOTIMPL;
    }
    virtual HRESULT SetScriptVariable(const wchar_t* /*name*/, const VARIANT& /*value*/) { return E_NOTIMPL; }
    virtual HRESULT GetScriptVariable(const wchar_t* /*name*/, VARIANT* /*result*/) { return E_NOTIMPL; }
    virtual HRESULT ExecScript(const wchar_t* /*script*/) { return E_NOTIMPL; }
    virtual HRESULT CreateScriptObject(const wchar_t* /*constructor*/, IDispatch** /*object*/,
                                       const ScriptObjectFiller& /*filler*/)
    {
        return E_NOTIMPL;
    }
};

// Calls the page function `function` with `args` in the order the page function takes them
// (first argument first); its answer goes to `result` when one is given.
inline HRESULT CallPageFunction(PageOperations& page, const wchar_t* function,
                                std::initializer_list<ScopedVariant> args = {}, VARIANT* result = nullptr)
{
    std::vector<VARIANT> automationOrder;
    automationOrder.reserve(args.size());
    for (auto arg = std::rbegin(args); arg != std::rend(args); ++arg)
        automationOrder.push_back(arg->Get());
    return page.CallScript(function, automationOrder.data(), static_cast<UINT>(automationOrder.size()),
                           result);
}

class IBSDialog : public PageOperations {
public:
    virtual HWND GetWindowHandle() = 0;
    virtual HWND GetBrowserWindow() = 0;
    virtual HRESULT ResizeWindow(int width, int height) = 0;
    // The dialog's own small command set; the program never uses one, so: not handled.
    virtual int RunBuiltinCommand(const VARIANT& /*name*/, const VARIANT& /*a1*/, const VARIANT& /*a2*/,
                                  const VARIANT& /*a3*/, const VARIANT& /*a4*/, VARIANT* /*result*/)
    {
        return 0;
    }
};

// A dialog whose page operations are another's: every operation goes to Page().
class ForwardingDialog : public IBSDialog {
public:
    HRESULT CallScript(const wchar_t* function, VARIANT* args, UINT count, VARIANT* result) override
    {
        return Page().CallScript(function, args, count, result);
    }
    HRESULT SetScriptVariable(const wchar_t* name, const VARIANT& value) override
    {
        return Page().SetScriptVariable(name, value);
    }
    HRESULT GetScriptVariable(const wchar_t* name, VARIANT* result) override
    {
        return Page().GetScriptVariable(name, result);
    }
    HRESULT ExecScript(const wchar_t* script) override { return Page().ExecScript(script); }
    HRESULT CreateScriptObject(const wchar_t* constructor, IDispatch** object,
                               const ScriptObjectFiller& filler) override
    {
        return Page().CreateScriptObject(constructor, object, filler);
    }

protected:
    virtual PageOperations& Page() = 0;
};

} // namespace Velmora::UI
