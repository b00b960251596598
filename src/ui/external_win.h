#pragma once
// The page's `external` object: a plain automation object whose four methods (getCom, callc,
// asyncallc, asyncalld) hand page commands to the dialog's command handler.

#include "common/variant_win.h"
#include "ui/ibs_dialog_win.h"
#include "ui/script_bridge_win.h"
#include "ui/thread_parameter.h"

#include <oaidl.h>

#include <functional>
#include <memory>

namespace Velmora::UI {

enum ExternalDispId : DISPID {
    kDispGetCom = 1,
    kDispCallc = 2,
    kDispAsyncallc = 3,
    kDispAsyncalld = 4,
};

struct ExternalTarget {
    IBSDialog* dialog = nullptr;
    // What asynchronous commands see as their dialog. It may outlive the dialog itself (a worker can
    // still be running when the window goes), so it is shared; none: `dialog` is used.
    std::shared_ptr<IBSDialog> workerDialog;
    CommandHandler handler;
    std::shared_ptr<ScriptBridge> bridge;
    // Asked at every call: only the program's own page gets native commands. None: always allowed.
    std::function<bool()> allowed;
};

// A new `external` object with one reference for the caller.
HRESULT CreateExternal(ExternalTarget target, IDispatch** out);

// One asynchronous page command: runs the handler on the worker thread, then hands the result to the
// page callback on the UI thread and waits for it to return.
class ExternalAsyncThread final : public Model::IThreadParameter {
public:
    ExternalAsyncThread(std::shared_ptr<IBSDialog> dialog, CommandHandler handler,
                        std::shared_ptr<ScriptBridge> bridge, const VARIANT& callback, const VARIANT& name,
                        const VARIANT& a1, const VARIANT& a2, const VARIANT& a3, const VARIANT& a4,
                        bool queuedItem);
    ExternalAsyncThread(const ExternalAsyncThread&) = delete;
    ExternalAsyncThread& operator=(const ExternalAsyncThread&) = delete;
    ~ExternalAsyncThread() override;

    void Run() override;

private:
    std::shared_ptr<IBSDialog> dialog_;
    CommandHandler handler_;
    std::shared_ptr<ScriptBridge> bridge_;
    IDispatch* callback_ = nullptr; // one reference, or none when the page gave no object
    ScopedVariant name_, a1_, a2_, a3_, a4_;
};

} // namespace Velmora::UI
