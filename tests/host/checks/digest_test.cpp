#include "checks/digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace Velmora::Assistant {
namespace {

// As the application does: register at start-up, release at exit.
class CryptoEnvironment : public ::testing::Environment {
public:
    void SetUp() override { registered = RegisterCryptoAlgorithms(); }
    void TearDown() override { ReleaseCryptoAlgorithms(); }
    static inline bool registered = false;
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new CryptoEnvironment);

TEST(DigestHex, KnownVectorsOfEveryKind)
{
    ASSERT_TRUE(CryptoEnvironment::registered) << "every algorithm of the program is available";
    struct Case {
        int kind;
        const char* input;
        const char* hex;
    } cases[] = {
        {kDigestMd4, "", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {kDigestMd4, "abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {kDigestMd5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {kDigestMd5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {kDigestMd5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {kDigestSha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {kDigestSha1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {kDigestSha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DigestHex(c.input, c.kind), c.hex) << "kind " << c.kind << " of \"" << c.input << "\"";

    const std::string withZero("a\0b", 3);
    EXPECT_EQ(DigestHex(withZero, kDigestMd5), "70350f6027bce3713f6b76473084309b") << "bytes, not C text";
    EXPECT_EQ(DigestHex("abc", 4), "");
    EXPECT_EQ(DigestHex("abc", -1), "");
}

// Serves `data` in pieces of varying size, like a file read that returns short counts.
class PieceReader {
public:
    explicit PieceReader(const std::string& data) : data_(data) {}
    std::int64_t operator()(void* buffer, std::size_t capacity)
    {
        const std::size_t piece = std::min({capacity, data_.size() - at_, 1 + (calls_++ * 7919) % 300000});
        std::memcpy(buffer, data_.data() + at_, piece);
        at_ += piece;
        return static_cast<std::int64_t>(piece);
    }

private:
    const std::string& data_;
    std::size_t at_ = 0;
    std::size_t calls_ = 0;
};

TEST(StreamDigestHex, ChunkedResultEqualsTheWholeDigest)
{
    std::string data(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 131) ^ (i >> 9));
    for (int kind : {kDigestMd5, kDigestSha1, kDigestSha256}) {
        PieceReader reader(data);
        EXPECT_EQ(StreamDigestHex(std::ref(reader), kind), DigestHex(data, kind)) << "kind " << kind;
    }

    DigestStream stream(kDigestMd5);
    ASSERT_TRUE(stream.IsValid());
    stream.Update("ab", 2);
    stream.Update("", 0);
    stream.Update("c", 1);
    EXPECT_EQ(stream.FinishHex(), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_FALSE(stream.IsValid()) << "finishing ends the stream";
    EXPECT_EQ(stream.FinishHex(), "");
}

TEST(StreamDigestHex, AReadErrorGivesNoDigest)
{
    int calls = 0;
    const auto failing = [&calls](void* buffer, std::size_t) -> std::int64_t {
        if (++calls > 2)
            return -1;
        std::memset(buffer, 'x', 10);
        return 10;
    };
    EXPECT_EQ(StreamDigestHex(failing, kDigestMd5), "");
    EXPECT_EQ(StreamDigestHex([](void*, std::size_t) -> std::int64_t { return 0; }, kDigestSha1),
              "da39a3ee5e6b4b0d3255bfef95601890afd80709")
        << "an empty source has the digest of no bytes";
    EXPECT_EQ(StreamDigestHex([](void*, std::size_t) -> std::int64_t { return 0; }, 9), "");
}

} // namespace
} // namespace Velmora::Assistant
