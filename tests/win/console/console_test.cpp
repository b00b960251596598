// The command-line check as support staff run it: VelmoraCheck.exe started as a process of its own
// in the prefix, its document served by a loopback server, its output, exit code and report read
// back, and what it repaired looked up on disk and in the registry.
#include "win/checks/loopback_server.h" // winsock2.h before windows.h

#include "win/app/win_test_support.h"
#include "win/checks/certificate_test_support.h"
#include "win/checks/registry_test_support.h"
#include "win/checks/test_files.h"

#include "common/scoped_handle_win.h"
#include "common/text_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

constexpr char kRedirect[] = "10.20.30.40\tebank.velmora-bank.test\r\n";
constexpr wchar_t kPopups[] = L"Software\\Microsoft\\Internet Explorer\\New Windows";
constexpr wchar_t kComponent[] = L"Software\\Velmora Console Test";
constexpr wchar_t kLocalhostZone[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\localhost";
constexpr wchar_t kCompatList[] =
    L"Software\\Microsoft\\Internet Explorer\\BrowserEmulation\\ClearableListData";
constexpr wchar_t kStandIn[] = L"CN=CFCA ACS SM2 OCA34 (stand-in)";

// Every check type the page runs has its group; one component the customer has, and a key driver
// that is not checked for a customer without a key.
std::string Document(unsigned short port)
{
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    return R"(<?xml version="1.0" encoding="utf-8"?>
<checkitems version="1">
  <config type="registry">
    <entry name="PopupMgr" type="reg_sz" value="no">HKCU\Software\Microsoft\Internet Explorer\New Windows</entry>
  </config>
  <config type="host"><entry>ebank.velmora-bank.test</entry></config>
  <config type="cfca"/>
  <config type="iehomepage"/>
  <config type="compatibility"><entry>localhost</entry></config>
  <config type="trust"><entry>http://localhost</entry></config>
  <config type="url"><entry>)" +
           base + R"(/EBANK/</entry></config>
  <config type="dns"><entry ip="127.0.0.1">localhost</entry></config>
  <item name="测试控件" type="ocx" flag="probe">
    <detect dtype="registry" name="Installed">HKCU\Software\Velmora Console Test</detect>
  </item>
  <item name="USBKEY驱动" type="key" flag="key_a" keyid="1D990A01">
    <detect dtype="registry" name="Never">HKCU\Software\Velmora Console Test</detect>
  </item>
</checkitems>
)";
}

struct CheckRun {
    int exitCode = -1;
    std::string output; // standard output and error together
};

CheckRun RunCheck(const std::vector<std::wstring>& args)
{
    CheckRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    ScopedHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inherit, 0))
        return run;
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    std::wstring line = L"\"" + Utf8ToWide(VELMORA_CHECK_EXE) + L"\"";
    for (const std::wstring& arg : args)
        line += L" \"" + arg + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
        return run;
    ScopedHandle process(info.hProcess), thread(info.hThread);
    writeEnd.Reset();
    // Reads what has arrived until the process has ended: a process it started (the desktop
    // process of a new session) may hold the pipe open long after it.
    const auto drain = [&] {
        DWORD available = 0;
        char buffer[4096];
        while (PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            DWORD got = 0;
            if (!ReadFile(readEnd.Get(), buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) ||
                got == 0)
                return;
            run.output.append(buffer, got);
        }
    };
    for (int tick = 0; tick < 1200 && WaitForSingleObject(process.Get(), 50) == WAIT_TIMEOUT; ++tick)
        drain();
    drain();
    if (WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process.Get(), 1);
        run.output += "\n(did not end within a minute)";
        return run;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    run.exitCode = static_cast<int>(code);
    return run;
}

std::wstring ReportPath(const wchar_t* name)
{
    return Utf8ToWide(VELMORA_REPORT_DIR) + L"\\" + name;
}

bool Contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

// A certificate whose subject names the one carried certificate the build may lack, in its store.
class StandInCertificate {
public:
    StandInCertificate()
    {
        BYTE encoded[256];
        DWORD size = sizeof encoded;
        if (!CertStrToNameW(X509_ASN_ENCODING, kStandIn, CERT_X500_NAME_STR, nullptr, encoded, &size,
                            nullptr))
            return;
        CERT_NAME_BLOB name{size, encoded};
        ScopedCertContext made(
            CertCreateSelfSignCertificate(0, &name, 0, nullptr, nullptr, nullptr, nullptr, nullptr));
        ScopedCertStore store(CertOpenSystemStoreW(0, L"CA"));
        if (made && store &&
            CertAddCertificateContextToStore(store.Get(), made.Get(), CERT_STORE_ADD_REPLACE_EXISTING,
                                             nullptr)) {
            digest_.resize(20);
            DWORD length = 20;
            CertGetCertificateContextProperty(made.Get(), CERT_SHA1_HASH_PROP_ID, digest_.data(), &length);
        }
    }
    ~StandInCertificate()
    {
        if (digest_.empty())
            return;
        ScopedCertStore store(CertOpenSystemStoreW(0, L"CA"));
        ScopedCertContext found = store ? FindByDigest(store.Get(), digest_) : ScopedCertContext();
        if (found && CertDeleteCertificateFromStore(CertDuplicateCertificateContext(found.Get())))
            CertControlStore(store.Get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
    }
    bool Made() const { return !digest_.empty(); }

private:
    std::string digest_;
};

class ConsoleCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(server_.Port(), 0);
        server_.Respond(200, Document(server_.Port()));
        source_ = L"http://127.0.0.1:" + std::to_wstring(server_.Port()) + L"/EBANK/ocx/item.xml";
        hostsBefore_ = ReadBytes(hosts_);
        CreateDirectoryW(Utf8ToWide(VELMORA_REPORT_DIR).c_str(), nullptr);
    }
    void TearDown() override
    {
        WriteBytes(hosts_, hostsBefore_);
        // What a repair added to the stores goes again, so that later tests find them as before.
        for (const Sm2CertificateRow& row : Sm2Certificates())
            DeleteByDigest(Utf8ToWide(row.store).c_str(), row.sha1);
    }

    LoopbackServer server_;
    std::wstring source_;
    const std::wstring hosts_ = [] {
        wchar_t path[MAX_PATH] = {};
        ExpandEnvironmentStringsW(L"%windir%\\system32\\drivers\\etc\\hosts", path, MAX_PATH);
        return std::wstring(path);
    }();
    std::string hostsBefore_;
    RegistryChanges registry_;
};

TEST_F(ConsoleCheck, ReportsRepairsAndChecksAgain)
{
    // A broken PC: the bank's host redirected, pop-ups blocked, the component missing.
    ASSERT_TRUE(WriteBytes(hosts_, hostsBefore_ + "\r\n" + kRedirect));
    registry_.Set(HKEY_CURRENT_USER, kPopups, L"PopupMgr", REG_SZ, TextBytes(L"yes"));
    registry_.Remove(HKEY_CURRENT_USER, kComponent, L"Installed");
    registry_.Set(HKEY_CURRENT_USER, kLocalhostZone, L"http", REG_DWORD, DwordBytes(2));
    registry_.Remove(HKEY_CURRENT_USER, kCompatList, L"UserFilter");

    const CheckRun checked =
        RunCheck({L"/check", L"/config", source_, L"/report", ReportPath(L"check.json")});
    EXPECT_EQ(checked.exitCode, 1) << checked.output;
    EXPECT_TRUE(Contains(checked.output, "[待修复] HOST文件：异常")) << checked.output;
    EXPECT_TRUE(Contains(checked.output, "[待修复] 注册表：异常")) << checked.output;
    EXPECT_TRUE(Contains(checked.output, "[待修复] 测试控件：未安装")) << checked.output;
    EXPECT_FALSE(Contains(checked.output, "USBKEY驱动")) << "a key driver is checked only for key customers";
    EXPECT_EQ(ReadBytes(hosts_), hostsBefore_ + "\r\n" + kRedirect) << "a check changes no file";

    const CheckRun fixed = RunCheck({L"/FIX", L"/config", source_, L"/report", ReportPath(L"fix.json")});
    EXPECT_TRUE(Contains(fixed.output, "开始全面修复...")) << fixed.output;
    EXPECT_TRUE(Contains(fixed.output, "HOST文件：异常 → 正常")) << fixed.output;
    EXPECT_TRUE(Contains(fixed.output, "注册表：异常 → 正常")) << fixed.output;
    EXPECT_TRUE(Contains(fixed.output, "[消息] 清理结束")) << "the cache repair's message is printed";
    EXPECT_EQ(ReadBytes(hosts_).find("ebank.velmora-bank.test"), std::string::npos) << "the redirect is gone";
    EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, kPopups, L"PopupMgr").data, TextBytes(L"no"));
    // The component has no installer, and the build may lack one of the CA's certificates.
    EXPECT_EQ(fixed.exitCode, 1) << fixed.output;

    // Everything else in order: the component installed and, when the build lacks a certificate,
    // a stand-in under its name.
    registry_.Set(HKEY_CURRENT_USER, kComponent, L"Installed", REG_SZ, TextBytes(L"1"));
    StandInCertificate standIn;
    ASSERT_TRUE(standIn.Made());
    const CheckRun clean = RunCheck({L"/config", source_, L"/report", ReportPath(L"clean.json")});
    EXPECT_EQ(clean.exitCode, 0) << clean.output;
    EXPECT_TRUE(Contains(clean.output, "您的电脑已达到安全要求，可放心登录网银")) << clean.output;
    EXPECT_FALSE(Contains(clean.output, "[待修复]")) << clean.output;
}

TEST_F(ConsoleCheck, RefusesWhatItCannotRun)
{
    struct Case {
        std::vector<std::wstring> args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {{L"/config", L"http://127.0.0.1:9/EBANK/ocx/item.xml"}, 2, "无法获取检测文件：http://127.0.0.1:9/"},
        {{L"/config", L"Z:\\no\\such\\item.xml"}, 2, "无法获取检测文件：Z:\\no\\such\\item.xml"},
        {{L"/check", L"/fix"}, 4, "/check、/fix 与 /update 只能选一个"},
        {{L"/config"}, 4, "用法：VelmoraCheck.exe /?"},
        {{L"/?"}, 0, "退出码："},
        {{L"/config", source_, L"/report", L"Z:\\no\\such\\folder\\r.json"}, 5, "无法写入报告文件"},
    };
    for (const Case& c : cases) {
        const CheckRun run = RunCheck(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        EXPECT_TRUE(Contains(run.output, c.says)) << run.output;
    }
}

TEST_F(ConsoleCheck, RefusesWhileTheWindowedProgramRuns)
{
    std::wstring line = L"\"" + Utf8ToWide(VELMORA_ASSISTANT_EXE) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    ScopedHandle process(info.hProcess), thread(info.hThread);
    HWND window = nullptr;
    for (int tick = 0; tick < 300 && !window; ++tick) {
        if (WaitForSingleObject(process.Get(), 100) == WAIT_OBJECT_0)
            break;
        window = VelmoraTest::VisibleWindowOf(info.dwProcessId);
    }
    ASSERT_NE(window, nullptr) << "the windowed program did not show its window";

    const CheckRun run = RunCheck({L"/config", source_});
    EXPECT_EQ(run.exitCode, 3) << run.output;
    EXPECT_TRUE(Contains(run.output, "网银助手正在运行")) << run.output;

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(process.Get(), 30000), WAIT_OBJECT_0);
    // Once it has gone, the check runs.
    EXPECT_NE(RunCheck({L"/config", source_}).exitCode, 3);
}

} // namespace
} // namespace Velmora::Assistant
