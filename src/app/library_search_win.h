#pragma once
// This program runs elevated, so it must never pick up a library planted in the current folder or
// in a PATH folder. Libraries come from the application folder and system32 only.

#include "common/scoped_handle_win.h"
#include "common/system_folders_win.h"

#include <string>

namespace Velmora {

// Takes the current folder and PATH out of the library search, and makes the delay-imported system
// libraries load from system32 only. True when the search is limited to the application folder and system32
// (needs SetDefaultDllDirectories, looked up at run time because early Windows 7 systems lack it).
// Call before anything else is loaded.
bool RestrictLibrarySearch();

// The two companion libraries of the product family, loaded from their installed place (the
// machine's common-files folder) when present and kept loaded for the life of the process. None of
// their functions is called.
class CompanionLibraries {
public:
    void Load();
    bool IsLoaded(int index) const { return index >= 0 && index < kCount && modules_[index].IsValid(); }
    static constexpr int kCount = 2;

private:
    ScopedModule modules_[kCount];
};

} // namespace Velmora
