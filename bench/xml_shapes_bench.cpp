// Throughput of the XML reader and the configuration parser on hostile document shapes next to a
// clean check document of the same size. Every shape should stay within a small factor of the
// clean figure; one that falls off with size has a cost that grows faster than the text.
//   xml_shapes_bench [size-in-MB ...]     (defaults: 1 8)
// The reader is timed on SetText plus a walk that reads every element the way the configuration
// parser does (attributes in order, text, enter and leave); the parser on ParseCheckConfig. Shapes
// dense in elements cost more per byte; elements per second shows what each element costs.
#include "check_document.h"
#include "checks/check_config.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using Velmora::Xml::XmlDocument;

namespace {

// Appends `unit(i)` for i = 0, 1, ... until `text` holds `bytes` (the closing part excluded).
std::string Repeat(std::string text, std::size_t bytes, const std::function<std::string(std::size_t)>& unit)
{
    for (std::size_t i = 0; text.size() < bytes; ++i)
        text += unit(i);
    return text;
}

std::string Times(std::string_view piece, std::size_t count)
{
    std::string out;
    out.reserve(piece.size() * count);
    for (std::size_t i = 0; i < count; ++i)
        out += piece;
    return out;
}

// Visits every element through the navigation interface, without recursion, reading what the
// configuration parser reads. Returns a figure that depends on everything read.
std::size_t ReadEverything(XmlDocument& doc)
{
    const auto& e = doc.Elements();
    std::vector<std::uint32_t> resume; // next sibling to visit, per entered level
    std::size_t sum = 0;
    std::string name, value;
    std::uint32_t next = e[0].firstChild;
    for (;;) {
        if (next) {
            if (!doc.FindElement(doc.TagName(next)) || doc.MainElement() != next)
                std::abort();
            for (std::size_t i = 0; doc.AttributeAt(i, name, value); ++i)
                sum += name.size() + value.size();
            sum += doc.ElementText().size() + doc.GetAttribute("type").size();
            doc.EnterElement();
            resume.push_back(e[next].nextSibling);
            next = e[next].firstChild;
        } else {
            if (resume.empty())
                break;
            doc.LeaveElement();
            next = resume.back();
            resume.pop_back();
        }
    }
    return sum;
}

struct Shape {
    const char* name;
    bool config; // timed through the configuration parser rather than the reader walk
    std::function<std::string(std::size_t bytes)> make;
};

std::vector<Shape> Shapes()
{
    return {
        {"clean check document", false, MakeCheckDocument},
        {"one element, many attributes", false,
         [](std::size_t bytes) {
             return Repeat("<checkitems", bytes,
                           [](std::size_t i) {
                               return " a" + std::to_string(i) + "=\"v" + std::to_string(i % 97) + "\"";
                           }) +
                    "/>";
         }},
        {"deep nesting", false,
         [](std::size_t bytes) {
             const std::size_t depth = bytes / 7;
             return Times("<e>", depth) + Times("</e>", depth);
         }},
        {"long run of unended start tags", false,
         [](std::size_t bytes) { return "<r>" + Times("<u a='1'>", bytes / 9) + "</r>"; }},
        {"unended tags closed one by one", false,
         [](std::size_t bytes) {
             const std::size_t pairs = bytes / 10;
             return "<r>" + Times("<a><b>", pairs) + Times("</a>", pairs) + "</r>";
         }},
        {"lone end tags under open elements", false,
         [](std::size_t bytes) {
             const std::size_t count = bytes / 7;
             return Times("<e>", count) + Times("</x>", count);
         }},
        {"huge attribute value", false,
         [](std::size_t bytes) { return "<r a=\"" + std::string(bytes, 'v') + "\" b=\"1\"/>"; }},
        {"many entities", false,
         [](std::size_t bytes) {
             const std::string entities = "&amp;&#65;&#x4E2D;&lt;&eacute;&nosuch;&";
             const std::size_t count = bytes / 2 / entities.size();
             return "<r a=\"" + Times(entities, count) + "\">" + Times(entities, count) + "</r>";
         }},
        {"text, CDATA and comments", false,
         [](std::size_t bytes) {
             return "<r><d>" + Times("text <![CDATA[a<b]]> <!-- c --> <?p i?> ", bytes / 40) + "</d></r>";
         }},
        {"stray '<' in text", false,
         [](std::size_t bytes) { return "<r>" + Times("a < b ", bytes / 6) + "</r>"; }},
        {"clean check document", true, MakeCheckDocument},
        {"many distinct config types", true,
         [](std::size_t bytes) {
             return Repeat("<checkitems>", bytes,
                           [](std::size_t i) {
                               return "<config type=\"t" + std::to_string(i) + "\"><entry>x</entry></config>";
                           }) +
                    "</checkitems>";
         }},
        {"root with many attributes", true,
         [](std::size_t bytes) {
             return Repeat("<checkitems", bytes,
                           [](std::size_t i) { return " a" + std::to_string(i) + "=\"v\""; }) +
                    "/>";
         }},
        {"many items and entries", true,
         [](std::size_t bytes) {
             return Repeat("<checkitems>", bytes,
                           [](std::size_t i) {
                               const std::string n = std::to_string(i);
                               return "<item name=\"i" + n + "\" flag=\"f" + n +
                                      "\"><detect dtype=\"file\">a</detect><installer>b</installer>"
                                      "<uninstaller type=\"cmd\">c</uninstaller></item>";
                           }) +
                    "</checkitems>";
         }},
    };
}

// Best MB/s of a few rounds; a round repeats the work for at least a quarter second. A very slow
// shape gets fewer rounds so that the figure still comes in reasonable time.
double MegabytesPerSecond(const std::string& text, const std::function<void()>& work)
{
    using Clock = std::chrono::steady_clock;
    double best = 0;
    const auto begin = Clock::now();
    for (int round = 0; round < 5; ++round) {
        int iterations = 0;
        const auto start = Clock::now();
        std::chrono::duration<double> elapsed{};
        do {
            work();
            ++iterations;
            elapsed = Clock::now() - start;
        } while (elapsed.count() < 0.25);
        best = std::max(best, text.size() * double(iterations) / elapsed.count() / 1e6);
        if (std::chrono::duration<double>(Clock::now() - begin).count() > 5)
            break;
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<double> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atof(argv[i]));
    if (sizes.empty())
        sizes = {1, 8};

    std::size_t sink = 0;
    for (const double megabytes : sizes) {
        const auto bytes = static_cast<std::size_t>(megabytes * (1 << 20));
        std::printf("%-36s %-7s %6s %9s %9s %8s %11s\n", "shape", "through", "MB", "elements", "MB/s",
                    "x clean", "Melem/s");
        double clean[2] = {0, 0};
        for (const Shape& shape : Shapes()) {
            const std::string text = shape.make(bytes);
            const std::size_t elements = XmlDocument(text).Elements().size() - 1;
            double rate;
            if (shape.config) {
                rate = MegabytesPerSecond(text, [&] {
                    Velmora::Assistant::CheckConfig config;
                    sink += Velmora::Assistant::ParseCheckConfig(config, text) + config.Groups.size();
                });
            } else {
                rate = MegabytesPerSecond(text, [&] {
                    XmlDocument doc;
                    sink += doc.SetText(text);
                    sink += ReadEverything(doc);
                });
            }
            double& reference = clean[shape.config];
            if (reference == 0)
                reference = rate;
            std::printf("%-36s %-7s %6.2f %9zu %9.2f %8.3f %11.3f\n", shape.name,
                        shape.config ? "parser" : "reader", text.size() / 1048576.0, elements, rate,
                        rate / reference, rate * 1e6 / double(text.size()) * double(elements) / 1e6);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    return sink == 42 ? 1 : 0; // keeps the work from being optimised away
}
