#include "devhost/json_value.h"

#include "checks/json_text.h"
#include "xml/xml_document.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace Velmora::DevHost {

JsonValue JsonValue::Bool(bool value)
{
    JsonValue v;
    v.kind_ = Kind::Bool;
    v.bool_ = value;
    return v;
}

JsonValue JsonValue::Number(double value)
{
    JsonValue v;
    v.kind_ = Kind::Number;
    v.number_ = value;
    return v;
}

JsonValue JsonValue::String(std::string text)
{
    JsonValue v;
    v.kind_ = Kind::String;
    v.text_ = std::move(text);
    return v;
}

JsonValue JsonValue::Array(std::vector<JsonValue> items)
{
    JsonValue v;
    v.kind_ = Kind::Array;
    v.items_ = std::move(items);
    return v;
}

JsonValue JsonValue::Object(std::map<std::string, JsonValue> members)
{
    JsonValue v;
    v.kind_ = Kind::Object;
    v.members_ = std::move(members);
    return v;
}

const JsonValue* JsonValue::Find(const std::string& name) const
{
    if (kind_ != Kind::Object)
        return nullptr;
    const auto found = members_.find(name);
    return found == members_.end() ? nullptr : &found->second;
}

JsonValue& JsonValue::Set(const std::string& name, JsonValue value)
{
    if (kind_ != Kind::Object)
        *this = Object();
    members_[name] = std::move(value);
    return *this;
}

std::string JsonValue::TextOf(const std::string& name) const
{
    const JsonValue* member = Find(name);
    return member && member->IsString() ? member->StringValue() : std::string();
}

namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    std::optional<JsonValue> Document()
    {
        std::optional<JsonValue> value = Value(0);
        Space();
        if (!value || at_ != text_.size())
            return std::nullopt;
        return value;
    }

private:
    void Space()
    {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }

    bool Literal(std::string_view word)
    {
        if (text_.substr(at_, word.size()) != word)
            return false;
        at_ += word.size();
        return true;
    }

    std::optional<JsonValue> Value(int depth)
    {
        if (depth >= kMaxJsonDepth)
            return std::nullopt;
        Space();
        if (at_ >= text_.size())
            return std::nullopt;
        switch (text_[at_]) {
        case '{':
            return ObjectValue(depth);
        case '[':
            return ArrayValue(depth);
        case '"': {
            std::optional<std::string> s = StringText();
            if (!s)
                return std::nullopt;
            return JsonValue::String(std::move(*s));
        }
        case 't':
            return Literal("true") ? std::optional<JsonValue>(JsonValue::Bool(true)) : std::nullopt;
        case 'f':
            return Literal("false") ? std::optional<JsonValue>(JsonValue::Bool(false)) : std::nullopt;
        case 'n':
            return Literal("null") ? std::optional<JsonValue>(JsonValue()) : std::nullopt;
        default:
            return NumberValue();
        }
    }

    std::optional<JsonValue> ObjectValue(int depth)
    {
        ++at_;
        JsonValue object = JsonValue::Object();
        Space();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            return object;
        }
        for (;;) {
            Space();
            if (at_ >= text_.size() || text_[at_] != '"')
                return std::nullopt;
            std::optional<std::string> name = StringText();
            Space();
            if (!name || at_ >= text_.size() || text_[at_] != ':')
                return std::nullopt;
            ++at_;
            std::optional<JsonValue> member = Value(depth + 1);
            if (!member)
                return std::nullopt;
            object.Set(*name, std::move(*member));
            Space();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}') {
                ++at_;
                return object;
            }
            return std::nullopt;
        }
    }

    std::optional<JsonValue> ArrayValue(int depth)
    {
        ++at_;
        JsonValue array = JsonValue::Array();
        Space();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            return array;
        }
        for (;;) {
            std::optional<JsonValue> item = Value(depth + 1);
            if (!item)
                return std::nullopt;
            array.Items().push_back(std::move(*item));
            Space();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']') {
                ++at_;
                return array;
            }
            return std::nullopt;
        }
    }

    static bool Digit(char c) { return c >= '0' && c <= '9'; }

    std::optional<JsonValue> NumberValue()
    {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-')
            ++at_;
        if (at_ >= text_.size() || !Digit(text_[at_]))
            return std::nullopt;
        if (text_[at_] == '0')
            ++at_;
        else
            while (at_ < text_.size() && Digit(text_[at_]))
                ++at_;
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (at_ >= text_.size() || !Digit(text_[at_]))
                return std::nullopt;
            while (at_ < text_.size() && Digit(text_[at_]))
                ++at_;
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-'))
                ++at_;
            if (at_ >= text_.size() || !Digit(text_[at_]))
                return std::nullopt;
            while (at_ < text_.size() && Digit(text_[at_]))
                ++at_;
        }
        // strtod reads the C locale's number syntax, which JSON's is a part of.
        const std::string number(text_.substr(start, at_ - start));
        return JsonValue::Number(std::strtod(number.c_str(), nullptr));
    }

    std::optional<unsigned> Hex4()
    {
        if (at_ + 4 > text_.size())
            return std::nullopt;
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            value <<= 4;
            if (Digit(c))
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<unsigned>(c - 'A' + 10);
            else
                return std::nullopt;
        }
        return value;
    }

    // Length of the valid UTF-8 sequence at `at_`, or 0.
    std::size_t Utf8Length() const
    {
        const auto lead = static_cast<unsigned char>(text_[at_]);
        std::size_t length = 0;
        unsigned code = 0, least = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07, least = 0x10000;
        } else {
            return 0;
        }
        if (at_ + length > text_.size())
            return 0;
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(text_[at_ + i]);
            if ((next & 0xC0) != 0x80)
                return 0;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return 0;
        return length;
    }

    std::optional<std::string> StringText()
    {
        ++at_;
        std::string out;
        while (at_ < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[at_]);
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c < 0x20)
                return std::nullopt;
            if (c >= 0x80) {
                const std::size_t length = Utf8Length();
                if (length == 0)
                    return std::nullopt;
                out.append(text_.substr(at_, length));
                at_ += length;
                continue;
            }
            ++at_;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= text_.size())
                return std::nullopt;
            const char e = text_[at_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                std::optional<unsigned> code = Hex4();
                if (!code || (*code >= 0xDC00 && *code <= 0xDFFF))
                    return std::nullopt;
                if (*code >= 0xD800 && *code <= 0xDBFF) {
                    if (!Literal("\\u"))
                        return std::nullopt;
                    const std::optional<unsigned> low = Hex4();
                    if (!low || *low < 0xDC00 || *low > 0xDFFF)
                        return std::nullopt;
                    *code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
                }
                Xml::AppendUtf8(out, *code);
                break;
            }
            default:
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

void Write(const JsonValue& value, std::string& out)
{
    switch (value.GetKind()) {
    case JsonValue::Kind::Null:
        out += "null";
        return;
    case JsonValue::Kind::Bool:
        out += value.BoolValue() ? "true" : "false";
        return;
    case JsonValue::Kind::Number: {
        const double n = value.NumberValue();
        if (!std::isfinite(n)) {
            out += "null";
            return;
        }
        char text[32];
        if (n == std::floor(n) && std::fabs(n) < 1e15)
            std::snprintf(text, sizeof text, "%.0f", n);
        else
            std::snprintf(text, sizeof text, "%.17g", n);
        out += text;
        return;
    }
    case JsonValue::Kind::String:
        out += Assistant::JsonQuoted(value.StringValue());
        return;
    case JsonValue::Kind::Array: {
        out += '[';
        bool first = true;
        for (const JsonValue& item : value.Items()) {
            if (!first)
                out += ',';
            first = false;
            Write(item, out);
        }
        out += ']';
        return;
    }
    case JsonValue::Kind::Object: {
        out += '{';
        bool first = true;
        for (const auto& [name, member] : value.Members()) {
            if (!first)
                out += ',';
            first = false;
            out += Assistant::JsonQuoted(name);
            out += ':';
            Write(member, out);
        }
        out += '}';
        return;
    }
    }
}

} // namespace

std::optional<JsonValue> ParseJson(std::string_view text)
{
    return Reader(text).Document();
}

std::string WriteJson(const JsonValue& value)
{
    std::string out;
    Write(value, out);
    return out;
}

} // namespace Velmora::DevHost
