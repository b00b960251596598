#pragma once
// The main dialog as native code sees it, and the record it is created from.

#include <windows.h>

#include <oaidl.h>

#include <functional>
#include <string>

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

class IBSDialog {
public:
    virtual ~IBSDialog() = default;
    virtual HWND GetWindowHandle() = 0;
    virtual HWND GetBrowserWindow() = 0;
    virtual HRESULT ResizeWindow(int width, int height) = 0;
    // The dialog's own small command set; the program never uses one, so: not handled.
    virtual int RunBuiltinCommand(const VARIANT& /*name*/, const VARIANT& /*a1*/, const VARIANT& /*a2*/,
                                  const VARIANT& /*a3*/, const VARIANT& /*a4*/, VARIANT* /*result*/)
    {
        return 0;
    }
    // `args` follow the automation order: args[0] is the script function's last parameter.
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

} // namespace Velmora::UI
