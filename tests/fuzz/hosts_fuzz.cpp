// Runs the hosts engine and the backtracking pattern it stands for on the same small input and
// stops on any difference in the answer or in the repaired text. The first byte gives the name's
// length; the name's bytes are mapped onto host-name characters; the rest is the hosts file.
#include "checks/hosts_matcher.h"

#include "host/checks/hosts_reference.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace Velmora::Assistant;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The pattern recurses per byte it matches; keep it far from its stack limit.
    if (size < 2 || size > 400)
        return 0;
    static const char kNameChars[] = "abAB09.-xX1";
    const auto nameChar = [](std::uint8_t byte) {
        const bool hostChar = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                              (byte >= '0' && byte <= '9') || byte == '.' || byte == '-';
        return hostChar ? static_cast<char>(byte) : kNameChars[byte % (sizeof kNameChars - 1)];
    };
    const std::size_t nameLength = 1 + data[0] % 8;
    if (size < 1 + nameLength)
        return 0;
    std::string name;
    for (std::size_t i = 1; i <= nameLength; ++i)
        name += nameChar(data[i]);
    const std::string file(reinterpret_cast<const char*>(data) + 1 + nameLength, size - 1 - nameLength);

    bool crLf = false;
    const std::string text = LoadHostsText(file, &crLf);
    const std::regex pattern = Velmora::Assistant::Testing::HostsReferencePattern(name);
    const bool expected = Velmora::Assistant::Testing::ReferenceRedirected(text, pattern);
    if (IsHostRedirected(text, name) != expected)
        std::abort();
    std::string repaired = text;
    if (RemoveHostRedirects(repaired, name) != expected ||
        repaired != Velmora::Assistant::Testing::ReferenceRemove(text, pattern))
        std::abort();
    return 0;
}
