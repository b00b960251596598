// Feeds arbitrary text to the notice-file reader. A list it accepts must be within the count limit,
// hold only well-formed UTF-8, and come back unchanged when written out again as a notice file.
#include "checks/notice_list.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace Velmora::Assistant;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Decodes `text` strictly: no overlong forms, no surrogates, nothing past U+10FFFF, no cut sequence.
bool IsWellFormedUtf8(const std::string& text)
{
    for (std::size_t pos = 0; pos < text.size();) {
        const auto lead = static_cast<unsigned char>(text[pos]);
        std::size_t length = 1;
        std::uint32_t codePoint = lead;
        if (lead >= 0xF0) {
            length = 4;
            codePoint = lead & 0x07;
        } else if (lead >= 0xE0) {
            length = 3;
            codePoint = lead & 0x0F;
        } else if (lead >= 0xC0) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if (lead >= 0x80) {
            return false;
        }
        if (lead >= 0xF8 || text.size() - pos < length)
            return false;
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[pos + i]);
            if ((next & 0xC0) != 0x80)
                return false;
            codePoint = codePoint << 6 | (next & 0x3F);
        }
        static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < kLeast[length] || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        pos += length;
    }
    return true;
}

// The list written out as a notice file, each string double-quoted with every control character,
// quote, backslash and line or paragraph separator escaped.
std::string NoticeFile(const std::vector<std::string>& notices)
{
    std::string file = "window.notices = [";
    for (const std::string& notice : notices) {
        file += '"';
        for (std::size_t i = 0; i < notice.size(); ++i) {
            const auto byte = static_cast<unsigned char>(notice[i]);
            const std::string_view rest = std::string_view(notice).substr(i);
            if (byte == '"' || byte == '\\') {
                file += '\\';
                file += static_cast<char>(byte);
            } else if (byte < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                file += escaped;
            } else if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) {
                file += rest[2] == '\xA8' ? "\\u2028" : "\\u2029";
                i += 2;
            } else {
                file += static_cast<char>(byte);
            }
        }
        file += "\",";
    }
    file += "];";
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // An exact-length copy, so that reading past the end shows up under ASan.
    const auto exact = std::make_unique<char[]>(size);
    std::copy(data, data + size, exact.get());
    const auto notices = ParseNoticeList(std::string_view(exact.get(), size));
    if (!notices)
        return 0;
    Check(notices->size() <= kNoticeListMaxCount);
    for (const std::string& notice : *notices)
        Check(IsWellFormedUtf8(notice));

    const std::string file = NoticeFile(*notices);
    // Escaping can lengthen a text that was near the limit past it; such a file is refused by design.
    if (file.size() > kNoticeTextMaxBytes)
        return 0;
    const auto exactFile = std::make_unique<char[]>(file.size());
    std::copy(file.begin(), file.end(), exactFile.get());
    const auto again = ParseNoticeList(std::string_view(exactFile.get(), file.size()));
    Check(again.has_value() && *again == *notices);
    return 0;
}
