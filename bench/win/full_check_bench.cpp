// The native time of a full check of the demo bank's check document: every request the page issues
// (its fixed types, then each item, check only) through the run driver, timed one by one; the
// page's own delays between requests are not part of it. The document's services are served by a
// loopback server. Round 1 is reported on its own (cold: first use of every handler and system
// object); the later rounds as warm figures.
//   full_check_bench.exe [rounds]      (default 5)
// Output per round: "round=N cold|warm total_ms=T slowest=name:ms,name:ms,name:ms", then a summary
// line of the warm rounds' mean per request.
// Checks of trust and compatibility repair even in check mode; what they write in the user's
// registry is put back after every round, so every round does the same work.

#include "win/checks/loopback_server.h" // winsock2.h before windows.h

#include "win/checks/registry_test_support.h"
#include "win/engine/full_check_support.h"

#include "checks/run_driver_win.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

using namespace Velmora::Assistant;
using namespace Velmora::Assistant::Testing;

namespace {

constexpr wchar_t kCompatList[] =
    L"Software\\Microsoft\\Internet Explorer\\BrowserEmulation\\ClearableListData";
constexpr wchar_t kUserDomains[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains";

// The user's compatibility list and trusted-site mappings of the document's hosts, as before a round.
class UserBrowserSettings {
public:
    UserBrowserSettings()
        : listExisted_(KeyExists(HKEY_CURRENT_USER, kCompatList)),
          list_(GetRaw(HKEY_CURRENT_USER, kCompatList, L"UserFilter"))
    {
        for (const wchar_t* host : {L"localhost", L"127.0.0.1"})
            domains_.emplace_back(std::wstring(kUserDomains) + L"\\" + host,
                                  KeyExists(HKEY_CURRENT_USER, std::wstring(kUserDomains) + L"\\" + host));
    }

    void Restore() const
    {
        if (!listExisted_) {
            DeleteTree(HKEY_CURRENT_USER, kCompatList);
        } else if (list_.type != REG_NONE) {
            SetRaw(HKEY_CURRENT_USER, kCompatList, L"UserFilter", list_.type, list_.data);
        } else {
            Velmora::ScopedRegKey key;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, kCompatList, 0, KEY_SET_VALUE, key.Receive()) ==
                ERROR_SUCCESS)
                RegDeleteValueW(key.Get(), L"UserFilter");
        }
        for (const auto& [path, existed] : domains_) {
            if (!existed)
                DeleteTree(HKEY_CURRENT_USER, path);
        }
    }

private:
    bool listExisted_;
    RawValue list_;
    std::vector<std::pair<std::wstring, bool>> domains_;
};

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

std::string Slowest(const std::vector<std::string>& names, const std::vector<double>& times)
{
    std::vector<std::size_t> order(times.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return times[a] > times[b]; });
    std::string text;
    for (std::size_t i = 0; i < order.size() && i < 3; ++i) {
        char piece[96];
        std::snprintf(piece, sizeof piece, "%s%s:%.1f", i ? "," : "", names[order[i]].c_str(),
                      times[order[i]]);
        text += piece;
    }
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    LoopbackServer server;
    CheckConfig config;
    if (!server.IsListening() || !LoadFullCheck(config, server.Port())) {
        std::fprintf(stderr, "cannot serve or load the check document\n");
        return 1;
    }
    server.Respond(200, "<html>bank</html>");
    const std::vector<RunTarget> requests = PageCheckRequests(config);
    std::vector<std::string> names;
    for (const RunTarget& target : requests)
        names.push_back(TargetName(target));

    const UserBrowserSettings before;
    std::vector<double> warmSum(requests.size(), 0.0);
    double warmTotal = 0.0;
    RunOnCommandThread([&] {
        const RunServices services = SystemRunServices();
        for (int round = 1; round <= rounds; ++round) {
            std::vector<double> times;
            for (const RunTarget& target : requests) {
                LARGE_INTEGER start, end;
                QueryPerformanceCounter(&start);
                const std::optional<std::string> answer = RunRequest(config, target, true, services);
                QueryPerformanceCounter(&end);
                times.push_back(Milliseconds(start, end));
                if (!answer)
                    std::fprintf(stderr, "no answer for %s\n", TargetName(target).c_str());
            }
            before.Restore();
            double total = 0.0;
            for (std::size_t i = 0; i < times.size(); ++i) {
                total += times[i];
                if (round > 1)
                    warmSum[i] += times[i];
            }
            if (round > 1)
                warmTotal += total;
            std::printf("round=%d %s requests=%zu total_ms=%.1f slowest=%s\n", round,
                        round == 1 ? "cold" : "warm", times.size(), total, Slowest(names, times).c_str());
        }
    });
    if (rounds > 1) {
        const double warmRounds = rounds - 1;
        for (double& sum : warmSum)
            sum /= warmRounds;
        std::printf("warm_mean total_ms=%.1f slowest=%s\n", warmTotal / warmRounds,
                    Slowest(names, warmSum).c_str());
    }
    return 0;
}
