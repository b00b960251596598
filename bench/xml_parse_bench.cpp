// Parse throughput of the XML reader against pugixml on the same generated check document
// (about 1 MB). Prints MB/s for both and their ratio; the best of several rounds counts.
#include "check_document.h"
#include "xml/xml_document.h"

#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

template <typename Parse> double BestMegabytesPerSecond(const std::string& text, Parse parse)
{
    using Clock = std::chrono::steady_clock;
    double best = 0;
    for (int round = 0; round < 7; ++round) {
        const int iterations = 20;
        const auto start = Clock::now();
        for (int i = 0; i < iterations; ++i)
            parse();
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        best = std::max(best, text.size() * double(iterations) / elapsed.count() / 1e6);
    }
    return best;
}

} // namespace

int main()
{
    const std::string text = MakeCheckDocument(1 << 20);
    std::size_t elements = 0;

    const double ours = BestMegabytesPerSecond(text, [&] {
        Velmora::Xml::XmlDocument doc;
        if (!doc.SetText(text))
            std::abort();
        elements = doc.Elements().size() - 1;
    });
    const double pugi = BestMegabytesPerSecond(text, [&] {
        pugi::xml_document doc;
        if (!doc.load_buffer(text.data(), text.size()))
            std::abort();
    });

    std::printf("document: %zu bytes, %zu elements\n", text.size(), elements);
    std::printf("XmlDocument::SetText  %8.1f MB/s\n", ours);
    std::printf("pugixml load_buffer   %8.1f MB/s\n", pugi);
    std::printf("ratio (ours / pugixml) %.2f\n", ours / pugi);
    return 0;
}
