#include "net/download_files_win.h"

#include "common/file_write_win.h"
#include "common/last_error_win.h"
#include "common/option_table.h"
#include "common/protected_folder_win.h"
#include "common/scoped_handle_win.h"
#include "common/system_folders_win.h"
#include "net/download_progress.h"

#include <shlwapi.h>

namespace Velmora::Network {

namespace {

// The folder downloads go to, without a trailing separator requirement; empty on failure.
bool DownloadFolder(wchar_t (&folder)[MAX_PATH])
{
    if (Options().Get(kOptionDownloadBesideExe) != 0) {
        const DWORD length = ::GetModuleFileNameW(nullptr, folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return false;
        // "..\Download" after the executable's own name lands beside it. The installers run from
        // there elevated: only administrators may put anything in it.
        if (!::PathAppendW(folder, L"..\\Download"))
            return false;
        return MakeProtectedFolder(folder);
    }
    const DWORD length = ::GetTempPathW(MAX_PATH, folder);
    return length != 0 && length < MAX_PATH;
}

} // namespace

std::wstring MakeDownloadPath(const wchar_t* name)
{
    if (!name)
        return {};
    std::wstring_view fileName;
    if (!DownloadFileName(name, &fileName))
        return {};
    wchar_t path[MAX_PATH] = {};
    if (!DownloadFolder(path))
        return {};
    if (!fileName.empty()) {
        const std::wstring part(fileName);
        if (!::PathAppendW(path, part.c_str()))
            return {};
    }
    return path;
}

namespace {

// Errors of a target that a running program or an open handle holds; any other failure is reported.
bool HeldByAnother(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

std::wstring VolumeOf(const wchar_t* path)
{
    wchar_t volume[MAX_PATH] = {};
    if (!::GetVolumePathNameW(path, volume, MAX_PATH))
        return {};
    return volume;
}

} // namespace

HRESULT ReplaceFile(const wchar_t* source, const wchar_t* target)
{
    if (!FileExists(source))
        return E_FAIL;
    // One step replaces an idle target, so it never goes missing in between; from another volume the
    // move copies the file and then deletes the source.
    constexpr DWORD kMove = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
    if (::MoveFileExW(source, target, kMove))
        return S_OK;
    const DWORD moveError = ::GetLastError();
    if (!HeldByAnother(moveError) || !FileExists(target))
        return FailureHresult(moveError);

    // The target is in use: step it aside as "<target>.old" and take its place.
    const std::wstring old = std::wstring(target) + L".old";
    ::SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(old.c_str());
    if (::MoveFileW(target, old.c_str())) {
        if (!::MoveFileExW(source, target, kMove)) {
            const DWORD error = ::GetLastError();
            ::MoveFileW(old.c_str(), target); // put the original back
            return FailureHresult(error);
        }
        ::MoveFileExW(old.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return S_OK;
    }

    // Not even renamable: replace it at the next start. A move at start cannot cross volumes, so a
    // source elsewhere waits as "<target>.new" beside the target.
    std::wstring pending = source;
    const std::wstring volume = VolumeOf(source);
    if (volume.empty() || _wcsicmp(volume.c_str(), VolumeOf(target).c_str()) != 0) {
        pending = std::wstring(target) + L".new";
        ::SetFileAttributesW(pending.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::CopyFileW(source, pending.c_str(), FALSE))
            return LastErrorHresult();
    }
    if (!::MoveFileExW(pending.c_str(), target, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = ::GetLastError();
        if (pending != source)
            ::DeleteFileW(pending.c_str());
        return FailureHresult(error);
    }
    if (pending != source)
        ::DeleteFileW(source);
    return 1;
}

std::wstring ExpandPath(const std::wstring& text)
{
    std::wstring expanded = ExpandSystemPath(text);
    if (expanded.size() >= MAX_PATH)
        return {};
    return expanded;
}

bool FileExists(const wchar_t* path)
{
    const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    const DWORD attributes = ::GetFileAttributesW(path);
    ::SetErrorMode(previous);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

HRESULT ReadWholeFile(const wchar_t* path, std::string* bytes, DWORD flagsAndAttributes)
{
    bytes->clear();
    ScopedHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    flagsAndAttributes, nullptr));
    if (!file)
        return LastErrorHresult();
    return ReadWholeFile(file.Get(), bytes);
}

HRESULT ReadWholeFile(HANDLE file, std::string* bytes)
{
    bytes->clear();
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file, &size))
        return LastErrorHresult();
    if (size.QuadPart > MAXDWORD - 1)
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    std::string data(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!data.empty() && !::ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &read, nullptr))
        return LastErrorHresult();
    if (read != data.size())
        return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    *bytes = std::move(data);
    return S_OK;
}

HRESULT WriteWholeFile(const wchar_t* path, const std::string& bytes, DWORD attributes)
{
    if (bytes.size() > MAXDWORD)
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    ScopedHandle file(
        ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, attributes, nullptr));
    if (!file)
        return LastErrorHresult();
    return WriteAll(file.Get(), bytes);
}

} // namespace Velmora::Network
