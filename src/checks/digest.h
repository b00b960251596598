#pragma once
// Message digests through libcrypto's EVP interface, written as lower-case hexadecimal. Used for the
// configuration's cache-file name, the file checks and the verification of downloaded installers.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace Velmora::Assistant {

enum DigestKind : int {
    kDigestMd4 = 0,
    kDigestMd5 = 1,
    kDigestSha1 = 2,
    kDigestSha256 = 3,
};

// Start-up and exit of the application: makes the cipher and digests the program uses available
// (AES-256-CBC, MD4, MD5, SHA-1, SHA-256) and releases them again. Digests computed without a
// registration still work for the algorithms libcrypto offers by default.
bool RegisterCryptoAlgorithms();
void ReleaseCryptoAlgorithms();

// The algorithm tables for as long as it lives.
class ScopedCryptoAlgorithms {
public:
    ScopedCryptoAlgorithms() { RegisterCryptoAlgorithms(); }
    ScopedCryptoAlgorithms(const ScopedCryptoAlgorithms&) = delete;
    ScopedCryptoAlgorithms& operator=(const ScopedCryptoAlgorithms&) = delete;
    ~ScopedCryptoAlgorithms() { ReleaseCryptoAlgorithms(); }
};

// "%02x" per byte of the digest of `bytes`; an unknown kind gives an empty text.
std::string DigestHex(std::string_view bytes, int kind);

// Incremental digest for data that arrives in pieces (files of any size).
class DigestStream {
public:
    explicit DigestStream(int kind);
    ~DigestStream();
    DigestStream(const DigestStream&) = delete;
    DigestStream& operator=(const DigestStream&) = delete;

    // False for an unknown kind or when the algorithm is not available.
    bool IsValid() const { return state_ != nullptr; }
    void Update(const void* data, std::size_t size);
    // The digest as hexadecimal; empty when the stream is invalid. Ends the stream.
    std::string FinishHex();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Reads a source chunk by chunk: fills `buffer` with up to `capacity` bytes and answers how many,
// 0 at the end, a negative number on a read error.
using ReadChunk = std::function<std::int64_t(void* buffer, std::size_t capacity)>;

// The digest of everything `read` yields, computed in fixed-size chunks so that memory stays
// bounded whatever the size. Empty when reading fails or the kind is unknown: an empty text
// matches no expected digest.
std::string StreamDigestHex(const ReadChunk& read, int kind);

} // namespace Velmora::Assistant
