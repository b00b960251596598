#include "common/file_write_win.h"

#include "common/last_error_win.h"
#include "common/scoped_handle_win.h"

namespace Velmora {

HRESULT WriteAll(HANDLE file, std::string_view bytes)
{
    if (bytes.size() > MAXDWORD)
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    DWORD written = 0;
    if (!bytes.empty() &&
        !::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        return LastErrorHresult();
    if (written != bytes.size())
        return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    return S_OK;
}

HRESULT ReplaceWholeFile(const std::wstring& path, std::string_view bytes, const FileReplacement& how)
{
    const std::wstring temporary = path + L".new";
    ::SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(temporary.c_str());
    HRESULT status = S_OK;
    {
        ScopedHandle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0,
                                        const_cast<SECURITY_ATTRIBUTES*>(how.security), CREATE_NEW,
                                        how.attributes, nullptr));
        if (!file)
            return LastErrorHresult();
        status = WriteAll(file.Get(), bytes);
        if (SUCCEEDED(status) && !::FlushFileBuffers(file.Get()))
            status = LastErrorHresult();
    }
    if (SUCCEEDED(status) && how.prepare && !how.prepare(temporary))
        status = E_FAIL;
    if (SUCCEEDED(status) &&
        !::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        status = LastErrorHresult();
    if (FAILED(status)) {
        ::SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(temporary.c_str());
    }
    return status;
}

} // namespace Velmora
