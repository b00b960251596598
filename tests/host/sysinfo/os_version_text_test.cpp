#include "sysinfo/os_version_text.h"

#include <gtest/gtest.h>

namespace Velmora::System {
namespace {

constexpr std::uint32_t Word(std::uint32_t high, std::uint32_t low)
{
    return (high << 16) | low;
}

// A readable NT system whose kernel32 says major.minor.build; the version API says 6.1.7601.
OsVersionFacts Facts(std::uint32_t major, std::uint32_t minor, std::uint32_t build, std::uint8_t productType,
                     std::uint16_t suite, std::uint16_t arch, std::optional<std::uint32_t> productInfo = {},
                     const char* servicePack = "")
{
    OsVersionFacts f;
    f.versionRead = f.kernelVersionRead = true;
    f.platformId = kPlatformNt;
    f.major = 6;
    f.minor = 1;
    f.build = 7601;
    f.servicePack = servicePack;
    f.suiteMask = suite;
    f.productType = productType;
    f.kernelProductVersionMs = Word(major, minor);
    f.kernelProductVersionLs = Word(build, 1234); // the revision is never shown
    f.architecture = arch;
    f.productInfo = productInfo;
    return f;
}

constexpr std::uint8_t kWs = kWorkstation;
constexpr std::uint8_t kServer = 3;
constexpr std::uint16_t kX86 = kArchitectureX86, kIa64 = kArchitectureItanium, kX64 = kArchitectureX64;

TEST(OsVersionText, Major5EditionsBySuiteProductTypeAndArchitecture)
{
    struct Case {
        std::uint32_t minor;
        std::uint8_t type;
        std::uint16_t suite;
        std::uint16_t arch;
        int r2;
        const char* expected;
    } cases[] = {
        {0, kWs, 0x0080, kX86, 0, "Microsoft Windows 2000 专业版 (build 2195)"},
        {0, kServer, 0x0082, kX86, 0, "Microsoft Windows 2000 数据中心版 (build 2195)"},
        {0, kServer, 0x0002, kX86, 0, "Microsoft Windows 2000 高级服务器版 (build 2195)"},
        {0, kServer, 0x0000, kX86, 0, "Microsoft Windows 2000 服务器版 (build 2195)"},
        {1, kWs, 0x0200, kX86, 0, "Microsoft Windows XP  家庭版 (build 2195)"},
        {1, kWs, 0x0000, kX86, 0, "Microsoft Windows XP  专业版 (build 2195)"},
        // Minor 2: the first matching name wins, servers add an edition.
        {2, kServer, 0x2000, kX86, 1, "Microsoft Windows Server 2003 R2 Standard Edition (build 2195)"},
        {2, kServer, 0x2000, kX86, 0, "Microsoft Windows Storage Server 2003 Standard Edition (build 2195)"},
        {2, kServer, 0x8000, kX86, 0, "Microsoft Windows Home Server Standard Edition (build 2195)"},
        {2, kWs, 0x0082, kX64, 0, "Microsoft Windows XP Professional x64 Edition (build 2195)"},
        {2, kWs, 0x0000, kX86, 0, "Microsoft Windows Server 2003 (build 2195)"},
        {2, kServer, 0x0082, kIa64, 0,
         "Microsoft Windows Server 2003 Datacenter Edition for Itanium-based Systems (build 2195)"},
        {2, kServer, 0x0002, kIa64, 0,
         "Microsoft Windows Server 2003 Enterprise Edition for Itanium-based Systems (build 2195)"},
        {2, kServer, 0x0400, kIa64, 0, "Microsoft Windows Server 2003 (build 2195)"},
        {2, kServer, 0x0082, kX64, 0, "Microsoft Windows Server 2003 Datacenter x64 Edition (build 2195)"},
        {2, kServer, 0x0002, kX64, 0, "Microsoft Windows Server 2003 Enterprise x64 Edition (build 2195)"},
        {2, kServer, 0x0400, kX64, 0, "Microsoft Windows Server 2003 Standard x64 Edition (build 2195)"},
        {2, kServer, 0x4082, kX86, 0, "Microsoft Windows Server 2003 Compute Cluster Edition (build 2195)"},
        {2, kServer, 0x0482, kX86, 0, "Microsoft Windows Server 2003 Datacenter Edition (build 2195)"},
        {2, kServer, 0x0402, kX86, 0, "Microsoft Windows Server 2003 Enterprise Edition (build 2195)"},
        {2, kServer, 0x0400, kX86, 0, "Microsoft Windows Server 2003 Web Edition (build 2195)"},
        {2, kServer, 0x0000, kX86, 1, "Microsoft Windows Server 2003 R2 Standard Edition (build 2195)"},
        {3, kWs, 0x0000, kX86, 0, "Microsoft  (build 2195)"},
    };
    for (const Case& c : cases) {
        OsVersionFacts f = Facts(5, c.minor, 2195, c.type, c.suite, c.arch, 1);
        f.serverR2 = c.r2;
        EXPECT_EQ(BuildOsVersionText(f), c.expected) << "5." << c.minor << " suite " << std::hex << c.suite;
    }
}

TEST(OsVersionText, Major6NamesAndEveryEdition)
{
    const char* const names[][2] = {{"Windows Vista", "Windows Server 2008"},
                                    {"Windows 7", "Windows Server 2008 R2"},
                                    {"Windows 8", "Windows Server 2012"},
                                    {"Windows 8.1", "Windows Server 2012 R2"},
                                    {"", ""}};
    for (std::uint32_t minor = 0; minor < 5; ++minor) {
        EXPECT_EQ(BuildOsVersionText(Facts(6, minor, 9200, kWs, 0, kX64)),
                  std::string("Microsoft ") + names[minor][0] + " (build 9200) 64位");
        EXPECT_EQ(BuildOsVersionText(Facts(6, minor, 9200, kServer, 0, kX64)),
                  std::string("Microsoft ") + names[minor][1] + " (build 9200) 64位");
    }

    const std::pair<std::uint32_t, const char*> editions[] = {
        {1, " 旗舰版"},
        {2, " 家庭普通版"},
        {3, " 家庭高级版"},
        {4, " 企业版"},
        {6, " 商用版"},
        {7, " Standard Edition"},
        {8, " 数据中心版"},
        {9, " Small Business Server"},
        {10, " 企业版"},
        {11, " 初级版"},
        {12, " Datacenter Edition (core installation)"},
        {13, " Standard Edition (core installation)"},
        {14, " Enterprise Edition (core installation)"},
        {15, " Enterprise Edition for Itanium-based Systems"},
        {17, " Web Server Edition"},
        {18, " Cluster Server Edition"},
        {25, " Small Business Server Premium Edition"},
        {48, " 专业版"},
        // Unlisted types add nothing.
        {0, ""},
        {5, ""},
        {16, ""},
        {26, ""},
        {101, ""},
    };
    for (const auto& [type, edition] : editions)
        EXPECT_EQ(BuildOsVersionText(Facts(6, 1, 7600, kWs, 0, kX86, type)),
                  std::string("Microsoft Windows 7") + edition + " (build 7600) 32位")
            << "product type " << type;
    // Without the edition query only the edition is missing.
    EXPECT_EQ(BuildOsVersionText(Facts(6, 0, 6002, kWs, 0, kX86, std::nullopt, "Service Pack 2")),
              "Microsoft Windows Vista SP2 (build 6002) 32位");
}

TEST(OsVersionText, ServicePackBuildBitnessAndTheOddCases)
{
    struct Case {
        OsVersionFacts facts;
        const char* expected;
    } cases[] = {
        {Facts(6, 1, 7601, kWs, 0, kX64, 1, "Service Pack 1"),
         "Microsoft Windows 7 旗舰版 SP1 (build 7601) 64位"},
        {Facts(5, 1, 2600, kWs, 0x0100, kX86, std::nullopt, "Service Pack 3"),
         "Microsoft Windows XP  专业版 SP3 (build 2600)"},
        {Facts(5, 2, 3790, kServer, 0, kX86, std::nullopt, "Service Pack 2"),
         "Microsoft Windows Server 2003 Standard Edition SP2 (build 3790)"},
        // Windows 8.1 comes from kernel32 even though the version API says 6.2.
        {Facts(6, 3, 9600, kWs, 0, kX64, 48), "Microsoft Windows 8.1 专业版 (build 9600) 64位"},
        // Windows 10 and later have no row: "Microsoft ", the service pack, build and bits.
        {Facts(10, 0, 19045, kWs, 0, kX64, 48), "Microsoft  (build 19045) 64位"},
        {Facts(10, 0, 18362, kWs, 0, kX86, 48, "Service Pack 1"), "Microsoft  SP1 (build 18362) 32位"},
        // Only "Service Pack " is shortened, anywhere in the text; other texts stay.
        {Facts(6, 1, 7601, kWs, 0, kX64, 1, "Service Pack 1, v.1130"),
         "Microsoft Windows 7 旗舰版 SP1, v.1130 (build 7601) 64位"},
        {Facts(6, 1, 7601, kWs, 0, kX64, 1, "Beta 2"), "Microsoft Windows 7 旗舰版 Beta 2 (build 7601) 64位"},
        // Itanium and other architectures add no bit suffix.
        {Facts(6, 0, 6001, kServer, 0, kIa64, 15, "Service Pack 1"),
         "Microsoft Windows Server 2008 Enterprise Edition for Itanium-based Systems SP1 (build 6001)"},
        {Facts(6, 2, 9200, kWs, 0, 5, 48), "Microsoft Windows 8 专业版 (build 9200)"},
        {Facts(6, 1, 65535, kWs, 0, kX64, 1), "Microsoft Windows 7 旗舰版 (build 65535) 64位"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildOsVersionText(c.facts), c.expected);
}

TEST(OsVersionText, UnreadableUnknownAndOldSystems)
{
    OsVersionFacts noApi = Facts(6, 1, 7601, kWs, 0, kX64, 1);
    noApi.versionRead = false;
    OsVersionFacts noKernel = Facts(6, 1, 7601, kWs, 0, kX64, 1);
    noKernel.kernelVersionRead = false;
    OsVersionFacts win9x = Facts(6, 1, 7601, kWs, 0, kX64, 1);
    win9x.platformId = 1;
    // The version API's own numbers never decide: kernel32 says 4.0 here.
    OsVersionFacts nt4 = Facts(4, 0, 1381, kWs, 0, kX86);
    EXPECT_EQ(BuildOsVersionText(noApi), "Error");
    EXPECT_EQ(BuildOsVersionText(noKernel), "Error");
    EXPECT_EQ(BuildOsVersionText(win9x), "未知版本的Windows");
    EXPECT_EQ(BuildOsVersionText(nt4), "未知版本的Windows");
    EXPECT_EQ(BuildOsVersionText(Facts(5, 0, 2195, kWs, 0, kX86)),
              "Microsoft Windows 2000 专业版 (build 2195)");
}

} // namespace
} // namespace Velmora::System
