#include "test_servers.h"

#include "common/scoped_handle_win.h"
#include "common/text_win.h"

#include <gtest/gtest.h>

#include <wincrypt.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace NetTest {

namespace {

Servers LoadServers()
{
    Servers servers;
    servers.dir = VELMORA_NET_SERVER_DIR;
    std::ifstream in(servers.dir + "/state.txt");
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "http_port")
            servers.httpPort = std::stoi(value);
        else if (key == "https_port")
            servers.httpsPort = std::stoi(value);
        else if (key == "https_untrusted_port")
            servers.httpsUntrustedPort = std::stoi(value);
        else if (key == "log")
            servers.logPath = "Z:" + value;
    }
    return servers;
}

std::string Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

struct CertStoreTraits {
    using Handle = HCERTSTORE;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::CertCloseStore(h, 0); }
};

// Trusts this run's test root: the fixture makes a new one each run, so older ones are removed.
class TrustTestRoot : public ::testing::Environment {
public:
    void SetUp() override
    {
        const std::string der = ReadFileBytes(Velmora::Utf8ToWide(TheServers().dir + "/root.der"));
        if (der.empty())
            return;
        Velmora::ScopedGeneric<CertStoreTraits> store(
            ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"));
        ASSERT_TRUE(store.IsValid());
        for (;;) {
            PCCERT_CONTEXT old = ::CertFindCertificateInStore(
                store.Get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W, L"Velmora Test Root", nullptr);
            if (!old)
                break;
            ::CertDeleteCertificateFromStore(old);
        }
        ASSERT_TRUE(::CertAddEncodedCertificateToStore(
            store.Get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
            static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
        ::CertControlStore(store.Get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
    }
};

[[maybe_unused]] ::testing::Environment* const trustRoot =
    ::testing::AddGlobalTestEnvironment(new TrustTestRoot);

} // namespace

const Servers& TheServers()
{
    static const Servers servers = LoadServers();
    return servers;
}

std::wstring HttpUrl(const std::string& path)
{
    return Velmora::Utf8ToWide("http://127.0.0.1:" + std::to_string(TheServers().httpPort) + path);
}

std::wstring HttpsUrl(const std::string& path)
{
    return Velmora::Utf8ToWide("https://localhost:" + std::to_string(TheServers().httpsPort) + path);
}

std::wstring UntrustedUrl(const std::string& path)
{
    return Velmora::Utf8ToWide("https://localhost:" + std::to_string(TheServers().httpsUntrustedPort) + path);
}

std::string UniqueToken()
{
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return "t" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter) + "-" +
           (info ? info->name() : "x");
}

std::string RecordedRequest::Header(const std::string& name) const
{
    for (const auto& [key, value] : headers) {
        if (EqualNoCase(key, name))
            return value;
    }
    return {};
}

bool RecordedRequest::HasHeader(const std::string& name) const
{
    for (const auto& header : headers) {
        if (EqualNoCase(header.first, name))
            return true;
    }
    return false;
}

std::vector<RecordedRequest> RequestsWith(const std::string& token)
{
    std::vector<RecordedRequest> out;
    std::ifstream in(TheServers().logPath);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t'))
            fields.push_back(field);
        if (fields.size() < 7 || fields[3].find(token) == std::string::npos)
            continue;
        RecordedRequest request;
        request.conn = std::stoi(fields[0]);
        request.port = std::stoi(fields[1]);
        request.method = fields[2];
        request.target = fields[3];
        request.path = fields[4];
        request.query = fields[5];
        request.body = Unescape(fields[6]);
        for (std::size_t i = 7; i < fields.size(); ++i) {
            const auto colon = fields[i].find(": ");
            if (colon != std::string::npos)
                request.headers.emplace_back(fields[i].substr(0, colon), fields[i].substr(colon + 2));
        }
        out.push_back(std::move(request));
    }
    return out;
}

std::string Pattern(std::size_t size)
{
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>(i % 251);
    return out;
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::wstring TempFilePath(const std::wstring& name)
{
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"velmora-net-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + name;
}

} // namespace NetTest
