#pragma once
// The full check of the demo bank's check document as the page runs it, shared by the engine test
// and the full-check benchmark: the document with its services moved to a loopback port, the
// page's requests in the page's order, and a command thread like the program's.

#include "win/checks/test_files.h"

#include "checks/check_config.h"
#include "checks/run_driver.h"

#include <windows.h>

#include <objbase.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Velmora::Assistant::Testing {

// The document names its services at localhost:8080; they are served on `port` of 127.0.0.1 here.
inline bool LoadFullCheck(CheckConfig& config, unsigned short port)
{
    std::string text = ReadBytes(Fixture("full_check.xml"));
    const std::string from = "http://localhost:8080/";
    const std::string to = "http://127.0.0.1:" + std::to_string(port) + "/";
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return !text.empty() && ParseCheckConfig(config, text);
}

// The page's fixed check types in its checking order.
inline const std::vector<std::string>& PageCheckTypes()
{
    static const std::vector<std::string> types = {
        "cache",      "registry", "host", "cfca",     "iehomepage", "compatibility", "trust",
        "connection", "url",      "dns",  "firewall", "winupdate",  "proxy"};
    return types;
}

// Every request of a full check: the fixed types, then each item by index.
inline std::vector<RunTarget> PageCheckRequests(const CheckConfig& config)
{
    std::vector<RunTarget> requests(PageCheckTypes().begin(), PageCheckTypes().end());
    for (std::size_t index = 0; index < config.ItemCount(); ++index)
        requests.emplace_back(static_cast<std::int32_t>(index));
    return requests;
}

inline std::string TargetName(const RunTarget& target)
{
    if (const std::string* type = std::get_if<std::string>(&target))
        return *type;
    return "item " + std::to_string(std::get<std::int32_t>(target));
}

// Runs `work` on a thread of its own with COM initialised for a single-threaded apartment, as the
// program's command worker does, and waits for it.
template <typename Work> void RunOnCommandThread(Work&& work)
{
    std::thread thread([&work] {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        work();
        if (SUCCEEDED(com))
            CoUninitialize();
    });
    thread.join();
}

} // namespace Velmora::Assistant::Testing
