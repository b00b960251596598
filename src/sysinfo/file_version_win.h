#pragma once

#include <windows.h>

#include <string>

namespace Velmora {

// Reads the fixed part of a file's version resource. False when the file has none (or cannot be
// read); `out` may be null to ask only whether there is one.
bool ReadFileVersion(const std::wstring& path, VS_FIXEDFILEINFO* out);

} // namespace Velmora
