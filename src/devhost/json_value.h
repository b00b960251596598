#pragma once
// JSON values as the developer host's wire carries them between the page and the native side: a
// strict reader (what JSON.parse accepts, nothing more, nesting bounded) and a writer.

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::DevHost {

class JsonValue {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    JsonValue() = default;
    static JsonValue Bool(bool value);
    static JsonValue Number(double value);
    static JsonValue String(std::string text);
    static JsonValue Array(std::vector<JsonValue> items = {});
    static JsonValue Object(std::map<std::string, JsonValue> members = {});

    Kind GetKind() const { return kind_; }
    bool IsNull() const { return kind_ == Kind::Null; }
    bool IsBool() const { return kind_ == Kind::Bool; }
    bool IsNumber() const { return kind_ == Kind::Number; }
    bool IsString() const { return kind_ == Kind::String; }
    bool IsArray() const { return kind_ == Kind::Array; }
    bool IsObject() const { return kind_ == Kind::Object; }

    bool BoolValue() const { return bool_; }
    double NumberValue() const { return number_; }
    const std::string& StringValue() const { return text_; }
    const std::vector<JsonValue>& Items() const { return items_; }
    std::vector<JsonValue>& Items() { return items_; }
    const std::map<std::string, JsonValue>& Members() const { return members_; }

    // The member `name` of an object; none when absent or when this is no object.
    const JsonValue* Find(const std::string& name) const;
    // Sets member `name` (this becomes an object when it was none).
    JsonValue& Set(const std::string& name, JsonValue value);
    // Text of member `name` when it is a string, else empty.
    std::string TextOf(const std::string& name) const;

private:
    Kind kind_ = Kind::Null;
    bool bool_ = false;
    double number_ = 0;
    std::string text_;
    std::vector<JsonValue> items_;
    std::map<std::string, JsonValue> members_;
};

// Arrays and objects nested deeper than this are refused.
inline constexpr int kMaxJsonDepth = 64;

// The value of `text`, or none when it is not exactly one JSON value (whitespace around it allowed).
// Strings must be valid UTF-8 and escapes must pair surrogates; a later duplicate member wins.
std::optional<JsonValue> ParseJson(std::string_view text);

// Compact JSON text of `value`. Numbers that are integers print without a fraction; a number that is
// not finite prints as null (JSON has no such number).
std::string WriteJson(const JsonValue& value);

} // namespace Velmora::DevHost
