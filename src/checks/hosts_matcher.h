#pragma once
// Finding and removing the hosts-file lines that redirect a host name.
//
// A line redirects `name` when the text holds, case-insensitively,
//     "\n" [white space, digits, dots]+ name [white space]* ( "\n" | "#" comment [white space] "\n" )
// where a comment is one or more characters other than CR and LF. The text is the hosts file as
// loaded: line ends made single line feeds, one line feed added at each end, so every line is
// enclosed by line feeds. Where the address part may cross line feeds (blank lines before a
// redirect) and where a match ends (blank lines after it, the line feed that starts the next line)
// follow the leftmost, greedy reading of that shape exactly, so a match removes the same bytes as
// the equivalent backtracking pattern would. The engine runs in time linear in the text and the
// name and needs at most a bit per text byte; deep blank-line runs cost nothing extra.

#include <string>
#include <string_view>

namespace Velmora::Assistant {

// The file's bytes as the matcher wants them: every CR LF pair made a LF, one LF added at the start
// and one at the end. `hadCrLf` tells whether any pair was found.
std::string LoadHostsText(std::string_view fileBytes, bool* hadCrLf);

// The reverse for writing back: the two added line feeds dropped (when the text is longer than one
// byte), every LF made CR LF again when the file had them.
std::string HostsTextToFile(std::string_view hostsText, bool hadCrLf);

// True when some line of `hostsText` redirects `name`. The name is taken literally; an empty name
// matches nothing.
bool IsHostRedirected(std::string_view hostsText, std::string_view name);

// Replaces every redirecting line (with the blank lines its match takes in) by a single line feed,
// scanning on after each match. True when anything was removed.
bool RemoveHostRedirects(std::string& hostsText, std::string_view name);

} // namespace Velmora::Assistant
