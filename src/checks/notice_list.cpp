#include "checks/notice_list.h"

#include "common/hex_digit.h"

#include "xml/xml_document.h"

#include <cstdint>

namespace Velmora::Assistant {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// U+2028 and U+2029 end a `//` comment as a line feed does.
constexpr std::string_view kLineSeparator = "\xE2\x80\xA8";
constexpr std::string_view kParagraphSeparator = "\xE2\x80\xA9";

// Length of the well-formed UTF-8 sequence at `pos` (no overlong forms, no surrogates, nothing
// past U+10FFFF), or 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos)
{
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byteAt(pos);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            secondLow = 0xA0;
        if (lead == 0xED)
            secondHigh = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            secondLow = 0x90;
        if (lead == 0xF4)
            secondHigh = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - pos < length || byteAt(pos + 1) < secondLow || byteAt(pos + 1) > secondHigh)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((byteAt(pos + i) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

bool IsValidUtf8(std::string_view text)
{
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, pos);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

bool IsDecimalDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsWordByte(char c)
{
    // Only the ASCII ones: whatever else follows a name is no token the grammar takes there.
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDecimalDigit(c) || c == '_' || c == '$';
}

// A literal's value as a script engine holds it, a run of UTF-16 units, written out as UTF-8: a high
// surrogate waits for the unit after it, and a surrogate left without its partner becomes U+FFFD.
class LiteralValue {
public:
    explicit LiteralValue(std::string& out) : out_(out) {}

    void AddUnit(std::uint32_t unit)
    {
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (low && pendingHigh_ != 0) {
            Xml::AppendUtf8(out_, 0x10000 + ((pendingHigh_ - 0xD800) << 10) + (unit - 0xDC00));
            pendingHigh_ = 0;
            return;
        }
        Flush();
        if (unit >= 0xD800 && unit <= 0xDBFF)
            pendingHigh_ = unit;
        else
            Xml::AppendUtf8(out_, low ? 0xFFFD : unit);
    }

    void AddCodePoint(std::uint32_t codePoint)
    {
        if (codePoint <= 0xFFFF) {
            AddUnit(codePoint);
            return;
        }
        Flush();
        Xml::AppendUtf8(out_, codePoint);
    }

    // One byte of the literal's own (already valid) UTF-8 text.
    void AddTextByte(char byte)
    {
        Flush();
        out_ += byte;
    }

    void Flush()
    {
        if (pendingHigh_ != 0)
            Xml::AppendUtf8(out_, 0xFFFD);
        pendingHigh_ = 0;
    }

private:
    std::string& out_;
    std::uint32_t pendingHigh_ = 0;
};

// Reads the notice file's tokens front to back; every step looks at a byte or a few and never goes
// back.
class NoticeScanner {
public:
    explicit NoticeScanner(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ == text_.size(); }
    bool AtQuote() const { return !AtEnd() && (text_[pos_] == '\'' || text_[pos_] == '"'); }

    // Moves past white space and comments; false on a block comment that never ends.
    bool SkipSpace()
    {
        while (!AtEnd()) {
            const char c = text_[pos_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') {
                ++pos_;
            } else if (StartsWith("//")) {
                pos_ += 2;
                while (!AtEnd() && !AtLineEnd())
                    ++pos_;
            } else if (StartsWith("/*")) {
                const std::size_t close = text_.find("*/", pos_ + 2);
                if (close == std::string_view::npos)
                    return false;
                pos_ = close + 2;
            } else {
                break;
            }
        }
        return true;
    }

    // Moves past `c` when it comes next.
    bool Take(char c)
    {
        if (AtEnd() || text_[pos_] != c)
            return false;
        ++pos_;
        return true;
    }

    // The whole name that comes next; empty when none does.
    std::string_view TakeWord()
    {
        const std::size_t start = pos_;
        while (!AtEnd() && IsWordByte(text_[pos_]))
            ++pos_;
        return text_.substr(start, pos_ - start);
    }

    // Reads the string literal that starts at the current quote and appends its value to `out`;
    // false when the literal is malformed or never closes.
    bool TakeString(std::string& out)
    {
        const char quote = text_[pos_++];
        LiteralValue value(out);
        while (!AtEnd()) {
            const char c = text_[pos_++];
            if (c == quote) {
                value.Flush();
                return true;
            }
            if (c == '\n' || c == '\r')
                return false;
            if (c != '\\')
                value.AddTextByte(c);
            else if (!TakeEscape(value))
                return false;
        }
        return false;
    }

private:
    bool StartsWith(std::string_view prefix) const { return text_.substr(pos_).starts_with(prefix); }

    bool AtLineEnd() const
    {
        return text_[pos_] == '\n' || text_[pos_] == '\r' || StartsWith(kLineSeparator) ||
               StartsWith(kParagraphSeparator);
    }

    // The escape after a backslash.
    bool TakeEscape(LiteralValue& value)
    {
        if (AtEnd())
            return false;
        // A backslash before a line separator continues the literal on the next line.
        if (StartsWith(kLineSeparator) || StartsWith(kParagraphSeparator)) {
            pos_ += kLineSeparator.size();
            return true;
        }
        const char c = text_[pos_++];
        std::uint32_t unit = 0;
        switch (c) {
        case 'n':
            value.AddUnit('\n');
            return true;
        case 'r':
            value.AddUnit('\r');
            return true;
        case 't':
            value.AddUnit('\t');
            return true;
        case 'b':
            value.AddUnit('\b');
            return true;
        case 'f':
            value.AddUnit('\f');
            return true;
        case 'v':
            value.AddUnit('\v');
            return true;
        case '0':
            // Before a digit it would be a legacy octal escape.
            if (!AtEnd() && IsDecimalDigit(text_[pos_]))
                return false;
            value.AddUnit(0);
            return true;
        case 'x':
            if (!TakeHexDigits(2, &unit))
                return false;
            value.AddUnit(unit);
            return true;
        case 'u':
            if (Take('{')) {
                if (!TakeBracedCodePoint(&unit))
                    return false;
                value.AddCodePoint(unit);
            } else {
                if (!TakeHexDigits(4, &unit))
                    return false;
                value.AddUnit(unit);
            }
            return true;
        case '\r':
            Take('\n');
            return true;
        case '\n':
            return true;
        default:
            // Legacy octal and `\8`, `\9` are refused; any other character stands for itself.
            if (IsDecimalDigit(c))
                return false;
            value.AddTextByte(c);
            return true;
        }
    }

    bool TakeHexDigits(int count, std::uint32_t* unit)
    {
        *unit = 0;
        for (int i = 0; i < count; ++i) {
            const int digit = AtEnd() ? -1 : HexDigitValue(text_[pos_]);
            if (digit < 0)
                return false;
            *unit = *unit * 16 + static_cast<std::uint32_t>(digit);
            ++pos_;
        }
        return true;
    }

    // The digits and closing brace of `\u{...}`: one or more hex digits, leading zeros allowed, up to
    // U+10FFFF.
    bool TakeBracedCodePoint(std::uint32_t* codePoint)
    {
        *codePoint = 0;
        std::size_t digits = 0;
        for (; !AtEnd() && HexDigitValue(text_[pos_]) >= 0; ++pos_, ++digits) {
            *codePoint = *codePoint * 16 + static_cast<std::uint32_t>(HexDigitValue(text_[pos_]));
            if (*codePoint > 0x10FFFF)
                return false;
        }
        return digits > 0 && Take('}');
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace

std::optional<std::vector<std::string>> ParseNoticeList(std::string_view text)
{
    if (text.size() > kNoticeTextMaxBytes || !IsValidUtf8(text))
        return std::nullopt;
    if (text.starts_with(kByteOrderMark))
        text.remove_prefix(kByteOrderMark.size());

    NoticeScanner scanner(text);
    if (!scanner.SkipSpace())
        return std::nullopt;
    std::string_view target = scanner.TakeWord();
    if (target == "var" || target == "window") {
        const bool member = target == "window";
        if (!scanner.SkipSpace() || (member && (!scanner.Take('.') || !scanner.SkipSpace())))
            return std::nullopt;
        target = scanner.TakeWord();
    }
    if (target != "notices" || !scanner.SkipSpace() || !scanner.Take('=') || !scanner.SkipSpace() ||
        !scanner.Take('['))
        return std::nullopt;

    std::vector<std::string> notices;
    for (;;) {
        if (!scanner.SkipSpace())
            return std::nullopt;
        if (scanner.Take(']'))
            break;
        if (!scanner.AtQuote() || notices.size() == kNoticeListMaxCount)
            return std::nullopt;
        if (!scanner.TakeString(notices.emplace_back()) || !scanner.SkipSpace())
            return std::nullopt;
        if (scanner.Take(']'))
            break;
        if (!scanner.Take(','))
            return std::nullopt;
    }
    if (!scanner.SkipSpace())
        return std::nullopt;
    scanner.Take(';');
    if (!scanner.SkipSpace() || !scanner.AtEnd())
        return std::nullopt;
    return notices;
}

} // namespace Velmora::Assistant
