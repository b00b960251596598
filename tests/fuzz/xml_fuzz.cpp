// Feeds arbitrary text to the XML reader, walks every element through the navigation interface,
// reads every value, and checks that the element index stays consistent.
#include "xml/xml_document.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

using Velmora::Xml::XmlDocument;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckIndex(const XmlDocument& doc)
{
    const auto& e = doc.Elements();
    for (std::uint32_t p = 0; p < e.size(); ++p) {
        std::uint32_t prev = 0;
        std::size_t count = 0;
        for (std::uint32_t c = e[p].firstChild; c; c = e[c].nextSibling) {
            Check(c < e.size() && ++count <= e.size());
            Check(e[c].parent == p);
            Check(prev == 0 || e[c].prevSibling == prev);
            Check(e[c].start + e[c].length <= doc.Text().size());
            prev = c;
        }
        if (e[p].firstChild)
            Check(e[e[p].firstChild].prevSibling == prev);
    }
}

void Walk(XmlDocument& doc, int depth)
{
    if (depth > 64)
        return;
    std::string name, value;
    doc.RestartLevel();
    // Reach each element on this level through FindElement with its own name.
    const auto& e = doc.Elements();
    for (std::uint32_t c = e[doc.ParentElement()].firstChild; c; c = e[c].nextSibling) {
        const std::string tag(doc.TagName(c));
        doc.RestartLevel();
        do
            Check(doc.FindElement(tag));
        while (doc.MainElement() != c);
        std::vector<std::pair<std::string, std::string>> inOrder;
        for (std::size_t i = 0; doc.AttributeAt(i, name, value); ++i) {
            Check(doc.GetAttribute(name).size() <= doc.Text().size() * 4);
            inOrder.emplace_back(name, value);
        }
        // Any order of reading gives the same attributes as reading them in order.
        for (std::size_t i = inOrder.size(); i-- > 0;)
            Check(doc.AttributeAt(i, name, value) && inOrder[i] == std::make_pair(name, value));
        Check(!doc.AttributeAt(inOrder.size(), name, value));
        (void)doc.ElementText();
        Check(doc.EnterElement());
        Walk(doc, depth + 1);
        Check(doc.LeaveElement());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    XmlDocument doc;
    doc.SetText(std::string_view(reinterpret_cast<const char*>(data), size));
    CheckIndex(doc);
    Walk(doc, 0);
    doc.SetOptions(XmlDocument::MatchNameNoCase | XmlDocument::TrimValues);
    Walk(doc, 0);
    return 0;
}
