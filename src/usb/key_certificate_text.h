#pragma once
// The text record of a key's certificate: serial number, issuer, subject and validity, separated by
// ";". All texts UTF-8.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::Usb {

struct CalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

// The serial as stored in a decoded certificate (least significant byte first), most significant
// first in lower-case hex.
std::string SerialText(std::span<const std::uint8_t> leastSignificantFirst);

// From a reversed X.500 name text: the text after the first "CN=" up to the next ",", or the whole
// text when it has no "CN=".
std::string CommonNameOrWhole(std::string_view nameText);

// "2020年01月05日到2025年01月05日"
std::string ValidityText(const CalendarDate& from, const CalendarDate& to);

std::string CertificateRecord(std::string_view serial, std::string_view issuer, std::string_view subject,
                              std::string_view validity);

// The pieces between the ";"s (an empty text is one empty piece).
std::vector<std::string> SplitRecord(std::string_view record);

} // namespace Velmora::Usb
