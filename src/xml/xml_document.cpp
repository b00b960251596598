#include "xml/xml_document.h"

#include "xml/html_entities.h"

#include <algorithm>
#include <cstring>
#include <limits>

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

// A start or end tag whose name starts at `nameStart`.
MarkupSpan ScanTag(std::string_view text, MarkupKind kind, std::size_t nameStart)
{
    const std::size_t nameLength = NameLength(text, nameStart);
    const TagEnd end = FindTagEnd(text, nameStart + nameLength);
    return MarkupSpan{kind, nameLength, end.end, end.closed};
}

MarkupSpan ScanMarkup(std::string_view text, std::size_t lt)
{
    const auto skipTo = [&](MarkupKind kind, std::size_t end) {
        return end == std::string_view::npos ? MarkupSpan{kind, 0, text.size(), false}
                                             : MarkupSpan{kind, 0, end, true};
    };
    const std::size_t next = lt + 1;
    if (next >= text.size())
        return {MarkupKind::Text, 0, next, false};
    const char c = text[next];
    if (c == '/')
        return ScanTag(text, MarkupKind::EndTag, lt + 2);
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
    return ScanTag(text, MarkupKind::StartTag, next);
}

// Bytes of `word` that equal `c`, each as its top bit; the others are 0.
constexpr std::uint64_t BytesEqual(std::uint64_t word, unsigned char c)
{
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t x = word ^ (0x0101010101010101ull * c);
    return ~(((x & kLow7) + kLow7) | x) & ~kLow7;
}

// Sum of the eight bytes of `lanes`.
constexpr std::size_t SumOfBytes(std::uint64_t lanes)
{
    constexpr std::uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
    const std::uint64_t pairs = (lanes & kEvenBytes) + ((lanes >> 8) & kEvenBytes);
    return static_cast<std::size_t>((pairs * 0x0001000100010001ull) >> 48);
}

// A bound on the start tags in `text` that the parser can read as elements, without reading the
// markup. Each such tag begins with a '<' followed by something that can start a name, and ends
// with a '>' of its own (a tag is read on from where the one before it ended). Both counts bound
// the tags; counting each '<' followed by anything but '/', '!' or one of "<=>?" keeps the first
// cheap and still tight for ordinary markup. As the two counts are of different characters, and
// what follows a counted '<' is neither, the smaller is at most a third of the text.
std::size_t StartTagsAtMost(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t starts = 0;
    std::size_t closes = 0;
    std::size_t i = 0;
    // Eight bytes at a time, counted per byte lane; a lane holds at most 255 before it is summed.
    // "<=>?" are 0x3C to 0x3F, the bytes that give '?' with their two low bits set.
    constexpr std::uint64_t kLowBits = 0x0303030303030303ull;
    while (n - i > 8) {
        std::uint64_t startLanes = 0;
        std::uint64_t closeLanes = 0;
        for (int round = 0; round < 255 && n - i > 8; ++round, i += 8) {
            std::uint64_t word, next;
            std::memcpy(&word, p + i, 8);
            std::memcpy(&next, p + i + 1, 8);
            const std::uint64_t noName =
                BytesEqual(next | kLowBits, '?') | BytesEqual(next, '/') | BytesEqual(next, '!');
            startLanes += (BytesEqual(word, '<') & ~noName) >> 7;
            closeLanes += BytesEqual(word, '>') >> 7;
        }
        starts += SumOfBytes(startLanes);
        closes += SumOfBytes(closeLanes);
    }
    for (; i < n; ++i) {
        if (p[i] == '<' && i + 1 < n)
            starts += p[i + 1] != '/' && p[i + 1] != '!' && (p[i + 1] | 3) != '?';
        closes += p[i] == '>';
    }
    return std::min(starts, closes);
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
//
// The open elements are the current one and its ancestors: an element's parent is the element that
// was current when it started, and an open element never moves, so no stack of them is kept. Their
// `length` and `endTagLength` are only known when they close, which sets both; until then, once an
// end tag has missed, the name index keeps its state for each open element there (see Index).
class XmlDocument::Parser {
public:
    explicit Parser(XmlDocument& doc) : doc_(doc), text_(doc.text_), records_(doc.elements_), slots_(doc) {}

    void Run()
    {
        std::size_t pos = 0;
        while (pos < text_.size()) {
            if (text_[pos] != '<') {
                const void* lt = std::memchr(text_.data() + pos, '<', text_.size() - pos);
                if (!lt)
                    break;
                pos = static_cast<std::size_t>(static_cast<const char*>(lt) - text_.data());
            }
            pos = Markup(pos);
        }
        CloseUnended(0);
        if (moved_)
            SetLevels();
        Finish();
    }

private:
    // Tag names -> slots 0, 1, 2, ..., matched the way the document matches names. Open addressing
    // over a power of two, at most half full; the names are views into the text.
    class NameSlots {
    public:
        static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

        explicit NameSlots(const XmlDocument& doc) : doc_(doc) {}

        // The slot of `name`; kNone if it has none, unless `add` gives it the next one.
        std::uint32_t Find(std::string_view name, bool add)
        {
            if (add && 2 * (count_ + 1) > table_.size())
                Grow();
            if (table_.empty())
                return kNone;
            const std::size_t mask = table_.size() - 1;
            for (std::size_t i = Hash(name) & mask;; i = (i + 1) & mask) {
                Entry& entry = table_[i];
                if (!entry.name) {
                    if (!add)
                        return kNone;
                    entry = {name.data(), static_cast<std::uint32_t>(name.size()), count_};
                    return count_++;
                }
                if (doc_.NameEquals(std::string_view(entry.name, entry.length), name))
                    return entry.slot;
            }
        }

    private:
        struct Entry {
            const char* name = nullptr; // nullptr: free
            std::uint32_t length = 0;
            std::uint32_t slot = 0;
        };

        std::size_t Hash(std::string_view name) const
        {
            const bool fold = doc_.options_ & MatchNameNoCase;
            std::uint64_t hash = 14695981039346656037ull; // FNV-1a
            for (const char c : name) {
                hash ^= static_cast<unsigned char>(fold ? Lower(c) : c);
                hash *= 1099511628211ull;
            }
            return static_cast<std::size_t>(hash ^ (hash >> 32));
        }

        void Grow()
        {
            std::vector<Entry> old = std::move(table_);
            table_.assign(old.empty() ? 16 : 2 * old.size(), Entry{});
            const std::size_t mask = table_.size() - 1;
            for (const Entry& entry : old) {
                if (!entry.name)
                    continue;
                std::size_t i = Hash(std::string_view(entry.name, entry.length)) & mask;
                while (table_[i].name)
                    i = (i + 1) & mask;
                table_[i] = entry;
            }
        }

        const XmlDocument& doc_;
        std::vector<Entry> table_;
        std::uint32_t count_ = 0;
    };

    // Handles the markup at `pos` (a '<'); returns where scanning goes on.
    std::size_t Markup(std::size_t pos)
    {
        if (pos + 1 >= text_.size())
            return SyntaxError("unterminated_tag_syntax", pos, text_.size());
        // Start and end tags straight away, as ScanMarkup would read them: nearly all markup is.
        if (const char next = text_[pos + 1]; next == '/' || StartsName(next)) {
            const bool isEnd = next == '/';
            const MarkupSpan tag =
                ScanTag(text_, isEnd ? MarkupKind::EndTag : MarkupKind::StartTag, pos + (isEnd ? 2 : 1));
            if (!tag.closed)
                return SyntaxError("unterminated_tag_syntax", pos, tag.end);
            return isEnd ? EndTag(pos, tag) : StartTag(pos, tag);
        }
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
        if (records_.size() == records_.capacity())
            Grow(pos);
        const auto index = static_cast<std::uint32_t>(records_.size());
        const auto level =
            static_cast<std::uint16_t>(std::min<unsigned>(records_[current_].level + 1u, 0xFFFF));
        ElementRecord& rec = records_.emplace_back();
        rec.start = static_cast<std::uint32_t>(pos);
        rec.startTagLength = static_cast<std::uint32_t>(end - pos);
        rec.length = rec.startTagLength;
        rec.level = level;
        AppendChild(current_, index);

        const bool selfClosing = end - pos >= 2 && text_[end - 2] == '/';
        if (!selfClosing) {
            current_ = index;
            if (indexed_)
                Index(index);
        }
        return end;
    }

    // Enters the open element `e` into the index by name; elements are entered from the outermost
    // in. While `e` is open its `endTagLength` holds its name's slot and its `length` the next open
    // element out with the same name (0: none).
    void Index(std::uint32_t e)
    {
        const std::uint32_t slot = slots_.Find(doc_.TagName(e), true);
        if (slot == innermost_.size())
            innermost_.push_back(0);
        ElementRecord& rec = records_[e];
        rec.endTagLength = slot;
        rec.length = innermost_[slot];
        innermost_[slot] = e;
    }

    // Takes the open element `e`, the innermost of its name, out of the index.
    void Unindex(std::uint32_t e)
    {
        const ElementRecord& rec = records_[e];
        innermost_[rec.endTagLength] = rec.length;
    }

    // Whether the open element `e` has the name `name`.
    bool HasName(std::uint32_t e, std::string_view name) const
    {
        const std::size_t nameStart = records_[e].start + 1;
        // Matching characters are name characters, so if they match the start tag's name is at
        // least as long, and it ends inside its tag.
        return doc_.NameEquals(text_.substr(nameStart, name.size()), name) &&
               EndsName(text_[nameStart + name.size()]);
    }

    std::size_t EndTag(std::size_t pos, const MarkupSpan& tag)
    {
        const std::size_t end = tag.end;
        const std::string_view name = text_.substr(pos + 2, tag.nameLength);

        // The innermost open element of that name: usually the current one, else found by name.
        // A well-formed document never needs the index, so it is built only on the first miss.
        std::uint32_t found = 0;
        if (current_ && HasName(current_, name)) {
            found = current_;
        } else {
            if (!indexed_) {
                indexed_ = true;
                OpenAbove(0);
                for (std::size_t i = chain_.size(); i-- > 0;)
                    Index(chain_[i]);
            }
            if (const std::uint32_t slot = slots_.Find(name, false); slot != NameSlots::kNone)
                found = innermost_[slot];
        }
        if (found) {
            CloseUnended(found);
            if (indexed_)
                Unindex(found);
            ElementRecord& rec = records_[found];
            rec.length = static_cast<std::uint32_t>(end - rec.start);
            rec.endTagLength = static_cast<std::uint32_t>(end - pos);
            current_ = rec.parent;
            return end;
        }
        MarkError(current_);
        Log("lone_end_tag", "tagname", name, "offset", pos);
        return end;
    }

    // Collects the open elements inside the open element `keeper` (0: the document) in chain_,
    // innermost first.
    void OpenAbove(std::uint32_t keeper)
    {
        chain_.clear();
        for (std::uint32_t e = current_; e != keeper; e = records_[e].parent)
            chain_.push_back(e);
    }

    // Closes every open element inside the open element `keeper` (0: the document) as an unended
    // start tag: each becomes empty and its children move up to follow it, so all of them end up
    // as children of `keeper`, in document order.
    void CloseUnended(std::uint32_t keeper)
    {
        if (current_ == keeper)
            return;
        OpenAbove(keeper);
        if (indexed_) {
            for (const std::uint32_t e : chain_)
                Unindex(e);
        }
        current_ = keeper;

        // Moved records get their levels once at the end (SetLevels); each record moves at most
        // once, since its new parent is closed right after or is the document.
        std::uint32_t tail = chain_.back();
        for (std::size_t i = chain_.size(); i-- > 0;) {
            const std::uint32_t e = chain_[i];
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
            if (LogHasRoom())
                Log("unended_start_tag", "tagname", doc_.TagName(e), "offset", rec.start);
        }
        records_[records_[keeper].firstChild].prevSibling = tail;
        MarkError(keeper);
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
        MarkError(current_);
        Log(name, {}, {}, "offset", pos);
        return resume;
    }

    void MarkError(std::uint32_t element)
    {
        records_[0].flags |= IllFormed;
        if (element)
            records_[element].flags |= ErrorBelow;
    }

    // Makes room for the records of the start tags from `pos` on. SetText's first guess at their
    // number fits documents of ordinary density; a denser one grows once, to a bound on what the
    // rest of the text can hold, rather than step by step: its records can take many times the
    // size of its text. Kept out of line, as the count needs registers that StartTag would
    // otherwise save on every call.
    [[gnu::noinline]] void Grow(std::size_t pos)
    {
        records_.reserve(records_.size() + StartTagsAtMost(text_.substr(pos)));
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

    bool LogHasRoom() const { return doc_.log_.size() <= kLogLimit; }

    void Log(std::string_view event, std::string_view attrName, std::string_view attrValue,
             std::string_view numberName, std::size_t number, bool hasNumber = true)
    {
        if (LogHasRoom())
            AppendLog(event, attrName, attrValue, numberName, number, hasNumber);
    }

    void AppendLog(std::string_view event, std::string_view attrName, std::string_view attrValue,
                   std::string_view numberName, std::size_t number, bool hasNumber)
    {
        std::string& log = doc_.log_;
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
    std::uint32_t current_ = 0;        // the innermost open element; 0: the document
    std::vector<std::uint32_t> chain_; // scratch: open elements, innermost first
    // Once built: tag name -> slot; per slot, the innermost open element of that name (0: none), so
    // an end tag finds its element without walking the open elements.
    NameSlots slots_;
    std::vector<std::uint32_t> innermost_;
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
    mainNameLength_ = 0;
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
    // Every element is a start tag closed by a '>', so the name ends inside the text.
    const char* name = text_.data() + elements_[element].start + 1;
    const char* end = name;
    while (!EndsName(*end))
        ++end;
    return std::string_view(name, static_cast<std::size_t>(end - name));
}

bool XmlDocument::NameEquals(std::string_view a, std::string_view b) const
{
    if (a.size() != b.size())
        return false;
    // Names are short: a loop here is quicker than a call to compare them.
    const bool fold = options_ & MatchNameNoCase;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && (!fold || Lower(a[i]) != Lower(b[i])))
            return false;
    return true;
}

bool XmlDocument::FindElement(std::string_view name)
{
    std::uint32_t at = main_ ? elements_[main_].nextSibling : elements_[parent_].firstChild;
    for (; at; at = elements_[at].nextSibling) {
        if (NameEquals(TagName(at), name)) {
            main_ = at;
            mainNameLength_ = static_cast<std::uint32_t>(name.size());
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
    mainNameLength_ = 0;
    child_ = 0;
    return true;
}

bool XmlDocument::LeaveElement()
{
    if (!parent_)
        return false;
    child_ = main_;
    main_ = parent_;
    mainNameLength_ = 0;
    parent_ = elements_[parent_].parent;
    return true;
}

void XmlDocument::RestartLevel()
{
    main_ = 0;
    mainNameLength_ = 0;
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
    const std::size_t nameLength =
        element == main_ && mainNameLength_ ? mainNameLength_ : TagName(element).size();
    const std::size_t nameEnd = rec.start + 1 + nameLength;
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
