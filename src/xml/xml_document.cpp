#include "xml/xml_document.h"

#include "xml/html_entities.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_map>

namespace Velmora::Xml {
namespace {

constexpr std::size_t kLogLimit = 999;
constexpr std::size_t kMaxReferenceLength = 9;

constexpr bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Characters that end a tag or attribute name.
constexpr bool EndsName(char c)
{
    return IsSpace(c) || c == '/' || c == '>' || c == '=' || c == '<';
}

// A tag name must start with something that can be a name; "< a", "<=" and the like are text.
constexpr bool StartsName(char c)
{
    return !EndsName(c) && c != '"' && c != '\'' && c != '!' && c != '?';
}

constexpr char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::size_t NameLength(std::string_view text, std::size_t from)
{
    std::size_t end = from;
    while (end < text.size() && !EndsName(text[end]))
        ++end;
    return end - from;
}

bool StartsWith(std::string_view text, std::size_t at, std::string_view prefix)
{
    return text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

// Where a tag read on from `from` is closed: just past its '>', quoted values honoured.
// A '<' outside quotes means the tag was never closed and reading goes on at that '<'; otherwise an
// unclosed tag runs to the end of the text.
struct TagEnd {
    std::size_t end;
    bool closed;
};

TagEnd FindTagEnd(std::string_view text, std::size_t from)
{
    const char* p = text.data() + from;
    const char* end = text.data() + text.size();
    while (p < end) {
        const char c = *p;
        if (c == '>')
            return {static_cast<std::size_t>(p - text.data()) + 1, true};
        if (c == '<')
            return {static_cast<std::size_t>(p - text.data()), false};
        if (c == '"' || c == '\'') {
            const void* close = std::memchr(p + 1, c, static_cast<std::size_t>(end - p - 1));
            if (!close)
                break;
            p = static_cast<const char*>(close);
        }
        ++p;
    }
    return {text.size(), false};
}

// Position just past the closing `terminator`, or npos.
std::size_t FindAfter(std::string_view text, std::size_t from, std::string_view terminator)
{
    const std::size_t at = text.find(terminator, from);
    return at == std::string_view::npos ? at : at + terminator.size();
}

// End of a document type declaration: its name and external identifier, then an optional internal
// subset in brackets. The subset's comments, processing instructions and declarations are skipped
// whole, so quoted text or remarks in them may hold any of ' " > ] freely.
TagEnd FindDoctypeEnd(std::string_view text, std::size_t from)
{
    const TagEnd unterminated{text.size(), false};
    bool inSubset = false;
    std::size_t i = from;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
            const std::size_t close = text.find(c, i + 1);
            if (close == std::string_view::npos)
                return unterminated;
            i = close + 1;
        } else if (inSubset && c == '<' && StartsWith(text, i, "<!--")) {
            i = FindAfter(text, i + 4, "-->");
            if (i == std::string_view::npos)
                return unterminated;
        } else if (inSubset && c == '<' && StartsWith(text, i, "<?")) {
            i = FindAfter(text, i + 2, "?>");
            if (i == std::string_view::npos)
                return unterminated;
        } else if (inSubset && c == '<' && StartsWith(text, i, "<!")) {
            const TagEnd declaration = FindTagEnd(text, i + 2);
            if (!declaration.closed && declaration.end == text.size())
                return unterminated;
            i = declaration.end;
        } else if (c == '<' && !inSubset) {
            return {i, false}; // a tag where the declaration should have ended
        } else {
            if (c == '[')
                inSubset = true;
            else if (c == ']')
                inSubset = false;
            else if (c == '>' && !inSubset)
                return {i + 1, true};
            ++i;
        }
    }
    return unterminated;
}

// What the markup opened by the '<' at `lt` is, and where it ends.
enum class MarkupKind { Text, StartTag, EndTag, Comment, Cdata, Instruction, Doctype, Declaration };

struct MarkupSpan {
    MarkupKind kind;
    std::size_t nameLength; // of a start or end tag
    std::size_t end;        // past the markup; if not closed, where reading goes on
    bool closed;
};

MarkupSpan ScanMarkup(std::string_view text, std::size_t lt)
{
    const auto skipTo = [&](MarkupKind kind, std::size_t end) {
        return end == std::string_view::npos ? MarkupSpan{kind, 0, text.size(), false}
                                             : MarkupSpan{kind, 0, end, true};
    };
    const auto tag = [&](MarkupKind kind, std::size_t nameStart) {
        const std::size_t nameLength = NameLength(text, nameStart);
        const TagEnd end = FindTagEnd(text, nameStart + nameLength);
        return MarkupSpan{kind, nameLength, end.end, end.closed};
    };
    const std::size_t next = lt + 1;
    if (next >= text.size())
        return {MarkupKind::Text, 0, next, false};
    const char c = text[next];
    if (c == '/')
        return tag(MarkupKind::EndTag, lt + 2);
    if (c == '?')
        return skipTo(MarkupKind::Instruction, FindAfter(text, lt + 2, "?>"));
    if (c == '!') {
        if (StartsWith(text, lt, "<!--"))
            return skipTo(MarkupKind::Comment, FindAfter(text, lt + 4, "-->"));
        if (StartsWith(text, lt, "<![CDATA["))
            return skipTo(MarkupKind::Cdata, FindAfter(text, lt + 9, "]]>"));
        if (StartsWith(text, lt, "<!DOCTYPE")) {
            const TagEnd end = FindDoctypeEnd(text, lt + 9);
            return {MarkupKind::Doctype, 0, end.end, end.closed};
        }
        const TagEnd end = FindTagEnd(text, lt + 2);
        return {MarkupKind::Declaration, 0, end.end, end.closed};
    }
    if (!StartsName(c))
        return {MarkupKind::Text, 0, next, true};
    return tag(MarkupKind::StartTag, next);
}

bool DecodeNumericReference(std::string_view digits, std::uint32_t& codePoint)
{
    unsigned base = 10;
    if (!digits.empty() && digits[0] == 'x') {
        base = 16;
        digits.remove_prefix(1);
    }
    if (digits.empty())
        return false;
    std::uint32_t value = 0;
    for (char c : digits) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            return false;
        value = value * base + digit; // at most 7 digits: no overflow
    }
    // Nothing that cannot be written as valid UTF-8.
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return false;
    codePoint = value;
    return true;
}

// Reads the attribute of a start tag's attribute area that follows `pos` and moves `pos` past it;
// false when there is none. Lenient: unquoted values, names without values, stray characters.
bool NextAttribute(std::string_view area, std::size_t& pos, std::string_view& name, std::string_view& value)
{
    const auto skipSpace = [&] {
        while (pos < area.size() && IsSpace(area[pos]))
            ++pos;
    };
    while (pos < area.size()) {
        skipSpace();
        if (pos >= area.size() || area[pos] == '>' || area[pos] == '/')
            break;
        const std::size_t nameStart = pos;
        while (pos < area.size() && !EndsName(area[pos]))
            ++pos;
        name = area.substr(nameStart, pos - nameStart);
        skipSpace();
        value = {};
        if (pos < area.size() && area[pos] == '=') {
            ++pos;
            skipSpace();
            if (pos < area.size() && (area[pos] == '"' || area[pos] == '\'')) {
                const std::size_t close = area.find(area[pos], pos + 1);
                const std::size_t valueEnd = close == std::string_view::npos ? area.size() : close;
                value = area.substr(pos + 1, valueEnd - pos - 1);
                pos = valueEnd + 1;
            } else {
                const std::size_t valueStart = pos;
                while (pos < area.size() && !IsSpace(area[pos]) && area[pos] != '>')
                    ++pos;
                value = area.substr(valueStart, pos - valueStart);
            }
        }
        if (name.empty()) {
            ++pos; // a stray '=' or '<': step over it
            continue;
        }
        return true;
    }
    return false;
}

} // namespace

void AppendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string DecodeEntities(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t amp = text.find('&', pos);
        if (amp == std::string_view::npos) {
            out.append(text, pos);
            break;
        }
        out.append(text, pos, amp - pos);
        pos = amp + 1;

        const std::size_t limit = std::min(text.size(), amp + 1 + kMaxReferenceLength + 1);
        const std::size_t semicolon = text.substr(0, limit).find(';', amp + 1);
        std::uint32_t codePoint = 0;
        bool resolved = false;
        if (semicolon != std::string_view::npos && semicolon > amp + 1) {
            char name[kMaxReferenceLength] = {};
            const std::size_t length = semicolon - amp - 1;
            for (std::size_t i = 0; i < length; ++i)
                name[i] = Lower(text[amp + 1 + i]);
            const std::string_view lowered(name, length);
            if (lowered[0] == '#') {
                resolved = DecodeNumericReference(lowered.substr(1), codePoint);
            } else {
                // Exact case first, so that "Aacute" and "aacute" keep their own characters.
                const auto entity = LookupEntity(text.substr(amp + 1, length));
                resolved = entity.has_value();
                if (resolved)
                    codePoint = *entity;
            }
        }
        if (resolved) {
            AppendUtf8(out, codePoint);
            pos = semicolon + 1;
        } else {
            out += '&';
        }
    }
    return out;
}

// One pass over the text; builds the element index and the parse log.
class XmlDocument::Parser {
public:
    explicit Parser(XmlDocument& doc)
        : doc_(doc), text_(doc.text_), records_(doc.elements_), topByName_(0, NameKey{&doc}, NameKey{&doc})
    {
    }

    void Run()
    {
        std::size_t pos = 0;
        while (pos < text_.size()) {
            const void* lt = std::memchr(text_.data() + pos, '<', text_.size() - pos);
            if (!lt)
                break;
            pos = static_cast<std::size_t>(static_cast<const char*>(lt) - text_.data());
            pos = Markup(pos);
        }
        CloseUnended(0);
        if (moved_)
            SetLevels();
        Finish();
    }

private:
    struct OpenElement {
        std::uint32_t index;
        std::uint32_t nameLength;
        // Once indexed: stack depth + 1 of the next open element of the same name (0: none), and
        // the name's entry in topByName_.
        std::uint32_t below;
        std::uint32_t* top;
    };

    // Hashes and compares tag names the way the document matches them.
    struct NameKey {
        const XmlDocument* doc;
        std::size_t operator()(std::string_view name) const
        {
            const bool fold = doc->options_ & MatchNameNoCase;
            std::uint64_t hash = 14695981039346656037ull; // FNV-1a
            for (const char c : name) {
                hash ^= static_cast<unsigned char>(fold ? Lower(c) : c);
                hash *= 1099511628211ull;
            }
            return static_cast<std::size_t>(hash);
        }
        bool operator()(std::string_view a, std::string_view b) const { return doc->NameEquals(a, b); }
    };

    // Handles the markup at `pos` (a '<'); returns where scanning goes on.
    std::size_t Markup(std::size_t pos)
    {
        if (pos + 1 >= text_.size())
            return SyntaxError("unterminated_tag_syntax", pos, text_.size());
        const MarkupSpan markup = ScanMarkup(text_, pos);
        const auto closedOr = [&](const char* errorName) {
            return markup.closed ? markup.end : SyntaxError(errorName, pos, markup.end);
        };
        switch (markup.kind) {
        case MarkupKind::Text:
            // A stray '<' in text: note it and read on as text.
            return SyntaxError("first_tag_syntax", pos, markup.end);
        case MarkupKind::StartTag:
            return markup.closed ? StartTag(pos, markup) : closedOr("unterminated_tag_syntax");
        case MarkupKind::EndTag:
            return markup.closed ? EndTag(pos, markup) : closedOr("unterminated_tag_syntax");
        case MarkupKind::Instruction:
            return closedOr("unterminated_tag_syntax");
        case MarkupKind::Comment:
            return closedOr("comment_tag_syntax");
        case MarkupKind::Cdata:
            return closedOr("cdata_section_syntax");
        case MarkupKind::Doctype:
            return closedOr("doctype_tag_syntax");
        case MarkupKind::Declaration:
            break;
        }
        return SyntaxError("exclamation_tag_syntax", pos, markup.end);
    }

    std::size_t StartTag(std::size_t pos, const MarkupSpan& tag)
    {
        const std::size_t end = tag.end;
        const std::uint32_t current = Current();
        const std::uint32_t index = NewRecord();
        ElementRecord& rec = records_[index];
        rec.start = static_cast<std::uint32_t>(pos);
        rec.startTagLength = static_cast<std::uint32_t>(end - pos);
        rec.length = rec.startTagLength;
        rec.level = static_cast<std::uint16_t>(std::min<unsigned>(records_[current].level + 1u, 0xFFFF));
        AppendChild(current, index);

        const bool selfClosing = end - pos >= 2 && text_[end - 2] == '/';
        if (!selfClosing) {
            open_.push_back({index, static_cast<std::uint32_t>(tag.nameLength), 0, nullptr});
            if (indexed_)
                Index(open_.size() - 1);
        }
        return end;
    }

    // Enters the open element at stack depth `depth` into the index by name; elements are entered
    // from the bottom of the stack up.
    void Index(std::size_t depth)
    {
        OpenElement& open = open_[depth];
        std::uint32_t& top =
            topByName_.try_emplace(text_.substr(records_[open.index].start + 1, open.nameLength), 0)
                .first->second;
        open.below = top;
        open.top = &top;
        top = static_cast<std::uint32_t>(depth + 1);
    }

    std::size_t EndTag(std::size_t pos, const MarkupSpan& tag)
    {
        const std::size_t nameLength = tag.nameLength;
        const std::size_t end = tag.end;
        const std::string_view name = text_.substr(pos + 2, nameLength);

        // The innermost open element of that name: usually the current one, else found by name.
        // A well-formed document never needs the index, so it is built only on the first miss.
        std::size_t found = 0;
        if (!open_.empty() && open_.back().nameLength == nameLength &&
            doc_.NameEquals(text_.substr(records_[open_.back().index].start + 1, nameLength), name)) {
            found = open_.size();
        } else {
            if (!indexed_) {
                indexed_ = true;
                for (std::size_t depth = 0; depth < open_.size(); ++depth)
                    Index(depth);
            }
            if (const auto it = topByName_.find(name); it != topByName_.end())
                found = it->second;
        }
        if (found) {
            const std::uint32_t matched = open_[found - 1].index;
            CloseUnended(found);
            ElementRecord& rec = records_[matched];
            rec.length = static_cast<std::uint32_t>(end - rec.start);
            rec.endTagLength = static_cast<std::uint32_t>(end - pos);
            Pop(found - 1);
            return end;
        }
        MarkError(Current());
        Log("lone_end_tag", "tagname", name, "offset", pos);
        return end;
    }

    // Closes every open element from stack depth `from` up as an unended start tag: each becomes
    // empty and its children move up to follow it, so all of them end up as children of the
    // element below `from`, in document order.
    void CloseUnended(std::size_t from)
    {
        if (from >= open_.size())
            return;
        const std::uint32_t keeper = from == 0 ? 0 : open_[from - 1].index;
        const std::uint32_t first = open_[from].index;

        // Moved records get their levels once at the end (SetLevels); each record moves at most
        // once, since its new parent is closed right after or is the document.
        std::uint32_t tail = first;
        for (std::size_t depth = from; depth < open_.size(); ++depth) {
            const std::uint32_t e = open_[depth].index;
            ElementRecord& rec = records_[e];
            if (const std::uint32_t child = rec.firstChild) {
                const std::uint32_t last = records_[child].prevSibling;
                for (std::uint32_t c = child; c; c = records_[c].nextSibling)
                    records_[c].parent = keeper;
                records_[child].flags &= static_cast<std::uint16_t>(~FirstChild);
                records_[child].prevSibling = tail;
                records_[tail].nextSibling = child;
                tail = last;
                rec.firstChild = 0;
                moved_ = true;
            }
            rec.length = rec.startTagLength;
            rec.endTagLength = 0;
            rec.flags |= UnendedStart;
            Log("unended_start_tag", "tagname", text_.substr(rec.start + 1, open_[depth].nameLength),
                "offset", rec.start);
        }
        records_[records_[keeper].firstChild].prevSibling = tail;
        MarkError(keeper);
        Pop(from);
    }

    // Drops the open elements from stack depth `from` up.
    void Pop(std::size_t from)
    {
        for (std::size_t depth = open_.size(); depth-- > from;) {
            if (open_[depth].top)
                *open_[depth].top = open_[depth].below;
        }
        open_.resize(from);
    }

    // A parent always comes before its children in the index, so one pass in order sets each level.
    // Only needed when records moved; otherwise each got its level when it was created.
    void SetLevels()
    {
        for (std::size_t i = 1; i < records_.size(); ++i) {
            ElementRecord& rec = records_[i];
            rec.level =
                static_cast<std::uint16_t>(std::min<unsigned>(records_[rec.parent].level + 1u, 0xFFFF));
        }
    }

    void Finish()
    {
        const ElementRecord& document = records_[0];
        if (!document.firstChild) {
            Log("no_root_element", {}, {}, {}, 0, false);
            return;
        }
        if (const std::uint32_t sibling = records_[document.firstChild].nextSibling) {
            const ElementRecord& rec = records_[sibling];
            Log("root_has_sibling", "tagname", doc_.TagName(sibling), "offset", rec.start);
        }
    }

    std::size_t SyntaxError(const char* name, std::size_t pos, std::size_t resume)
    {
        MarkError(Current());
        Log(name, {}, {}, "offset", pos);
        return resume;
    }

    void MarkError(std::uint32_t element)
    {
        records_[0].flags |= IllFormed;
        if (element)
            records_[element].flags |= ErrorBelow;
    }

    std::uint32_t Current() const { return open_.empty() ? 0 : open_.back().index; }

    std::uint32_t NewRecord()
    {
        if (records_.size() == records_.capacity())
            records_.reserve(records_.capacity() + records_.capacity() / 2 + 1);
        records_.emplace_back();
        return static_cast<std::uint32_t>(records_.size() - 1);
    }

    void AppendChild(std::uint32_t parent, std::uint32_t child)
    {
        ElementRecord& p = records_[parent];
        ElementRecord& c = records_[child];
        c.parent = parent;
        if (!p.firstChild) {
            p.firstChild = child;
            c.flags |= FirstChild;
            c.prevSibling = child;
            return;
        }
        ElementRecord& first = records_[p.firstChild];
        const std::uint32_t last = first.prevSibling;
        records_[last].nextSibling = child;
        c.prevSibling = last;
        first.prevSibling = child;
    }

    void Log(std::string_view event, std::string_view attrName, std::string_view attrValue,
             std::string_view numberName, std::size_t number, bool hasNumber = true)
    {
        std::string& log = doc_.log_;
        if (log.size() > kLogLimit)
            return;
        log += '<';
        log += event;
        if (!attrName.empty()) {
            log += ' ';
            log += attrName;
            log += "=\"";
            for (char c : attrValue.substr(0, 64)) {
                if (c == '"' || c == '<' || c == '&')
                    log += '_';
                else
                    log += c;
            }
            log += '"';
        }
        if (hasNumber && !numberName.empty()) {
            log += ' ';
            log += numberName;
            log += "=\"";
            log += std::to_string(number);
            log += '"';
        }
        log += "/>";
    }

    XmlDocument& doc_;
    std::string_view text_;
    std::vector<ElementRecord>& records_;
    std::vector<OpenElement> open_;
    // Tag name -> stack depth + 1 of the innermost open element of that name (0: none open), so an
    // end tag finds its element without scanning the stack.
    std::unordered_map<std::string_view, std::uint32_t, NameKey, NameKey> topByName_;
    bool indexed_ = false;
    bool moved_ = false; // some record changed parent, so levels are set again at the end
};

XmlDocument::XmlDocument()
{
    elements_.emplace_back();
}

XmlDocument::XmlDocument(std::string_view text)
{
    SetText(text);
}

bool XmlDocument::SetText(std::string_view text)
{
    elements_.clear();
    elements_.shrink_to_fit();
    log_.clear();
    parent_ = main_ = child_ = 0;
    attributeResume_ = {};

    // Offsets are 32-bit; a text that does not fit is refused outright.
    if (text.size() >= std::numeric_limits<std::uint32_t>::max()) {
        text_.clear();
        elements_.emplace_back();
        elements_[0].flags |= IllFormed;
        log_ = "<text_too_long length=\"" + std::to_string(text.size()) + "\"/>";
        return false;
    }
    text_.assign(text);
    elements_.reserve(text_.size() / 64 + 8);
    elements_.emplace_back();
    Parser(*this).Run();

    const ElementRecord& document = elements_[0];
    return document.firstChild != 0 && elements_[document.firstChild].nextSibling == 0 &&
           !(document.flags & IllFormed);
}

std::string_view XmlDocument::TagName(std::uint32_t element) const
{
    if (element == 0 || element >= elements_.size())
        return {};
    const std::size_t start = elements_[element].start + 1;
    return std::string_view(text_).substr(start, NameLength(text_, start));
}

bool XmlDocument::NameEquals(std::string_view a, std::string_view b) const
{
    if (a.size() != b.size())
        return false;
    if (!(options_ & MatchNameNoCase))
        return a == b;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

bool XmlDocument::FindElement(std::string_view name)
{
    std::uint32_t at = main_ ? elements_[main_].nextSibling : elements_[parent_].firstChild;
    for (; at; at = elements_[at].nextSibling) {
        if (NameEquals(TagName(at), name)) {
            main_ = at;
            child_ = 0;
            return true;
        }
    }
    return false;
}

bool XmlDocument::EnterElement()
{
    if (!main_)
        return false;
    parent_ = main_;
    main_ = child_;
    child_ = 0;
    return true;
}

bool XmlDocument::LeaveElement()
{
    if (!parent_)
        return false;
    child_ = main_;
    main_ = parent_;
    parent_ = elements_[parent_].parent;
    return true;
}

void XmlDocument::RestartLevel()
{
    main_ = 0;
    child_ = 0;
}

std::string XmlDocument::FinishValue(std::string value) const
{
    if (!(options_ & TrimValues))
        return value;
    std::string out;
    out.reserve(value.size());
    bool pendingSpace = false;
    for (char c : value) {
        if (IsSpace(c)) {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace)
            out += ' ';
        pendingSpace = false;
        out += c;
    }
    return out;
}

std::string XmlDocument::ElementText() const
{
    if (!main_)
        return {};
    const ElementRecord& rec = elements_[main_];
    if (rec.firstChild || rec.endTagLength == 0)
        return {};
    const std::string_view content = std::string_view(text_).substr(
        rec.start + rec.startTagLength, rec.length - rec.startTagLength - rec.endTagLength);
    // Markup is read as the parser read it, so what it skipped contributes nothing here either.
    std::string out;
    std::size_t pos = 0;
    while (pos < content.size()) {
        const std::size_t lt = content.find('<', pos);
        out += DecodeEntities(content.substr(pos, lt == std::string_view::npos ? lt : lt - pos));
        if (lt == std::string_view::npos)
            break;
        const MarkupSpan markup = ScanMarkup(content, lt);
        if (markup.kind == MarkupKind::Text) {
            out += '<'; // a stray '<' is text
        } else if (markup.kind == MarkupKind::Cdata) {
            const std::size_t end = markup.closed ? markup.end - 3 : content.size();
            out.append(content.substr(lt + 9, end - lt - 9));
        }
        if (!markup.closed && markup.end >= content.size())
            break;
        pos = markup.end;
    }
    return FinishValue(std::move(out));
}

std::string_view XmlDocument::AttributeArea(std::uint32_t element) const
{
    const ElementRecord& rec = elements_[element];
    const std::size_t nameEnd = rec.start + 1 + TagName(element).size();
    return std::string_view(text_).substr(nameEnd, rec.start + rec.startTagLength - nameEnd);
}

bool XmlDocument::AttributeAt(std::size_t n, std::string& name, std::string& value) const
{
    if (!main_)
        return false;
    const std::string_view area = AttributeArea(main_);
    // Reading on from where the previous call stopped keeps the usual 0, 1, 2, ... loop linear.
    std::size_t index = 0;
    std::size_t pos = 0;
    if (attributeResume_.element == main_ && attributeResume_.index <= n) {
        index = attributeResume_.index;
        pos = attributeResume_.offset;
    }
    std::string_view attrName, rawValue;
    for (;; ++index) {
        const bool found = NextAttribute(area, pos, attrName, rawValue);
        if (!found || index == n) {
            attributeResume_ = {main_, found ? index + 1 : index, pos};
            if (!found)
                return false;
            break;
        }
    }
    name.assign(attrName);
    value = FinishValue(DecodeEntities(rawValue));
    return true;
}

std::string XmlDocument::GetAttribute(std::string_view name) const
{
    if (!main_)
        return {};
    const std::string_view area = AttributeArea(main_);
    std::size_t pos = 0;
    std::string_view attrName, rawValue;
    while (NextAttribute(area, pos, attrName, rawValue)) {
        if (NameEquals(attrName, name))
            return FinishValue(DecodeEntities(rawValue));
    }
    return {};
}

} // namespace Velmora::Xml
