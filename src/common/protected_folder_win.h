#pragma once
// Files this elevated program writes and then trusts live where only administrators can write:
// folders made with, or taken over to, an access list of their own.

#include <string>

namespace Velmora {

// Makes `folder` (its parent must exist) with an access list of its own: full control for
// Administrators and SYSTEM, reading and running for users, nothing inherited from the parent. A
// folder already there is taken over: Administrators become its owner where the system lets them
// (an owner may always change the access list), and it gets that access list. False when the
// folder is a link (a junction or a symbolic link) or no folder, or its access list cannot be set.
bool MakeProtectedFolder(const std::wstring& folder);

} // namespace Velmora
