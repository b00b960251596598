#pragma once
// Where this program lives: its full path, its folder, its base name.

#include <string>

namespace Velmora {

// Full path of the running executable.
std::wstring ExecutablePath();
// The executable's folder, without a trailing backslash.
std::wstring ExecutableFolder();
// The executable's file name without its extension; names the settings key.
std::wstring ExecutableBaseName();

// Folder part of a path (everything before the last backslash); empty when there is none.
std::wstring FolderOf(const std::wstring& path);

} // namespace Velmora
