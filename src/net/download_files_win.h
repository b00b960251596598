#pragma once
// Files on the download path: where downloads go, moving a finished download over a file that may
// be in use, and whole-file reads and writes.

#include <windows.h>

#include <string>

namespace Velmora::Network {

// Path a download of `name` (a URL or a file name) is stored at. With option 1004 on: the folder
// "Download" beside the executable (created when missing); otherwise the user's temporary folder.
// An empty name gives the folder itself; a null name, or one that could leave the folder, gives
// an empty path.
std::wstring MakeDownloadPath(const wchar_t* name);

// Moves `source` over `target`, also from another volume. 0 when done now (a target in use is
// renamed to "<target>.old", which is deleted at the next restart); 1 when the replacement itself
// had to be scheduled for the next restart (a source on another volume then waits as
// "<target>.new" beside the target); otherwise the error of the failed move as an HRESULT
// (E_FAIL when `source` is missing). The target is never left missing.
HRESULT ReplaceFile(const wchar_t* source, const wchar_t* target);

// Variables expanded, the system's folders from the system (ExpandSystemPath); empty when the result
// does not fit MAX_PATH or a folder it names cannot be had.
std::wstring ExpandPath(const std::wstring& text);

// True when `path` names something that is not a directory. Never shows a critical-error dialog.
bool FileExists(const wchar_t* path);

HRESULT ReadWholeFile(const wchar_t* path, std::string* bytes, DWORD flagsAndAttributes = 0);
HRESULT WriteWholeFile(const wchar_t* path, const std::string& bytes,
                       DWORD attributes = FILE_ATTRIBUTE_NORMAL);
// The same on a file the caller opened (read from the start).
HRESULT ReadWholeFile(HANDLE file, std::string* bytes);

} // namespace Velmora::Network
