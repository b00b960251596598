#pragma once
// Writing whole files, and replacing a file so that at every moment either its old or its whole new
// content is in place.

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace Velmora {

// All of `bytes` written to the open `file` at its position.
HRESULT WriteAll(HANDLE file, std::string_view bytes);

struct FileReplacement {
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;      // of the new file
    const SECURITY_ATTRIBUTES* security = nullptr; // the new file is created with it (none: inherited)
    // Called with the new file, written, flushed and closed, just before it takes the old one's
    // place; false stops the replacement.
    std::function<bool(const std::wstring& newFile)> prepare;
};

// Replaces the file `path` (or creates it) with `bytes`: the new file is created beside it as
// `path` + ".new" (whatever was left under that name goes first, never written through), written,
// flushed, and moved over `path` in one step. On a failure `path` is as it was and no new file stays.
HRESULT ReplaceWholeFile(const std::wstring& path, std::string_view bytes, const FileReplacement& how = {});

} // namespace Velmora
