#pragma once
// The backtracking pattern the hosts engine must agree with, for differential tests, the fuzz
// target and the benchmark. Only usable on small texts: std::regex recurses per byte of a match.

#include <regex>
#include <string>
#include <string_view>

namespace Velmora::Assistant::Testing {

inline std::regex HostsReferencePattern(std::string_view name)
{
    std::string escaped;
    for (const char c : name) {
        if (c == '.')
            escaped += '\\';
        escaped += c;
    }
    return std::regex("\\n[\\s\\d\\.]+" + escaped + "\\s*(\\n|#.+\\s\\n)",
                      std::regex::ECMAScript | std::regex::icase);
}

inline bool ReferenceRedirected(const std::string& hostsText, const std::regex& pattern)
{
    return std::regex_search(hostsText, pattern);
}

inline std::string ReferenceRemove(const std::string& hostsText, const std::regex& pattern)
{
    return std::regex_replace(hostsText, pattern, "\n");
}

} // namespace Velmora::Assistant::Testing
