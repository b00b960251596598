#include "checks/certificate_pem.h"

#include <openssl/evp.h>

#include <climits>

namespace Velmora::Assistant {
namespace {

constexpr const char* kBlanks = " \t\r\n";

void EraseFirst(std::string& text, std::string_view what)
{
    const std::size_t at = text.find(what);
    if (at != std::string::npos)
        text.erase(at, what.size());
}

} // namespace

std::string PemToDer(std::string_view text)
{
    std::string body(text);
    EraseFirst(body, "-----BEGIN CERTIFICATE-----");
    EraseFirst(body, "-----END CERTIFICATE-----");
    std::string base64;
    base64.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n')
            ++i;
        else
            base64.push_back(body[i]);
    }
    // Blanks around the text are not part of it; the decoder skips them as well, and the padding
    // below is counted at the true end.
    const std::size_t first = base64.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return {};
    base64 = base64.substr(first, base64.find_last_not_of(kBlanks) - first + 1);
    if (base64.size() > INT_MAX)
        return {};

    std::string der(base64.size() / 4 * 3 + 3, '\0');
    const int decoded = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(der.data()),
                                        reinterpret_cast<const unsigned char*>(base64.data()),
                                        static_cast<int>(base64.size()));
    if (decoded < 0)
        return {};
    // The decoder counts the padding as bytes: one '=' at the end stands for one byte less.
    std::size_t size = static_cast<std::size_t>(decoded);
    for (std::size_t i = base64.size(); i > 0 && base64[i - 1] == '=' && size > 0; --i)
        --size;
    der.resize(size);
    return der;
}

} // namespace Velmora::Assistant
