#pragma once
// The start-up the three programs share (the window, the command-line check and the developer
// host): the folder the check document's paths may name, the single-instance object, the cipher
// and digest tables, COM, the options, and the command services. Each program adds only what is
// its own.

#include "checks/digest.h"
#include "ui/command_handler_win.h"

#include <windows.h>

#include <optional>
#include <string>

namespace Velmora {

struct ProgramStartOptions {
    // The window's browser control needs OLE on the UI thread; the others take COM.
    bool ole = false;
    // A check document named on the command line: that document or nothing. Empty: the configured
    // source, which may fall back to its kept copy.
    std::wstring configOverride;
};

class ProgramStart {
public:
    explicit ProgramStart(ProgramStartOptions options);
    ProgramStart(const ProgramStart&) = delete;
    ProgramStart& operator=(const ProgramStart&) = delete;
    ~ProgramStart();

    // S_OK when this is the only copy of any of the three and the program may run; S_FALSE when
    // another one runs; a failure status when that cannot be told. Nothing else is set up unless
    // S_OK.
    HRESULT Status() const { return status_; }

    // The command services of the program: the engine's and the shell's, with the command line's
    // document.
    UI::CommandServices Services() const;

private:
    const ProgramStartOptions options_;
    HRESULT status_ = E_FAIL;
    std::optional<Assistant::ScopedCryptoAlgorithms> algorithms_;
    HRESULT com_ = E_FAIL;
};

// The engine's command services and the shell's together, as every program runs them.
UI::CommandServices ProgramServices();

} // namespace Velmora
