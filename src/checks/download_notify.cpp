#include "checks/download_notify.h"

#include <charconv>
#include <string>

namespace Velmora::Assistant {
namespace {

bool ReadUnsigned64(std::string_view text, std::uint64_t* value)
{
    *value = 0;
    const char* end = text.data() + text.size();
    const auto [next, error] = std::from_chars(text.data(), end, *value, 10);
    if (error != std::errc() || next != end) {
        *value = 0;
        return false;
    }
    return true;
}

} // namespace

void SetDownloadNotify(ConfigEntry& entry, DownloadNotifyFn function, std::int32_t userValue)
{
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(function));
    const auto para = static_cast<std::uint64_t>(static_cast<std::int64_t>(userValue));
    entry.Attributes.Set(kDownloadNotifyAttribute, std::to_string(address));
    entry.Attributes.Set(kDownloadParaAttribute, std::to_string(para));
}

DownloadNotify GetDownloadNotify(const ConfigEntry& entry)
{
    DownloadNotify notify;
    std::uint64_t address = 0;
    if (!ReadUnsigned64(entry.Attributes.Get(kDownloadNotifyAttribute), &address))
        return notify;
    const auto pointer = static_cast<std::uintptr_t>(address);
    if (address != 0 && static_cast<std::uint64_t>(pointer) == address) {
        notify.function = reinterpret_cast<DownloadNotifyFn>(pointer);
        std::uint64_t para = 0;
        ReadUnsigned64(entry.Attributes.Get(kDownloadParaAttribute), &para);
        notify.userValue = static_cast<std::uint32_t>(para);
    }
    return notify;
}

} // namespace Velmora::Assistant
