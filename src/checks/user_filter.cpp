#include "checks/user_filter.h"

#include <algorithm>

namespace Velmora::Assistant {
namespace {

constexpr std::size_t kCountOffset = 8;
constexpr std::size_t kLengthOffset = 12;
constexpr std::size_t kSecondCountOffset = 20;
constexpr std::size_t kRecordFixedSize = 18; // marker, file time, flag, length

std::uint32_t Read32(std::string_view data, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + i])) << (8 * i);
    return value;
}

std::uint16_t Read16(std::string_view data, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(data[at]) |
                                      static_cast<unsigned char>(data[at + 1]) << 8);
}

void Put(std::string& out, std::uint64_t value, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void Write32(std::string& data, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        data[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

char16_t AsciiFold(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Walks the records that fit; returns the offset after the last one and whether all counted
// records were found.
template <typename Visit> bool WalkRecords(std::string_view data, Visit&& visit, std::size_t* end)
{
    *end = kUserFilterHeaderSize;
    if (data.size() < kUserFilterHeaderSize)
        return false;
    const std::uint32_t count = Read32(data, kCountOffset);
    std::size_t at = kUserFilterHeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (data.size() - at < kRecordFixedSize)
            return false;
        const std::size_t length = Read16(data, at + 16);
        if (data.size() - at - kRecordFixedSize < 2 * length)
            return false;
        visit(data.substr(at + kRecordFixedSize, 2 * length));
        at += kRecordFixedSize + 2 * length;
        *end = at;
    }
    return true;
}

std::u16string Domain(std::string_view bytes)
{
    std::u16string domain(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < domain.size(); ++i)
        domain[i] = static_cast<char16_t>(Read16(bytes, 2 * i));
    return domain;
}

} // namespace

std::string EmptyUserFilter()
{
    std::string data;
    for (std::uint32_t value : {kUserFilterMagic, kUserFilterVersion, 0u, 12u, 1u, 0u})
        Put(data, value, 4);
    return data;
}

std::vector<std::u16string> UserFilterDomains(std::string_view data)
{
    std::vector<std::u16string> domains;
    std::size_t end = 0;
    WalkRecords(
        data, [&](std::string_view bytes) { domains.push_back(Domain(bytes)); }, &end);
    return domains;
}

bool UserFilterContains(std::string_view data, std::u16string_view domain)
{
    bool found = false;
    std::size_t end = 0;
    WalkRecords(
        data,
        [&](std::string_view bytes) {
            const std::u16string stored = Domain(bytes);
            // An empty record would otherwise stand for every site.
            if (found || stored.empty() || stored.size() > domain.size())
                return;
            found = std::equal(stored.begin(), stored.end(), domain.begin(),
                               [](char16_t a, char16_t b) { return AsciiFold(a) == AsciiFold(b); });
        },
        &end);
    return found;
}

bool IsWellFormedUserFilter(std::string_view data)
{
    std::size_t end = 0;
    if (!WalkRecords(
            data, [](std::string_view) {}, &end))
        return false;
    return Read32(data, 0) == kUserFilterMagic && Read32(data, 4) == kUserFilterVersion &&
           Read32(data, kSecondCountOffset) == Read32(data, kCountOffset) && end == data.size() &&
           Read32(data, kLengthOffset) == data.size() - kLengthOffset;
}

bool AppendUserFilter(std::string& data, std::u16string_view domain)
{
    if (domain.empty() || domain.size() > 0xFFFF || !IsWellFormedUserFilter(data))
        return false;
    const std::uint64_t grown = data.size() + kRecordFixedSize + 2 * domain.size();
    const std::uint32_t count = Read32(data, kCountOffset);
    if (grown - kLengthOffset > 0xFFFFFFFFull || count == 0xFFFFFFFFu)
        return false;
    Write32(data, kCountOffset, count + 1);
    Write32(data, kSecondCountOffset, count + 1);
    Write32(data, kLengthOffset, static_cast<std::uint32_t>(grown - kLengthOffset));
    Put(data, 12, 4);
    Put(data, kUserFilterFileTime, 8);
    Put(data, 1, 4);
    Put(data, domain.size(), 2);
    for (char16_t c : domain)
        Put(data, c, 2);
    return true;
}

} // namespace Velmora::Assistant
