#pragma once
// The rule of `dns` entries: a name resolves only to the addresses its `ip` attribute expects.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::Assistant {

// `ip` split at every "|": empty pieces between separators count, an empty last piece is dropped.
std::vector<std::string> SplitExpectedAddresses(std::string_view ip);

// 2 when something was resolved and every resolved address is, as exact text, in `expected`;
// otherwise -2.
std::int32_t CompareResolvedAddresses(const std::vector<std::string>& resolved,
                                      const std::vector<std::string>& expected);

} // namespace Velmora::Assistant
