#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace Velmora::Xml {

// The 252 named character entities of HTML 4.01 plus "apos". Names are matched without case; where
// two names differ only in case, the one typed exactly wins, otherwise the first in the table.
std::optional<std::uint32_t> LookupEntity(std::string_view name);

std::size_t EntityCount();

} // namespace Velmora::Xml
