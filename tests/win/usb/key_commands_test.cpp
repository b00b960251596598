// The key commands through the command handler: presence over a modelled USB bus (Wine has no host
// controllers), certificates from containers of Wine's own RSA provider made by the test.
//
// Wine's provider keeps no certificate on a key: CryptSetKeyParam and CryptGetKeyParam with
// KP_CERTIFICATE answer NTE_BAD_TYPE. So the test's provider calls are the real ones except that
// KP_CERTIFICATE is answered from the certificates the test made for each container and key.

#include "common/text_win.h"
#include "host/usb/fake_usb_bus.h"
#include "ui/command_handler_win.h"
#include "ui/key_commands_win.h"
#include "ui/request_lock_win.h"
#include "win/ui/fake_page.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <thread>

namespace Velmora::Usb {
namespace {

using UI::ScopedVariant;
using UI::Testing::FakeDispatch;

constexpr wchar_t kProvider[] = MS_ENHANCED_PROV_W;

ScopedVariant S(const wchar_t* s)
{
    return ScopedVariant::String(s);
}
ScopedVariant I(int v)
{
    return ScopedVariant::Int(v);
}

std::vector<BYTE> EncodedName(const wchar_t* x500)
{
    DWORD size = 0;
    ::CertStrToNameW(X509_ASN_ENCODING, x500, CERT_X500_NAME_STR, nullptr, nullptr, &size, nullptr);
    std::vector<BYTE> out(size);
    EXPECT_TRUE(
        ::CertStrToNameW(X509_ASN_ENCODING, x500, CERT_X500_NAME_STR, nullptr, out.data(), &size, nullptr));
    out.resize(size);
    return out;
}

FILETIME Noon(WORD year, WORD month, WORD day)
{
    SYSTEMTIME t = {};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = 12; // the same calendar day in every time zone the machine may be in
    FILETIME out = {};
    ::SystemTimeToFileTime(&t, &out);
    return out;
}

// A certificate for the key `keySpec` of `context`, signed by that key.
std::vector<BYTE> MakeCertificate(HCRYPTPROV context, DWORD keySpec, std::vector<BYTE> serial,
                                  const wchar_t* issuer, const wchar_t* subject)
{
    DWORD size = 0;
    ::CryptExportPublicKeyInfo(context, keySpec, X509_ASN_ENCODING, nullptr, &size);
    std::vector<BYTE> keyInfo(size);
    EXPECT_TRUE(::CryptExportPublicKeyInfo(context, keySpec, X509_ASN_ENCODING,
                                           reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(keyInfo.data()), &size));
    std::vector<BYTE> issuerName = EncodedName(issuer), subjectName = EncodedName(subject);
    CRYPT_ALGORITHM_IDENTIFIER algorithm = {const_cast<char*>(szOID_RSA_SHA1RSA), {}};
    CERT_INFO info = {};
    info.dwVersion = CERT_V3;
    info.SerialNumber = {static_cast<DWORD>(serial.size()), serial.data()};
    info.SignatureAlgorithm = algorithm;
    info.Issuer = {static_cast<DWORD>(issuerName.size()), issuerName.data()};
    info.Subject = {static_cast<DWORD>(subjectName.size()), subjectName.data()};
    info.NotBefore = Noon(2020, 1, 5);
    info.NotAfter = Noon(2025, 1, 5);
    info.SubjectPublicKeyInfo = *reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(keyInfo.data());
    size = 0;
    ::CryptSignAndEncodeCertificate(context, keySpec, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info,
                                    &algorithm, nullptr, nullptr, &size);
    std::vector<BYTE> out(size);
    EXPECT_TRUE(::CryptSignAndEncodeCertificate(context, keySpec, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED,
                                                &info, &algorithm, nullptr, out.data(), &size))
        << std::hex << ::GetLastError();
    out.resize(size);
    return out;
}

// The system's provider calls, with the certificates of keys answered from `certificates`.
class CertificateCsp : public ICsp {
public:
    std::map<std::pair<std::wstring, DWORD>, std::vector<BYTE>> certificates; // (container, key spec)
    int openContexts = 0, openKeys = 0;

    BOOL AcquireContext(HCRYPTPROV* context, const wchar_t* container, const wchar_t* provider, DWORD type,
                        DWORD flags) override
    {
        if (!ICsp::AcquireContext(context, container, provider, type, flags))
            return FALSE;
        ++openContexts;
        containers_[*context] = container ? container : L"";
        return TRUE;
    }
    BOOL ReleaseContext(HCRYPTPROV context) override
    {
        --openContexts;
        return ICsp::ReleaseContext(context);
    }
    BOOL GetUserKey(HCRYPTPROV context, DWORD keySpec, HCRYPTKEY* key) override
    {
        if (!ICsp::GetUserKey(context, keySpec, key))
            return FALSE;
        ++openKeys;
        keys_[*key] = {containers_[context], keySpec};
        return TRUE;
    }
    BOOL DestroyKey(HCRYPTKEY key) override
    {
        --openKeys;
        return ICsp::DestroyKey(key);
    }
    BOOL GetKeyParam(HCRYPTKEY key, DWORD param, BYTE* data, DWORD* length, DWORD flags) override
    {
        if (param != KP_CERTIFICATE)
            return ICsp::GetKeyParam(key, param, data, length, flags);
        const auto found = certificates.find(keys_[key]);
        if (found == certificates.end() || found->second.size() > *length) {
            ::SetLastError(static_cast<DWORD>(NTE_NOT_FOUND));
            return FALSE;
        }
        std::copy(found->second.begin(), found->second.end(), data);
        *length = static_cast<DWORD>(found->second.size());
        return TRUE;
    }

private:
    std::map<HCRYPTPROV, std::wstring> containers_;
    std::map<HCRYPTKEY, std::pair<std::wstring, DWORD>> keys_;
};

class KeyCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        page_ = new FakeDispatch();
        for (const wchar_t* fn : {L"onkeyPlugined", L"setKeyInfo", L"is_can_Open_update"})
            page_->Define(fn, [](const std::vector<ScopedVariant>&, VARIANT*) {});
        dialog_.LoadPage(page_);
        bus_.controllers["\\\\.\\HCD0"] = Testing::Controller("{hc}\\0000", "root0");
        bus_.hubs["root0"] = Testing::Hub({Testing::HubPort("external"), Testing::Device(0x1ea8, 0x0001)});
        bus_.hubs["external"] = Testing::Hub({Testing::Device(0x1234, 0x5678)});
        UI::CommandServices services;
        services.keyRequest = KeyRequestHandler(walk_, csp_);
        dispatcher_ = std::make_unique<UI::CommandDispatcher>(std::move(services));
    }
    void TearDown() override
    {
        for (const std::wstring& name : containers_) {
            HCRYPTPROV gone = 0;
            ::CryptAcquireContextW(&gone, name.c_str(), kProvider, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
        }
        page_->Release();
    }

    ScopedVariant Run(ScopedVariant name, ScopedVariant a1 = {}, ScopedVariant a2 = {})
    {
        ScopedVariant result, e;
        dispatcher_->Handle(&dialog_, name.Get(), a1.Get(), a2.Get(), e.Get(), e.Get(), result.Ptr());
        return result;
    }

    // A new container of the test's provider (and the provider's default one, which the reading
    // opens first), with a key for each of `keySpecs`.
    HCRYPTPROV NewContainer(const std::wstring& suffix, std::initializer_list<DWORD> keySpecs)
    {
        HCRYPTPROV fallback = 0;
        if (!::CryptAcquireContextW(&fallback, nullptr, kProvider, PROV_RSA_FULL, 0)) {
            EXPECT_TRUE(
                ::CryptAcquireContextW(&fallback, nullptr, kProvider, PROV_RSA_FULL, CRYPT_NEWKEYSET));
        }
        ::CryptReleaseContext(fallback, 0);
        const std::wstring name =
            L"velmora-key-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + suffix;
        HCRYPTPROV context = 0;
        ::CryptAcquireContextW(&context, name.c_str(), kProvider, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
        EXPECT_TRUE(::CryptAcquireContextW(&context, name.c_str(), kProvider, PROV_RSA_FULL, CRYPT_NEWKEYSET))
            << std::hex << ::GetLastError();
        containers_.push_back(name);
        for (DWORD spec : keySpecs) {
            HCRYPTKEY key = 0;
            EXPECT_TRUE(::CryptGenKey(context, spec, 1024u << 16, &key));
            ::CryptDestroyKey(key);
        }
        return context;
    }

    std::vector<std::pair<std::wstring, std::wstring>> KeyInfoCalls(unsigned keyType)
    {
        std::vector<std::pair<std::wstring, std::wstring>> out;
        for (const auto& call : page_->CallsOf(L"setKeyInfo")) {
            EXPECT_EQ(VT_UI4, call.args[0].Type());
            EXPECT_EQ(keyType, call.args[0].Get().ulVal);
            out.emplace_back(UI::StringOf(call.args[1].Get()), UI::StringOf(call.args[2].Get()));
        }
        return out;
    }

    FakeDispatch* page_ = nullptr;
    UI::Testing::HeadlessDialog dialog_;
    Testing::FakeUsbBus bus_;
    CUsbBus walk_{bus_};
    CertificateCsp csp_;
    std::vector<std::wstring> containers_;
    std::unique_ptr<UI::CommandDispatcher> dispatcher_;
};

TEST_F(KeyCommandsTest, IsKeyConnectTellsThePageOnceWhenEitherKeyIsPlugged)
{
    struct Case {
        const wchar_t* ids;
        bool present;
    } cases[] = {
        {L"12345678", true},          // behind the external hub
        {L"00000000|12345678", true}, // the id after the bar is found
        {L"1ea80001|87654321", true}, // the id before the bar is found
        {L"zz", false},               // id 0: no port in a failed state
        {L"87654321", false},
    };
    for (const Case& c : cases) {
        const size_t before = page_->CallsOf(L"onkeyPlugined").size();
        const ScopedVariant answer = Run(S(L"is_key_connect"), S(c.ids), I(42));
        ASSERT_EQ(VT_BOOL, answer.Type()) << c.ids;
        EXPECT_EQ(c.present, answer.Get().boolVal == VARIANT_TRUE) << c.ids;
        const auto calls = page_->CallsOf(L"onkeyPlugined");
        ASSERT_EQ(before + (c.present ? 1 : 0), calls.size()) << c.ids;
        if (c.present) {
            ASSERT_EQ(1u, calls.back().args.size());
            EXPECT_EQ(VT_I4, calls.back().args[0].Type());
            EXPECT_EQ(42, calls.back().args[0].Get().lVal);
        }
    }
    EXPECT_EQ(VT_EMPTY, Run(S(L"is_key_connect"), I(0x12345678), I(1)).Type()) << "ids must be text";
    EXPECT_EQ(0, bus_.openHandles);
}

TEST_F(KeyCommandsTest, IsKeyConnectAnswersWhileARequestHoldsTheRequestLock)
{
    ScopedHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ScopedHandle holding(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread download([&] {
        UI::RequestLock::Guard g(UI::RequestLock::Instance());
        ::SetEvent(holding.Get());
        ::WaitForSingleObject(release.Get(), INFINITE);
    });
    ::WaitForSingleObject(holding.Get(), INFINITE);
    // Would wait for the download forever if the command took the request lock.
    const ScopedVariant answer = Run(S(L"is_key_connect"), S(L"12345678"), I(1));
    ::SetEvent(release.Get());
    download.join();
    EXPECT_EQ(VARIANT_TRUE, answer.Get().boolVal);
}

TEST_F(KeyCommandsTest, CertificateOfTheExchangeKeyIsReadLastAndPublished)
{
    HCRYPTPROV both = NewContainer(L"both", {AT_SIGNATURE, AT_KEYEXCHANGE});
    HCRYPTPROV plain = NewContainer(L"plain", {AT_SIGNATURE, AT_KEYEXCHANGE});
    csp_.certificates[{containers_[0], AT_SIGNATURE}] = MakeCertificate(
        both, AT_SIGNATURE, {0x01, 0x02}, L"CN=Signing CA, O=Velmora", L"CN=signer, O=Velmora");
    csp_.certificates[{containers_[0], AT_KEYEXCHANGE}] =
        MakeCertificate(both, AT_KEYEXCHANGE, {0x03, 0x1f, 0x2a},
                        L"C=CN, O=China Financial Certification Authority, CN=CFCA ACS SM2 OCA31",
                        L"C=CN, O=Velmora, OU=Individual-1, CN=user01");
    // A key whose stored bytes are no certificate, and one without any, are skipped.
    csp_.certificates[{containers_[1], AT_SIGNATURE}] = {0x30, 0x03, 0x02, 0x01, 0x01};
    ::CryptReleaseContext(both, 0);
    ::CryptReleaseContext(plain, 0);

    const std::wstring record = L"2a1f03;CFCA ACS SM2 OCA31;user01;2020年01月05日到2025年01月05日";
    EXPECT_EQ(record, std::wstring(UI::StringOf(Run(S(L"Get_SM_info"), S(kProvider)).Get())));
    EXPECT_EQ(0, csp_.openContexts);
    EXPECT_EQ(0, csp_.openKeys);

    const ScopedVariant answer = Run(S(L"update_key_info"), I(2), S(kProvider));
    EXPECT_EQ(2, answer.Get().lVal);
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {L"sn", L"2a1f03"},
        {L"issuer", L"CFCA ACS SM2 OCA31"},
        {L"subject", L"user01"},
        {L"date", L"2020年01月05日到2025年01月05日"}};
    EXPECT_EQ(expected, KeyInfoCalls(2));
    EXPECT_EQ(1u, page_->CallsOf(L"is_can_Open_update").size());
    EXPECT_EQ(L"is_can_Open_update", page_->Calls().back().name);
}

TEST_F(KeyCommandsTest, SubjectWithoutCommonNameIsTheWholeReversedName)
{
    HCRYPTPROV context = NewContainer(L"nocn", {AT_SIGNATURE});
    csp_.certificates[{containers_[0], AT_SIGNATURE}] =
        MakeCertificate(context, AT_SIGNATURE, {0xff, 0x00}, L"CN=Velmora Root", L"O=Velmora, OU=Keys");
    ::CryptReleaseContext(context, 0);
    EXPECT_EQ(L"00ff;Velmora Root;OU=Keys, O=Velmora;2020年01月05日到2025年01月05日",
              std::wstring(UI::StringOf(Run(S(L"Get_SM_info"), S(kProvider)).Get())));
}

TEST_F(KeyCommandsTest, MissingProviderGivesNoTextAndClearsTheFields)
{
    const wchar_t* missing = L"Velmora Missing Key Provider";
    const ScopedVariant text = Run(S(L"Get_SM_info"), S(missing));
    ASSERT_EQ(VT_BSTR, text.Type());
    EXPECT_EQ(L"", std::wstring(UI::StringOf(text.Get())));
    EXPECT_EQ(7, Run(S(L"update_key_info"), I(7), S(missing)).Get().lVal);
    const std::vector<std::pair<std::wstring, std::wstring>> cleared = {
        {L"sn", L""}, {L"issuer", L""}, {L"subject", L""}, {L"date", L""}};
    EXPECT_EQ(cleared, KeyInfoCalls(7));
    EXPECT_TRUE(page_->CallsOf(L"is_can_Open_update").empty());
    // Without a provider name nothing is read, not even the system's default provider.
    EXPECT_EQ(VT_EMPTY, Run(S(L"Get_SM_info"), I(1)).Type());
    EXPECT_EQ(L"", std::wstring(UI::StringOf(Run(S(L"Get_SM_info"), S(L"")).Get())));
    EXPECT_EQ(0, csp_.openContexts);
}

// Lists container names as a provider hands them out (bytes) and records the containers the
// reading then opens; none of them opens, so no certificate is read.
class ListingCsp : public ICsp {
public:
    std::vector<std::string> listed;
    bool endless = false; // the list never ends: the first name again and again
    std::vector<std::wstring> opened;

    BOOL AcquireContext(HCRYPTPROV* context, const wchar_t* container, const wchar_t*, DWORD, DWORD) override
    {
        if (!container) {
            *context = 1;
            return TRUE;
        }
        opened.emplace_back(container);
        ::SetLastError(static_cast<DWORD>(NTE_BAD_KEYSET));
        return FALSE;
    }
    BOOL GetProvParam(HCRYPTPROV, DWORD param, BYTE* data, DWORD* length, DWORD flags) override
    {
        if (param != PP_ENUMCONTAINERS || listed.empty())
            return FALSE;
        if (flags & CRYPT_FIRST)
            next_ = 0;
        if (next_ >= listed.size() && !endless) {
            ::SetLastError(ERROR_NO_MORE_ITEMS);
            return FALSE;
        }
        const std::string& name = listed[endless ? 0 : next_++];
        if (name.size() + 1 > *length)
            return FALSE;
        std::copy(name.begin(), name.end(), data);
        data[name.size()] = 0;
        *length = static_cast<DWORD>(name.size() + 1);
        return TRUE;
    }
    BOOL ReleaseContext(HCRYPTPROV) override { return TRUE; }

private:
    std::size_t next_ = 0;
};

// `name` in this system's ANSI code page when every character has a place there and the bytes are
// not also valid UTF-8 (so that they test the fallback); else nothing.
std::optional<std::string> AnsiOnlyBytes(const std::wstring& name)
{
    BOOL defaulted = FALSE;
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, nullptr, 0,
                                           nullptr, &defaulted);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, bytes.data(), size, nullptr,
                          &defaulted);
    bytes.resize(bytes.size() - 1);
    if (size <= 1 || defaulted ||
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                              nullptr, 0) != 0)
        return std::nullopt;
    return bytes;
}

TEST(KeyContainers, NamesAreReadAsUtf8OrInTheAnsiCodePageAndTheListEnds)
{
    // A Chinese name where the code page has its characters (936), a Western one elsewhere.
    std::wstring ansiName;
    std::optional<std::string> ansiBytes;
    for (const wchar_t* candidate : {L"用户密钥", L"Schlüssel-é"}) {
        if ((ansiBytes = AnsiOnlyBytes(candidate))) {
            ansiName = candidate;
            break;
        }
    }
    if (!ansiBytes)
        GTEST_SKIP() << "the ANSI code page " << ::GetACP() << " is UTF-8 or holds neither name";

    ListingCsp csp;
    csp.listed = {"plain-key", WideToUtf8(L"用户密钥-utf8"), *ansiBytes};
    EXPECT_EQ(L"", ReadKeyCertificates(kProvider, csp));
    EXPECT_EQ((std::vector<std::wstring>{L"plain-key", L"用户密钥-utf8", ansiName}), csp.opened);

    ListingCsp endless;
    endless.listed = {"again"};
    endless.endless = true;
    EXPECT_EQ(L"", ReadKeyCertificates(kProvider, endless));
    EXPECT_FALSE(endless.opened.empty());
    EXPECT_LE(endless.opened.size(), 1024u);
}

} // namespace
} // namespace Velmora::Usb
