#include "net/download_progress.h"

#include <limits>

namespace Velmora::Network {

std::uint32_t ClampToUint32(std::uint64_t value)
{
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(value > kMax ? kMax : value);
}

DownloadProgress MakeDownloadProgress(DownloadReport kind, std::uint32_t first, std::uint32_t second,
                                      const wchar_t* url, const wchar_t* filePath, std::uint32_t userValue)
{
    DownloadProgress out;
    out.url = url;
    out.filePath = filePath;
    out.total = second;
    out.userValue = userValue;
    if (kind == DownloadReport::Progress || kind == DownloadReport::Finished) {
        out.received = first;
        // A zero total only comes from a broken report; treat it like "no length known".
        const std::uint64_t total = second == 0 ? 1 : second;
        out.percent = ClampToUint32(std::uint64_t{first} * 100 / total);
        out.percentValid = true;
    }
    return out;
}

bool DownloadFileName(std::wstring_view name, std::wstring_view* fileName)
{
    const std::size_t slash = name.find_last_of(L"/\\");
    const std::wstring_view tail = slash == std::wstring_view::npos ? name : name.substr(slash + 1);
    if (tail == L"." || tail == L".." || tail.find(L':') != std::wstring_view::npos)
        return false;
    *fileName = tail;
    return true;
}

} // namespace Velmora::Network
