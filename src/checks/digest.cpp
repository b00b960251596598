#include "checks/digest.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <array>
#include <mutex>
#include <vector>

namespace Velmora::Assistant {
namespace {

constexpr std::array<const char*, 4> kDigestNames = {"MD4", "MD5", "SHA1", "SHA256"};
constexpr std::size_t kChunkSize = 256 * 1024;

// What start-up registered. The digests stay fetched so that each computation does not look
// them up again; MD4 lives in the legacy provider, which is therefore loaded next to the default.
struct Registered {
    std::mutex lock;
    OSSL_PROVIDER* defaultProvider = nullptr;
    OSSL_PROVIDER* legacyProvider = nullptr;
    std::array<EVP_MD*, kDigestNames.size()> digests = {};
    EVP_CIPHER* aes256cbc = nullptr;
};

Registered& Table()
{
    static Registered table;
    return table;
}

struct MdDeleter {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
using OwnedMd = std::unique_ptr<EVP_MD, MdDeleter>;

// A reference of its own to the digest of `kind`, or null.
OwnedMd FetchDigest(int kind)
{
    if (kind < 0 || static_cast<std::size_t>(kind) >= kDigestNames.size())
        return nullptr;
    Registered& table = Table();
    {
        std::lock_guard guard(table.lock);
        EVP_MD* md = table.digests[static_cast<std::size_t>(kind)];
        if (md && EVP_MD_up_ref(md) == 1)
            return OwnedMd(md);
    }
    return OwnedMd(EVP_MD_fetch(nullptr, kDigestNames[static_cast<std::size_t>(kind)], nullptr));
}

std::string Hex(const unsigned char* bytes, std::size_t size)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(size * 2, '0');
    for (std::size_t i = 0; i < size; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return out;
}

} // namespace

bool RegisterCryptoAlgorithms()
{
    Registered& table = Table();
    std::lock_guard guard(table.lock);
    if (!table.defaultProvider)
        table.defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
    if (!table.legacyProvider)
        table.legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");
    bool complete = table.defaultProvider != nullptr && table.legacyProvider != nullptr;
    for (std::size_t i = 0; i < kDigestNames.size(); ++i) {
        if (!table.digests[i])
            table.digests[i] = EVP_MD_fetch(nullptr, kDigestNames[i], nullptr);
        complete = complete && table.digests[i] != nullptr;
    }
    if (!table.aes256cbc)
        table.aes256cbc = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
    return complete && table.aes256cbc != nullptr;
}

void ReleaseCryptoAlgorithms()
{
    Registered& table = Table();
    std::lock_guard guard(table.lock);
    for (EVP_MD*& md : table.digests) {
        EVP_MD_free(md);
        md = nullptr;
    }
    EVP_CIPHER_free(table.aes256cbc);
    table.aes256cbc = nullptr;
    if (table.legacyProvider)
        OSSL_PROVIDER_unload(table.legacyProvider);
    if (table.defaultProvider)
        OSSL_PROVIDER_unload(table.defaultProvider);
    table.legacyProvider = nullptr;
    table.defaultProvider = nullptr;
}

struct DigestStream::State {
    struct CtxDeleter {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    OwnedMd md;
    std::unique_ptr<EVP_MD_CTX, CtxDeleter> ctx;
};

DigestStream::DigestStream(int kind)
{
    auto state = std::make_unique<State>();
    state->md = FetchDigest(kind);
    if (!state->md)
        return;
    state->ctx.reset(EVP_MD_CTX_new());
    if (!state->ctx || EVP_DigestInit_ex2(state->ctx.get(), state->md.get(), nullptr) != 1)
        return;
    state_ = std::move(state);
}

DigestStream::~DigestStream() = default;

void DigestStream::Update(const void* data, std::size_t size)
{
    if (state_ && size > 0 && EVP_DigestUpdate(state_->ctx.get(), data, size) != 1)
        state_.reset();
}

std::string DigestStream::FinishHex()
{
    if (!state_)
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    const bool done = EVP_DigestFinal_ex(state_->ctx.get(), digest, &size) == 1;
    state_.reset();
    return done ? Hex(digest, size) : std::string();
}

std::string DigestHex(std::string_view bytes, int kind)
{
    DigestStream stream(kind);
    stream.Update(bytes.data(), bytes.size());
    return stream.FinishHex();
}

std::string StreamDigestHex(const ReadChunk& read, int kind)
{
    DigestStream stream(kind);
    if (!stream.IsValid())
        return {};
    std::vector<unsigned char> buffer(kChunkSize);
    for (;;) {
        const std::int64_t got = read(buffer.data(), buffer.size());
        if (got < 0)
            return {};
        if (got == 0)
            break;
        stream.Update(buffer.data(), static_cast<std::size_t>(got));
    }
    return stream.FinishHex();
}

} // namespace Velmora::Assistant
