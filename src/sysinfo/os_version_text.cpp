#include "sysinfo/os_version_text.h"

#include <cstdio>

namespace Velmora::System {
namespace {

constexpr std::uint16_t kSuiteEnterprise = 0x0002;
constexpr std::uint16_t kSuiteDatacenter = 0x0080;
constexpr std::uint16_t kSuitePersonal = 0x0200;
constexpr std::uint16_t kSuiteBlade = 0x0400;
constexpr std::uint16_t kSuiteStorageServer = 0x2000;
constexpr std::uint16_t kSuiteComputeServer = 0x4000;
constexpr std::uint16_t kSuiteHomeServer = 0x8000;

bool Has(const OsVersionFacts& f, std::uint16_t bit)
{
    return (f.suiteMask & bit) != 0;
}

void AppendServer2003Edition(const OsVersionFacts& f, std::string& out)
{
    if (f.architecture == kArchitectureItanium) {
        if (Has(f, kSuiteDatacenter))
            out += " Datacenter Edition for Itanium-based Systems";
        else if (Has(f, kSuiteEnterprise))
            out += " Enterprise Edition for Itanium-based Systems";
    } else if (f.architecture == kArchitectureX64) {
        if (Has(f, kSuiteDatacenter))
            out += " Datacenter x64 Edition";
        else if (Has(f, kSuiteEnterprise))
            out += " Enterprise x64 Edition";
        else
            out += " Standard x64 Edition";
    } else if (Has(f, kSuiteComputeServer)) {
        out += " Compute Cluster Edition";
    } else if (Has(f, kSuiteDatacenter)) {
        out += " Datacenter Edition";
    } else if (Has(f, kSuiteEnterprise)) {
        out += " Enterprise Edition";
    } else if (Has(f, kSuiteBlade)) {
        out += " Web Edition";
    } else {
        out += " Standard Edition";
    }
}

void AppendMajor5(const OsVersionFacts& f, std::uint32_t minor, std::string& out)
{
    const bool workstation = f.productType == kWorkstation;
    switch (minor) {
    case 0:
        out += "Windows 2000";
        if (workstation)
            out += " 专业版";
        else if (Has(f, kSuiteDatacenter))
            out += " 数据中心版";
        else if (Has(f, kSuiteEnterprise))
            out += " 高级服务器版";
        else
            out += " 服务器版";
        break;
    case 1:
        out += "Windows XP ";
        out += Has(f, kSuitePersonal) ? " 家庭版" : " 专业版";
        break;
    case 2:
        if (f.serverR2 != 0)
            out += "Windows Server 2003 R2";
        else if (Has(f, kSuiteStorageServer))
            out += "Windows Storage Server 2003";
        else if (Has(f, kSuiteHomeServer))
            out += "Windows Home Server";
        else if (workstation && f.architecture == kArchitectureX64)
            out += "Windows XP Professional x64 Edition";
        else
            out += "Windows Server 2003";
        if (!workstation)
            AppendServer2003Edition(f, out);
        break;
    default:
        break;
    }
}

const char* Major6Edition(std::uint32_t productInfo)
{
    switch (productInfo) {
    case 1:
        return " 旗舰版";
    case 2:
        return " 家庭普通版";
    case 3:
        return " 家庭高级版";
    case 4:
    case 10:
        return " 企业版";
    case 6:
        return " 商用版";
    case 7:
        return " Standard Edition";
    case 8:
        return " 数据中心版";
    case 9:
        return " Small Business Server";
    case 11:
        return " 初级版";
    case 12:
        return " Datacenter Edition (core installation)";
    case 13:
        return " Standard Edition (core installation)";
    case 14:
        return " Enterprise Edition (core installation)";
    case 15:
        return " Enterprise Edition for Itanium-based Systems";
    case 17:
        return " Web Server Edition";
    case 18:
        return " Cluster Server Edition";
    case 25:
        return " Small Business Server Premium Edition";
    case 48:
        return " 专业版";
    default:
        return "";
    }
}

void AppendMajor6(const OsVersionFacts& f, std::uint32_t minor, std::string& out)
{
    static const char* const kNames[][2] = {{"Windows Vista", "Windows Server 2008"},
                                            {"Windows 7", "Windows Server 2008 R2"},
                                            {"Windows 8", "Windows Server 2012"},
                                            {"Windows 8.1", "Windows Server 2012 R2"}};
    if (minor < 4)
        out += kNames[minor][f.productType == kWorkstation ? 0 : 1];
    if (f.productInfo)
        out += Major6Edition(*f.productInfo);
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

} // namespace

std::string BuildOsVersionText(const OsVersionFacts& f)
{
    if (!f.versionRead || !f.kernelVersionRead)
        return kOsVersionError;
    // kernel32's own version is the truth: the version API lies to programs without a manifest
    // that names the newer systems.
    const std::uint32_t major = f.kernelProductVersionMs >> 16;
    const std::uint32_t minor = f.kernelProductVersionMs & 0xFFFF;
    const std::uint32_t build = f.kernelProductVersionLs >> 16;
    if (f.platformId != kPlatformNt || major <= 4)
        return kUnknownWindows;

    std::string out = "Microsoft ";
    if (major == 5)
        AppendMajor5(f, minor, out);
    else if (major == 6)
        AppendMajor6(f, minor, out);
    if (!f.servicePack.empty()) {
        out += ' ';
        out += f.servicePack;
    }
    ReplaceAll(out, "Service Pack ", "SP");

    char buildText[80];
    std::snprintf(buildText, sizeof buildText, " (build %d)", static_cast<int>(build));
    out += buildText;
    if (major >= 6) {
        if (f.architecture == kArchitectureX64)
            out += " 64位";
        else if (f.architecture == kArchitectureX86)
            out += " 32位";
    }
    return out;
}

} // namespace Velmora::System
