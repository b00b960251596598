#pragma once
// The command line that hands the program over to the tray companion at exit.

#include "res/product.h"

#include <string>
#include <string_view>

namespace Velmora {

inline constexpr wchar_t kCompanionFileName[] = L"" VELMORA_COMPANION_NAME;

// Resource numbers of the main executable that the companion shows: the launch text, the
// display name and the icon.
inline constexpr int kLaunchTextStringId = 103;
inline constexpr int kDisplayNameStringId = 102;
inline constexpr int kMainIconId = 199;

// "\"<folder of executablePath>\QXSysTray.exe\" 103 102 199 <processId>". The last field is the id
// of the exiting process, so that the companion can wait for it to be gone before it starts the
// program again (the new copy would otherwise find the single-instance object still held).
std::wstring CompanionCommandLine(std::wstring_view executablePath, unsigned long processId);

} // namespace Velmora
