#include "app/log_line.h"

#include <cstdio>

namespace Velmora {

std::string FormatLogHeader(unsigned long processId, const LogTime& time)
{
    char buffer[96];
    const int length = std::snprintf(
        buffer, sizeof buffer, "(%d) %04d/%02d/%02d %02d:%02d:%02d.%03d000: ", static_cast<int>(processId),
        time.year, time.month, time.day, time.hour, time.minute, time.second, time.millisecond);
    if (length <= 0)
        return {};
    return std::string(buffer, static_cast<size_t>(length) < sizeof buffer ? static_cast<size_t>(length)
                                                                           : sizeof buffer - 1);
}

std::string FormatLogLine(unsigned long processId, const LogTime& time, bool withHeader,
                          std::string_view text)
{
    std::string line = withHeader ? FormatLogHeader(processId, time) : std::string();
    line.append(text);
    line.append("\r\n");
    return line;
}

} // namespace Velmora
