#pragma once
// A small, lenient XML reader. The document text is held as UTF-8 and indexed in one pass; values
// are decoded only when asked for. Navigation walks one level at a time with three positions:
// the parent, the main element under it, and a remembered child position inside main.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::Xml {

class XmlDocument {
public:
    enum ElementFlag : std::uint16_t {
        IllFormed = 0x1,    // on the document node: some error was found
        UnendedStart = 0x2, // start tag never closed; the element is treated as empty
        ErrorBelow = 0x4,   // an error lies inside this element
        FirstChild = 0x8,
    };

    enum Option : unsigned {
        MatchNameNoCase = 0x1, // element and attribute names compared without case
        TrimValues = 0x2,      // returned values trimmed, inner whitespace runs collapsed
    };

    struct ElementRecord {
        std::uint32_t start = 0;  // offset of '<' of the start tag
        std::uint32_t length = 0; // start tag through end tag
        std::uint32_t startTagLength = 0;
        std::uint32_t endTagLength = 0;
        std::uint16_t flags = 0;
        std::uint16_t level = 0; // 0 for the document node, 1 for the root element
        std::uint32_t parent = 0;
        std::uint32_t firstChild = 0;
        std::uint32_t nextSibling = 0;
        std::uint32_t prevSibling = 0; // of the first child: the last child
    };

    XmlDocument();
    explicit XmlDocument(std::string_view text);

    // Replaces the document and rebuilds the index. True when the parse was clean: one root
    // element and no error. The index stays navigable either way.
    bool SetText(std::string_view text);

    bool FindElement(std::string_view name);
    bool EnterElement();
    bool LeaveElement();
    void RestartLevel();

    std::string ElementText() const;
    std::string GetAttribute(std::string_view name) const;
    // Remembers where it stopped, so that reading n = 0, 1, 2, ... is one pass over the tag; like
    // navigation, it is not to be called on one document from two threads at once.
    bool AttributeAt(std::size_t n, std::string& name, std::string& value) const;

    void SetOptions(unsigned options) { options_ = options; }

    // Diagnostics.
    const std::string& Text() const { return text_; }
    const std::string& ParseLog() const { return log_; }
    const std::vector<ElementRecord>& Elements() const { return elements_; }
    std::size_t IndexCapacity() const { return elements_.capacity(); }
    std::uint32_t MainElement() const { return main_; }
    std::uint32_t ParentElement() const { return parent_; }
    std::string_view TagName(std::uint32_t element) const;

private:
    class Parser;

    bool NameEquals(std::string_view a, std::string_view b) const;
    std::string FinishValue(std::string value) const;
    std::string_view AttributeArea(std::uint32_t element) const;

    std::string text_;
    std::vector<ElementRecord> elements_;
    std::string log_;
    unsigned options_ = 0;
    std::uint32_t parent_ = 0;
    std::uint32_t main_ = 0;
    std::uint32_t child_ = 0;
    // The length of main_'s name when FindElement chose it by that name (0: not known), so that
    // reading its attributes need not measure the name again.
    std::uint32_t mainNameLength_ = 0;

    // Where the last AttributeAt stopped: the element, the index of the next attribute and its
    // offset in the element's attribute area.
    struct AttributeResume {
        std::uint32_t element = 0;
        std::size_t index = 0;
        std::size_t offset = 0;
    };
    mutable AttributeResume attributeResume_;
};

// Decodes character references: numeric ones and the HTML 4 named entities plus "apos". A reference
// that does not resolve is kept as typed.
std::string DecodeEntities(std::string_view text);

// Appends a code point as UTF-8 (one to four bytes).
void AppendUtf8(std::string& out, std::uint32_t codePoint);

} // namespace Velmora::Xml
