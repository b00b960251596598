// Downloads one URL to a file and prints the rate and the peak memory of this process:
//   download_bench.exe <url> <file>          through the program's HTTP agent
//   download_bench.exe --bare <url> <file>   through a bare WinHTTP read loop, for comparison
// Output: "bytes=N seconds=S mbps=R peak_working_set_mb=M peak_private_mb=P status=0x..."

#include "common/scoped_handle_win.h"
#include "net/http_agent_win.h"

#include <psapi.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

using namespace Velmora::Network;

namespace {

// The platform's own ceiling: the same exchange with nothing of the agent around it.
HRESULT BareDownload(const wchar_t* url, const wchar_t* path, std::uint64_t* received)
{
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url, 0, 0, &parts))
        return E_INVALIDARG;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    CWinHttpSession session;
    CWinHttpConnect connection;
    CWinHttpRequest request;
    if (session.Open(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0) ||
        connection.Connect(session, host.c_str(), parts.nPort) ||
        request.Open(connection, nullptr, object.c_str(), nullptr, nullptr, nullptr, 0) ||
        request.Send(nullptr, 0, nullptr, 0, 0) || request.Receive())
        return E_FAIL;
    Velmora::ScopedHandle file(
        ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD read = 0;
        DWORD written = 0;
        if (request.ReadData(buffer.data(), static_cast<DWORD>(buffer.size()), &read))
            return E_FAIL;
        if (read == 0)
            return S_OK;
        ::WriteFile(file.Get(), buffer.data(), read, &written, nullptr);
        *received += read;
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool bare = argc == 4 && std::wcscmp(argv[1], L"--bare") == 0;
    if (argc != 3 && !bare) {
        std::fwprintf(stderr, L"usage: download_bench.exe [--bare] <url> <file>\n");
        return 2;
    }
    const wchar_t* url = argv[argc - 2];
    const wchar_t* path = argv[argc - 1];
    std::uint64_t received = 0;
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    HRESULT hr = S_OK;
    if (bare) {
        hr = BareDownload(url, path, &received);
    } else {
        hr = ProcessAgent().DownloadFile(
            url, path,
            [&](const DownloadProgress& p) {
                if (p.percentValid)
                    received = p.received;
            },
            0);
    }
    ::QueryPerformanceCounter(&end);
    const double seconds =
        static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);

    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
    std::printf(
        "bytes=%llu seconds=%.3f mbps=%.1f peak_working_set_mb=%.1f peak_private_mb=%.1f status=0x%08lx\n",
        static_cast<unsigned long long>(received), seconds,
        static_cast<double>(received) / 1048576.0 / seconds,
        static_cast<double>(memory.PeakWorkingSetSize) / 1048576.0,
        static_cast<double>(memory.PeakPagefileUsage) / 1048576.0, static_cast<unsigned long>(hr));
    return SUCCEEDED(hr) ? 0 : 1;
}
