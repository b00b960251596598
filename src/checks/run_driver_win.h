#pragma once
// The run driver's platform side: the built-in checks and the services the driver runs with in
// the program.

#include "checks/run_driver.h"

#include <optional>
#include <string_view>

namespace Velmora::Assistant {

// `level`, `cache`, `proxy`, `firewall`, `antivirus`, `winupdate` and `connection`, by exact name;
// none for any other name. The `cache` repair tells the user through the message functions when it
// is done. The caller's thread has COM initialised.
std::optional<bool> RunBuiltInCheck(std::string_view name, bool checkOnly);

// The program's handlers, built-ins and certificate set, and whether this is 64-bit Windows. The
// install and install-index services are the caller's to fill.
RunServices SystemRunServices();

} // namespace Velmora::Assistant
