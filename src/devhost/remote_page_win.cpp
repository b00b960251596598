#include "devhost/remote_page_win.h"

#include "common/text_win.h"

#include <oleauto.h>

#include <cmath>
#include <limits>

namespace Velmora::DevHost {
namespace {

Json Marker(const char* what)
{
    return Json{{"$", what}};
}

Json Operation(const char* op)
{
    return Json{{"op", op}};
}

std::string Utf8(const wchar_t* text)
{
    return text ? WideToUtf8(text) : std::string();
}

HRESULT StatusOf(const PageAnswer& answer)
{
    return answer.ok ? S_OK : DISP_E_EXCEPTION;
}

void SetResult(const PageAnswer& answer, VARIANT* result)
{
    if (!result)
        return;
    ::VariantClear(result);
    if (answer.ok)
        VariantFromWire(answer.result, result);
}

// A number as the page's script would print it: an integer without a fraction (-0 stays a double).
Json WireNumber(double n)
{
    constexpr double kExactIntegers = 9007199254740992.0; // 2^53
    if (n == std::floor(n) && std::fabs(n) <= kExactIntegers && !(n == 0 && std::signbit(n)))
        return static_cast<std::int64_t>(n);
    return n;
}

} // namespace

Json WireFromVariant(const VARIANT& value)
{
    VARIANT plain;
    ::VariantInit(&plain);
    const VARIANT* v = &value;
    if (value.vt & VT_BYREF) {
        if (FAILED(::VariantCopyInd(&plain, const_cast<VARIANT*>(&value))))
            return Marker("undefined");
        v = &plain;
    }
    Json out;
    switch (v->vt) {
    case VT_EMPTY:
        out = Marker("undefined");
        break;
    case VT_NULL:
        break;
    case VT_BOOL:
        out = v->boolVal != VARIANT_FALSE;
        break;
    case VT_BSTR:
        out = v->bstrVal ? WideToUtf8({v->bstrVal, ::SysStringLen(v->bstrVal)}) : std::string();
        break;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT:
    case VT_R4:
    case VT_R8: {
        VARIANT number;
        ::VariantInit(&number);
        if (SUCCEEDED(::VariantChangeType(&number, const_cast<VARIANT*>(v), 0, VT_R8)))
            out = WireNumber(number.dblVal);
        break;
    }
    default:
        out = Marker("object");
        break;
    }
    ::VariantClear(&plain);
    return out;
}

void VariantFromWire(const Json& value, VARIANT* out)
{
    ::VariantInit(out);
    switch (value.type()) {
    case Json::value_t::null:
        out->vt = VT_NULL;
        return;
    case Json::value_t::boolean:
        out->vt = VT_BOOL;
        out->boolVal = value.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float: {
        const double n = value.get<double>();
        // -0 stays a double, as in the script engine.
        if (n == std::floor(n) && n >= std::numeric_limits<std::int32_t>::min() &&
            n <= std::numeric_limits<std::int32_t>::max() && !(n == 0 && std::signbit(n))) {
            out->vt = VT_I4;
            out->lVal = static_cast<LONG>(n);
        } else {
            out->vt = VT_R8;
            out->dblVal = n;
        }
        return;
    }
    case Json::value_t::string: {
        const std::wstring text = Utf8ToWide(value.get_ref<const std::string&>());
        out->vt = VT_BSTR;
        out->bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return;
    }
    default:
        // Arrays and objects (the markers among them) have no automation value here.
        return;
    }
}

HRESULT RemotePage::CallScript(const wchar_t* function, VARIANT* args, UINT count, VARIANT* result)
{
    Json request = Operation("call");
    request["name"] = Utf8(function);
    Json list = Json::array();
    // Automation order is the last parameter first; the page takes them first to last.
    for (UINT i = count; i > 0; --i)
        list.push_back(WireFromVariant(args[i - 1]));
    request["args"] = std::move(list);
    const PageAnswer answer = channel_.Perform(std::move(request));
    SetResult(answer, result);
    return StatusOf(answer);
}

HRESULT RemotePage::CallCallback(const std::string& callback, const VARIANT& result)
{
    Json request = Operation("callback");
    request["callback"] = callback;
    request["args"] = Json::array({WireFromVariant(result)});
    return StatusOf(channel_.Perform(std::move(request)));
}

HRESULT RemotePage::SetScriptVariable(const wchar_t* name, const VARIANT& value)
{
    Json request = Operation("set");
    request["name"] = Utf8(name);
    request["value"] = WireFromVariant(value);
    return StatusOf(channel_.Perform(std::move(request)));
}

HRESULT RemotePage::GetScriptVariable(const wchar_t* name, VARIANT* result)
{
    Json request = Operation("get");
    request["name"] = Utf8(name);
    const PageAnswer answer = channel_.Perform(std::move(request));
    SetResult(answer, result);
    return StatusOf(answer);
}

HRESULT RemotePage::ExecScript(const wchar_t* script)
{
    Json request = Operation("exec");
    request["script"] = Utf8(script);
    return StatusOf(channel_.Perform(std::move(request)));
}

int RemotePresenter::Present(const UI::MessageRequest& request)
{
    Json op = Operation("message");
    op["ask"] = request.askYesNo;
    op["title"] = WideToUtf8(request.title);
    op["instruction"] = WideToUtf8(request.instruction);
    op["content"] = WideToUtf8(request.content);
    op["icon"] = request.icon;
    const PageAnswer answer = channel_.Perform(std::move(op));
    if (request.askYesNo)
        return answer.ok && answer.result.is_number() && answer.result.get<double>() == UI::kAnswerYes
                   ? UI::kAnswerYes
                   : UI::kAnswerNo;
    return IDOK;
}

} // namespace Velmora::DevHost
