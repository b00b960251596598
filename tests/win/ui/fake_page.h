#pragma once
// Stand-ins for the page's script (Wine's browser control never loads a document) and a headless
// dialog whose message-only window serves marshalled page calls like the real one.

#include "common/variant_win.h"
#include "ui/com_class_win.h"
#include "ui/ibs_dialog_win.h"
#include "ui/script_bridge_win.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Velmora::UI::Testing {

VELMORA_COM_CLASSES_BEGIN
// An automation object with named methods and properties, recording every call.
class FakeDispatch : public IDispatch {
public:
    // Arguments in script order (first parameter first).
    using Method = std::function<void(const std::vector<ScopedVariant>& args, VARIANT* result)>;

    struct Call {
        std::wstring name;
        std::vector<ScopedVariant> args;
        DWORD thread = 0;
    };

    FakeDispatch() = default;
    void Define(const std::wstring& name, Method method);
    void SetProperty(const std::wstring& name, const VARIANT& value);
    ScopedVariant Property(const std::wstring& name);
    std::vector<Call> Calls();
    std::vector<Call> CallsOf(const std::wstring& name);

    // Threads that released a reference (page objects belong to the UI thread).
    class ThreadLog {
    public:
        void push(DWORD id)
        {
            std::lock_guard<std::mutex> g(lock_);
            ids_.push_back(id);
        }
        std::vector<DWORD> get()
        {
            std::lock_guard<std::mutex> g(lock_);
            return ids_;
        }

    private:
        std::mutex lock_;
        std::vector<DWORD> ids_;
    } releaseThreads;

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

protected:
    virtual ~FakeDispatch() = default;

private:
    DISPID IdOf(const std::wstring& name);

    std::atomic<ULONG> refs_{1};
    std::mutex lock_;
    std::vector<std::wstring> names_;
    std::map<std::wstring, Method> methods_;
    std::map<std::wstring, ScopedVariant> properties_;
    std::vector<Call> calls_;
};
VELMORA_COM_CLASSES_END

// A script callback: its `call` member records (this, result) and runs `onCall`.
FakeDispatch* NewCallback(std::function<void(const VARIANT& result)> onCall);

// Headless IBSDialog: a message-only window on the creating thread serves WM_USER+1.
class HeadlessDialog : public IBSDialog {
public:
    HeadlessDialog();
    ~HeadlessDialog() override;
    HeadlessDialog(const HeadlessDialog&) = delete;
    HeadlessDialog& operator=(const HeadlessDialog&) = delete;

    std::shared_ptr<ScriptBridge> Bridge() { return bridge_; }
    // Hands the page's script object to the bridge (as the first document-complete does).
    void LoadPage(IDispatch* page) { bridge_->Site().SetScript(page); }

    HWND GetWindowHandle() override { return window_; }
    HWND GetBrowserWindow() override { return nullptr; }
    HRESULT ResizeWindow(int, int) override { return E_NOTIMPL; }
    HRESULT CallScript(const wchar_t* function, VARIANT* args, UINT count, VARIANT* result) override
    {
        return bridge_->CallScript(function, args, count, result);
    }
    HRESULT SetScriptVariable(const wchar_t* name, const VARIANT& value) override
    {
        return bridge_->SetScriptVariable(name, value);
    }
    HRESULT GetScriptVariable(const wchar_t* name, VARIANT* result) override
    {
        return bridge_->GetScriptVariable(name, result);
    }
    HRESULT ExecScript(const wchar_t* script) override { return bridge_->ExecScript(script); }
    HRESULT CreateScriptObject(const wchar_t* constructor, IDispatch** object,
                               const ScriptObjectFiller& filler) override
    {
        return bridge_->CreateScriptObject(constructor, object, filler);
    }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    HWND window_ = nullptr;
    std::shared_ptr<ScriptBridge> bridge_ = std::make_shared<ScriptBridge>();
};

// Pumps this thread's messages until `done` answers true or `timeoutMs` passed; answers `done()`.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

} // namespace Velmora::UI::Testing
