#pragma once
// PEM text of one certificate to its DER bytes, through libcrypto's base64 decoder.

#include <string>
#include <string_view>

namespace Velmora::Assistant {

// Drops the first BEGIN and END CERTIFICATE lines and every CR LF, and decodes the rest. Empty
// when the rest is not base64 (a stray character, a length that is not a multiple of four, line
// ends other than CR LF).
std::string PemToDer(std::string_view text);

} // namespace Velmora::Assistant
