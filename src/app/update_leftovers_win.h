#pragma once
// Start-up step after an update: removes the copies of the program's files that the installer
// moved aside because they were in use (the running executable among them).

namespace Velmora {

// Deletes "<file>.old" beside the executable for the executable and the tray companion. A copy
// still in use stays; the installer has also marked it for deletion at the next system start.
void RemoveUpdateLeftovers();

} // namespace Velmora
