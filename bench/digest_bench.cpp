// Digests of a large file computed in chunks: MB/s for MD5 and SHA-1 and the peak memory of the
// process, which stays near its baseline whatever the file size.
//   digest_bench [size-in-MB] [path]     (defaults: 512 MB in the temporary folder)
#include "checks/digest.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace Velmora::Assistant;

namespace {

long PeakKiB()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool WriteTestFile(const std::string& path, std::size_t megabytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    std::vector<unsigned char> block(1 << 20);
    bool ok = true;
    for (std::size_t m = 0; m < megabytes && ok; ++m) {
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<unsigned char>((i * 131 + m * 7) ^ (i >> 11));
        ok = std::fwrite(block.data(), 1, block.size(), file) == block.size();
    }
    return std::fclose(file) == 0 && ok;
}

std::string HashFile(const std::string& path, int kind)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {};
    const std::string hex = StreamDigestHex(
        [file](void* buffer, std::size_t capacity) -> std::int64_t {
            const std::size_t got = std::fread(buffer, 1, capacity, file);
            return std::ferror(file) ? -1 : static_cast<std::int64_t>(got);
        },
        kind);
    std::fclose(file);
    return hex;
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 512;
    const char* temp = std::getenv("TMPDIR");
    const std::string path =
        argc > 2 ? argv[2] : std::string(temp ? temp : "/tmp") + "/velmora-digest-bench.bin";

    RegisterCryptoAlgorithms();
    if (!WriteTestFile(path, megabytes)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    const long baseline = PeakKiB();
    std::printf("file: %zu MB, peak memory before hashing: %ld KiB\n", megabytes, baseline);
    for (const auto& [kind, name] : {std::pair{kDigestMd5, "MD5"}, std::pair{kDigestSha1, "SHA-1"}}) {
        HashFile(path, kind); // warm the page cache so that the figure is the digest's, not the disk's
        const auto start = std::chrono::steady_clock::now();
        const std::string hex = HashFile(path, kind);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-6s %s  %8.1f MB/s  peak memory %ld KiB (+%ld KiB over baseline)\n", name, hex.c_str(),
                    static_cast<double>(megabytes) / seconds, PeakKiB(), PeakKiB() - baseline);
    }
    std::remove(path.c_str());
    ReleaseCryptoAlgorithms();
    return 0;
}
