#pragma once
// Access to the loopback servers started by the net_servers fixture (tests/fixtures/net): their
// ports, the requests they recorded, and the byte pattern their /gen routes send.

#include <cstdint>
#include <string>
#include <vector>

namespace NetTest {

struct Servers {
    int httpPort = 0;
    int httpsPort = 0;
    int httpsUntrustedPort = 0;
    std::string logPath;
    std::string dir;
};

// Read once from the fixture's state file; ports stay 0 when the servers are not running.
const Servers& TheServers();

std::wstring HttpUrl(const std::string& path);      // http://127.0.0.1:<port><path>
std::wstring HttpsUrl(const std::string& path);     // https://localhost:<port><path>
std::wstring UntrustedUrl(const std::string& path); // https://localhost:<untrusted port><path>

// A path segment no other test uses, so a test finds its own requests in the shared log.
std::string UniqueToken();

struct RecordedRequest {
    int conn = 0;
    int port = 0;
    std::string method;
    std::string target;
    std::string path;
    std::string query;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;

    // Value of the first header of that name (case-insensitive); empty when absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

// Every recorded request whose target contains `token`, oldest first.
std::vector<RecordedRequest> RequestsWith(const std::string& token);

// What /gen/<size> and friends send.
std::string Pattern(std::size_t size);

std::string ReadFileBytes(const std::wstring& path);
std::wstring TempFilePath(const std::wstring& name);

} // namespace NetTest
