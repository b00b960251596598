#pragma once
// The developer host's command line: VelmoraDevHost.exe [--port N] [--config URL] [--help].

#include <string>
#include <vector>

namespace Velmora::DevHost {

struct DevHostOptions {
    int port = 0;        // 0: a free port
    std::wstring config; // the check document instead of the configured one; empty: the setting
    bool help = false;
    std::wstring error; // set when the command line is not understood
};

DevHostOptions ParseDevHostArguments(const std::vector<std::wstring>& args);

extern const wchar_t kDevHostUsage[];

} // namespace Velmora::DevHost
