#include "usb/key_certificate_text.h"

#include <cstdio>

namespace Velmora::Usb {

std::string SerialText(std::span<const std::uint8_t> leastSignificantFirst)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (auto it = leastSignificantFirst.rbegin(); it != leastSignificantFirst.rend(); ++it) {
        out.push_back(kDigits[*it >> 4]);
        out.push_back(kDigits[*it & 0x0F]);
    }
    return out;
}

std::string CommonNameOrWhole(std::string_view nameText)
{
    const std::size_t cn = nameText.find("CN=");
    if (cn == std::string_view::npos)
        return std::string(nameText);
    const std::string_view rest = nameText.substr(cn + 3);
    return std::string(rest.substr(0, rest.find(',')));
}

std::string ValidityText(const CalendarDate& from, const CalendarDate& to)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%d年%02d月%02d日到%d年%02d月%02d日", from.year, from.month,
                  from.day, to.year, to.month, to.day);
    return buffer;
}

std::string CertificateRecord(std::string_view serial, std::string_view issuer, std::string_view subject,
                              std::string_view validity)
{
    std::string out(serial);
    for (std::string_view field : {issuer, subject, validity}) {
        out += ';';
        out += field;
    }
    return out;
}

std::vector<std::string> SplitRecord(std::string_view record)
{
    std::vector<std::string> pieces;
    for (;;) {
        const std::size_t semicolon = record.find(';');
        pieces.emplace_back(record.substr(0, semicolon));
        if (semicolon == std::string_view::npos)
            return pieces;
        record.remove_prefix(semicolon + 1);
    }
}

} // namespace Velmora::Usb
