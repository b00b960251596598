#include "devhost/wire_json.h"

namespace Velmora::DevHost {

std::optional<Json> ParseWireJson(std::string_view text)
{
    bool tooDeep = false;
    // The reader keeps its own stack, so a deep document costs no call depth; the bound keeps what
    // is built (and later written, recursively) shallow.
    const auto boundDepth = [&tooDeep](int depth, Json::parse_event_t event, Json&) {
        if ((event == Json::parse_event_t::array_start || event == Json::parse_event_t::object_start) &&
            depth >= kMaxJsonDepth)
            tooDeep = true;
        return !tooDeep;
    };
    Json value = Json::parse(text, boundDepth, /*allow_exceptions=*/false);
    if (tooDeep || value.is_discarded())
        return std::nullopt;
    return value;
}

std::string WireJsonText(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

const Json* Member(const Json& value, const char* name)
{
    if (!value.is_object())
        return nullptr;
    const auto found = value.find(name);
    return found == value.end() ? nullptr : &*found;
}

std::string TextOf(const Json& value, const char* name)
{
    const Json* member = Member(value, name);
    return member && member->is_string() ? member->get<std::string>() : std::string();
}

} // namespace Velmora::DevHost
