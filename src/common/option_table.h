#pragma once
// Process-wide integer options by number. Start-up sets them; readers anywhere in the program ask
// for them. An option never set reads 0.

#include <map>
#include <mutex>

namespace Velmora {

enum OptionNumber : int {
    kOptionCacheCheckConfig = 1000,  // keep a local copy of the check configuration
    kOptionIgnoreCertErrors = 1001,  // relax TLS certificate checks of the HTTP agent
    kOptionDownloadBesideExe = 1004, // downloads go to "..\Download" beside the executable
};

class OptionTable {
public:
    int Get(int option) const;
    void Set(int option, int value);

private:
    mutable std::mutex lock_;
    std::map<int, int> values_;
};

// The one table of the process.
OptionTable& Options();

} // namespace Velmora
