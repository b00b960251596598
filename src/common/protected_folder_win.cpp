#include "common/protected_folder_win.h"

#include "common/scoped_handle_win.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace Velmora {
namespace {

// Administrators and SYSTEM full control, users read and run; inherited by the files and folders
// below, and protected from the parent's entries.
constexpr wchar_t kProtectedFolderSecurity[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

bool IsPlainFolder(const std::wstring& folder)
{
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

} // namespace

bool MakeProtectedFolder(const std::wstring& folder)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtectedFolderSecurity, SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    const ScopedLocal descriptorOwner(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    if (CreateDirectoryW(folder.c_str(), &attributes))
        return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS || !IsPlainFolder(folder))
        return false;

    BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof administrators;
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size))
        SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION, administrators, nullptr, nullptr, nullptr);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    return GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present &&
           SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, dacl, nullptr) == ERROR_SUCCESS &&
           IsPlainFolder(folder); // not swapped for a link meanwhile
}

} // namespace Velmora
