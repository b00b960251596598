// Parse throughput of the XML reader against pugixml on the same generated check document
// (about 1 MB). Prints MB/s for both and their ratio; the best of several rounds counts.
#include "xml/xml_document.h"

#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string MakeCheckDocument(std::size_t targetBytes)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<checkitems version=\"3\" base=\"https://bank.example/assist/\">\n";
    for (int i = 0; text.size() < targetBytes; ++i) {
        const std::string n = std::to_string(i);
        text += "  <config type=\"host\">\n    <data>host" + n +
                ".bank.example</data>\n"
                "    <data>www" +
                n +
                ".bank.example &amp; more</data>\n  </config>\n"
                "  <!-- item " +
                n +
                " -->\n"
                "  <item name=\"Control &#x4E2D;" +
                n +
                "\" type=\"regcheck\" checktype=\"1\">\n"
                "    <detect type=\"reg\" key=\"HKLM\\SOFTWARE\\Bank\\C" +
                n + "\" value=\"Version\" ver=\"&gt;=1.2.0." + n +
                "\"/>\n"
                "    <installer url=\"setup" +
                n +
                ".exe\" md5=\"0123456789abcdef0123456789abcdef\" cmd=\"/S\"/>\n"
                "  </item>\n";
    }
    text += "</checkitems>\n";
    return text;
}

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
