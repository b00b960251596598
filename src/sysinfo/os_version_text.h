#pragma once
// The Windows display string the page shows on every check. The page recognises editions by exact
// substrings of it, so every fragment below is fixed text.

#include <cstdint>
#include <optional>
#include <string>

namespace Velmora::System {

// What the system says about itself, gathered by the Win32 side.
struct OsVersionFacts {
    bool versionRead = false;       // the version API answered
    bool kernelVersionRead = false; // kernel32.dll's version resource could be read
    std::uint32_t platformId = 0;   // 2 for NT
    std::uint32_t major = 0;        // as the version API reports them; kernel32 overrides
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::string servicePack; // UTF-8, e.g. "Service Pack 1"
    std::uint16_t suiteMask = 0;
    std::uint8_t productType = 0; // 1 workstation
    std::uint32_t kernelProductVersionMs = 0;
    std::uint32_t kernelProductVersionLs = 0;
    std::uint16_t architecture = 0;           // 0 x86, 6 Itanium, 9 x64
    int serverR2 = 0;                         // the system metric that tells Server 2003 R2
    std::optional<std::uint32_t> productInfo; // none when the system lacks the edition query
};

inline constexpr std::uint32_t kPlatformNt = 2;
inline constexpr std::uint8_t kWorkstation = 1;
inline constexpr std::uint16_t kArchitectureX86 = 0;
inline constexpr std::uint16_t kArchitectureItanium = 6;
inline constexpr std::uint16_t kArchitectureX64 = 9;

inline constexpr char kOsVersionError[] = "Error";
inline constexpr char kUnknownWindows[] = "未知版本的Windows";

// The display string (UTF-8): "Error" when either read failed, "未知版本的Windows" for a non-NT or
// pre-2000 system, else "Microsoft ", product and edition, service pack, build and bitness.
std::string BuildOsVersionText(const OsVersionFacts& facts);

} // namespace Velmora::System
