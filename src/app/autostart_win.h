#pragma once
// Starting a program with Windows through the per-user Run key.

namespace Velmora {

// Enable: writes "<path>[ <arguments>]" (no quotes added) as the Run value named after the
// program's base name. Disable: deletes that value (false when there was none). False for a
// missing path, or one that yields no entry name.
bool SetAutostart(const wchar_t* programPath, const wchar_t* arguments, bool enable);

} // namespace Velmora
