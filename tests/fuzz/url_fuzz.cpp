// Splits arbitrary text as a request URL and reads cookies out of arbitrary raw headers; a split
// that succeeds must give a usable host, port and path.
#include "net/simple_http.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

using namespace Velmora::Network;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Bytes below 0xF0 stand for themselves; 0xF0..0xFF take the next byte to form a wider unit.
    std::wstring text;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] >= 0xF0 && i + 1 < size) {
            text += static_cast<wchar_t>(((data[i] & 0x0F) << 8 | data[i + 1]) + 0x100);
            ++i;
        } else {
            text += static_cast<wchar_t>(data[i]);
        }
    }
    // An exact-length copy, so that reading past the end shows up under ASan.
    const auto exact = std::make_unique<wchar_t[]>(text.size());
    std::copy(text.begin(), text.end(), exact.get());
    const std::wstring_view input(exact.get(), text.size());

    SimpleHttpRequest request;
    if (SplitRequestUrl(request, input)) {
        if (request.host.empty() || request.port < 1 || request.port > 65535 || request.path.empty() ||
            request.path[0] != L'/')
            std::abort();
    }
    (void)ExtractResponseCookie(input);
    return 0;
}
