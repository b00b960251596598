#pragma once
// The header that starts every line of the log file: process id, then local time with
// milliseconds. The three zeros after the milliseconds are part of the format that readers of
// existing logs expect.

#include <string>
#include <string_view>

namespace Velmora {

struct LogTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// "(pid) yyyy/mm/dd hh:mm:ss.mmm000: "
std::string FormatLogHeader(unsigned long processId, const LogTime& time);

// One complete line as it goes to disk: the header when wanted, the text bytes unchanged, CRLF.
std::string FormatLogLine(unsigned long processId, const LogTime& time, bool withHeader,
                          std::string_view text);

} // namespace Velmora
