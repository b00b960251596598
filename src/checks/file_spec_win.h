#pragma once
// The file test shared by the `file` and `clsid` handlers, and file digests.

#include "checks/check_config.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace Velmora::Assistant {

// Digest of a file's contents as lower-case hexadecimal, read in chunks (from its start, through an
// open handle with read access). Empty when the file cannot be read or the kind is unknown, so that
// it matches no expected digest.
std::string FileDigestHex(const std::wstring& path, int kind);
std::string FileDigestHex(HANDLE file, int kind);

// True when the file's digests equal each of the entry's `md5`, `sha1` and `sha256` that are given
// (hexadecimal in any letter case); true for an entry that gives none.
bool FileDigestsMatch(const ConfigEntry& entry, const std::wstring& path);
bool FileDigestsMatch(const ConfigEntry& entry, HANDLE file);

// -2 when `path` is missing; 1 when the entry's `version` or one of its digests is not met (a file
// without a version resource fails any `version`); 2 otherwise. The caller holds the entry's
// ScopedRedirection.
std::int32_t CheckFileSpec(const ConfigEntry& entry, const std::wstring& path);

} // namespace Velmora::Assistant
