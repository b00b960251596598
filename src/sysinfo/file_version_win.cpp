#include "sysinfo/file_version_win.h"

#include <cstring>
#include <vector>

namespace Velmora {

bool ReadFileVersion(const std::wstring& path, VS_FIXEDFILEINFO* out)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0)
        return false;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
        return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoLength = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoLength) || !info ||
        infoLength < sizeof(VS_FIXEDFILEINFO))
        return false;
    if (out)
        std::memcpy(out, info, sizeof(VS_FIXEDFILEINFO));
    return true;
}

} // namespace Velmora
