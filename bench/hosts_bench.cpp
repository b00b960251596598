// Hosts check and repair on a 150,000-line ad-blocking hosts file with 20 bank names, some of them
// redirected: the linear engine against the backtracking pattern it stands for, on the same input
// in the same run. Prints both times, their ratio and whether the answers and the repaired file are
// identical. The pattern recurses per byte it matches, so it runs on a thread with a large stack.
#include "checks/hosts_matcher.h"

#include "host/checks/hosts_reference.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace Velmora::Assistant;

namespace {

struct Workload {
    std::string file;
    std::vector<std::string> names;
    int redirected = 0;
};

Workload MakeWorkload()
{
    Workload work;
    for (int i = 0; i < 20; ++i)
        work.names.push_back("ebank" + std::to_string(i) + ".bank" + std::to_string(i % 7) + ".com.cn");

    std::mt19937 random(150000);
    const auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    std::string eol = "\r\n";
    const auto line = [&](const std::string& text) { work.file += text + eol; };

    line("# Copyright (c) 1993-2009 Microsoft Corp.");
    line("#");
    line("# This is a sample HOSTS file used by Microsoft TCP/IP for Windows.");
    line("127.0.0.1       localhost");
    line("::1             localhost");
    int lines = 5;
    int section = 0;
    while (lines < 150000) {
        // An ad-blocking list section: a header, a few thousand blocked names, a blank-line run.
        eol = section % 5 == 4 ? "\n" : "\r\n"; // lists pasted together keep their own line ends
        line("# ---- block list " + std::to_string(section) + " ----");
        const int size = 1000 + below(4000);
        for (int i = 0; i < size && lines < 150000; ++i, ++lines) {
            const std::string name =
                "ad" + std::to_string(below(100000)) + ".tracker" + std::to_string(below(500)) + ".net";
            switch (below(20)) {
            case 0:
                line("0.0.0.0 " + name + " # added " + std::to_string(2015 + below(10)));
                break;
            case 1:
                line("# 0.0.0.0 " + name);
                break;
            case 2:
                line("");
                break;
            default:
                line((below(2) ? "0.0.0.0 " : "127.0.0.1\t") + name);
            }
        }
        const int blanks = below(40);
        for (int i = 0; i < blanks; ++i, ++lines)
            line("");
        // Now and then a bank name: redirected, commented out, a longer name ending in it, or a
        // redirect with a comment.
        if (below(2) == 0) {
            const std::string& bank = work.names[static_cast<std::size_t>(below(20))];
            switch (below(4)) {
            case 0:
                line("6.6.6.6 " + bank);
                break;
            case 1:
                line("#6.6.6.6 " + bank);
                break;
            case 2:
                line("6.6.6.6 www." + bank);
                break;
            default:
                line("6.6.6.6\t" + bank + " # login ");
            }
            ++lines;
        }
        ++section;
    }
    return work;
}

struct Result {
    std::vector<bool> redirected;
    std::string repaired;
};

Result RunEngine(const Workload& work)
{
    Result result;
    bool crLf = false;
    std::string text = LoadHostsText(work.file, &crLf);
    for (const std::string& name : work.names)
        result.redirected.push_back(IsHostRedirected(text, name));
    for (std::size_t i = 0; i < work.names.size(); ++i) {
        if (result.redirected[i])
            RemoveHostRedirects(text, work.names[i]);
    }
    result.repaired = HostsTextToFile(text, crLf);
    return result;
}

Result RunReference(const Workload& work)
{
    Result result;
    bool crLf = false;
    std::string text = LoadHostsText(work.file, &crLf);
    std::vector<std::regex> patterns;
    for (const std::string& name : work.names)
        patterns.push_back(Testing::HostsReferencePattern(name));
    for (const std::regex& pattern : patterns)
        result.redirected.push_back(Testing::ReferenceRedirected(text, pattern));
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        if (result.redirected[i])
            text = Testing::ReferenceRemove(text, patterns[i]);
    }
    result.repaired = HostsTextToFile(text, crLf);
    return result;
}

struct ReferenceRun {
    const Workload* work;
    Result result;
    double seconds = 0;
};

void* ReferenceThread(void* argument)
{
    auto* run = static_cast<ReferenceRun*>(argument);
    const auto start = std::chrono::steady_clock::now();
    run->result = RunReference(*run->work);
    run->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return nullptr;
}

} // namespace

int main()
{
    const Workload work = MakeWorkload();
    const auto lines = std::count(work.file.begin(), work.file.end(), '\n');
    std::printf("hosts file: %ld lines, %.1f MB, %zu bank names\n", static_cast<long>(lines),
                static_cast<double>(work.file.size()) / (1024.0 * 1024.0), work.names.size());

    // The engine: best of five runs.
    Result engine;
    double engineSeconds = 1e9;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        engine = RunEngine(work);
        engineSeconds = std::min(
            engineSeconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }

    ReferenceRun reference{&work, {}, 0};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, std::size_t{1} << 30);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, ReferenceThread, &reference) != 0) {
        std::printf("could not start the reference thread\n");
        return 1;
    }
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);

    const long redirected = std::count(engine.redirected.begin(), engine.redirected.end(), true);
    std::printf("redirected names: %ld of %zu; repaired file %.1f MB\n", redirected, engine.redirected.size(),
                static_cast<double>(engine.repaired.size()) / (1024.0 * 1024.0));
    std::printf("engine    (check 20 + repair): %9.4f s\n", engineSeconds);
    std::printf("std::regex (check 20 + repair): %9.4f s\n", reference.seconds);
    std::printf("ratio: %.0fx\n", reference.seconds / engineSeconds);
    const bool same =
        engine.redirected == reference.result.redirected && engine.repaired == reference.result.repaired;
    std::printf("identical results: %s\n", same ? "yes" : "NO");
    return same ? 0 : 1;
}
