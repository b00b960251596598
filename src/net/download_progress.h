#pragma once
// What a download tells its caller while it runs, and the arithmetic behind it. Portable so the
// numbers are checked on the host as well.

#include <cstdint>
#include <string_view>

namespace Velmora::Network {

// Handed to a download's progress function.
struct DownloadProgress {
    const wchar_t* url = nullptr;
    const wchar_t* filePath = nullptr;
    std::uint32_t received = 0; // 0 in failure and HTTP-error reports
    std::uint32_t total = 0;    // content length, 1 when none was sent, 0 for an HTTP error
    std::uint32_t percent = 0;  // received * 100 / total; read only when percentValid
    bool percentValid = false;
    std::uint32_t userValue = 0; // the caller's own value, passed through
};

// The agent's own report kinds; the caller sees only the DownloadProgress built from them.
enum class DownloadReport : int {
    Failed = 0,    // second number: total; first: the failure status
    HttpError = 1, // first: HTTP status, second: 0
    Progress = 2,  // received so far, total
    Finished = 3,  // received, total
};

// Fills the record for one report. The percent is computed in 64 bits and saturates at the
// largest 32-bit value (a body without a length reports a total of 1, so it grows past 100).
DownloadProgress MakeDownloadProgress(DownloadReport kind, std::uint32_t first, std::uint32_t second,
                                      const wchar_t* url, const wchar_t* filePath, std::uint32_t userValue);

// Saturating conversion of a byte count to the record's 32-bit fields.
std::uint32_t ClampToUint32(std::uint64_t value);

// The file name a download of `name` (a URL or a plain name) is stored under: the text after the
// last '/' or '\' (all of it when there is none). False when that text could step out of the
// download folder or name a stream: ".", "..", or anything containing ':'.
bool DownloadFileName(std::wstring_view name, std::wstring_view* fileName);

} // namespace Velmora::Network
