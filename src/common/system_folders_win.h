#pragma once
// The system's folders as the system knows them. This program runs elevated with the environment
// of the user who started it: %windir%, %ProgramFiles% and the like are that user's to set, so the
// folders a check, a repair or a library load trusts are asked of the system instead.

#include <windows.h>

#include <shlobj.h>

#include <string>

namespace Velmora {

// True for a 32-bit process on 64-bit Windows.
bool RunsUnderWow64();

// The Windows folder shared by every user, and the system folder (system32; a 32-bit process under
// WOW64 reaches it redirected). Empty when the system cannot tell.
std::wstring WindowsFolder();
std::wstring SystemFolder();

// A known folder of the machine (program files, program data); empty when the system has none.
std::wstring KnownFolder(const KNOWNFOLDERID& id);

// The full path a system library of this process's bitness is loaded from: the system folder that
// holds them (SysWOW64 under WOW64, named outright, so that it holds while a thread has file-system
// redirection switched off). Empty when the folder cannot be had.
std::wstring SystemLibraryPath(const std::wstring& name);

// `text` with its %variables% expanded. The system's folders (windir, SystemRoot, SystemDrive,
// ProgramFiles, ProgramFiles(x86), ProgramW6432, CommonProgramFiles, CommonProgramFiles(x86),
// CommonProgramW6432, ProgramData, ALLUSERSPROFILE; any letter case) come from the system,
// whatever the environment holds; other variables come from the environment, and an unknown one
// stays as it is. Empty when a system folder named in the text cannot be had.
std::wstring ExpandSystemPath(const std::wstring& text);

} // namespace Velmora
