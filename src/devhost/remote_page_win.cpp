#include "devhost/remote_page_win.h"

#include "common/text_win.h"

#include <oleauto.h>

#include <cmath>
#include <limits>

namespace Velmora::DevHost {
namespace {

JsonValue Marker(const char* what)
{
    return JsonValue::Object({{"$", JsonValue::String(what)}});
}

JsonValue Operation(const char* op)
{
    return JsonValue::Object({{"op", JsonValue::String(op)}});
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

} // namespace

JsonValue WireFromVariant(const VARIANT& value)
{
    VARIANT plain;
    ::VariantInit(&plain);
    const VARIANT* v = &value;
    if (value.vt & VT_BYREF) {
        if (FAILED(::VariantCopyInd(&plain, const_cast<VARIANT*>(&value))))
            return Marker("undefined");
        v = &plain;
    }
    JsonValue out;
    switch (v->vt) {
    case VT_EMPTY:
        out = Marker("undefined");
        break;
    case VT_NULL:
        break;
    case VT_BOOL:
        out = JsonValue::Bool(v->boolVal != VARIANT_FALSE);
        break;
    case VT_BSTR:
        out = JsonValue::String(v->bstrVal ? WideToUtf8({v->bstrVal, ::SysStringLen(v->bstrVal)}) : "");
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
            out = JsonValue::Number(number.dblVal);
        break;
    }
    default:
        out = Marker("object");
        break;
    }
    ::VariantClear(&plain);
    return out;
}

void VariantFromWire(const JsonValue& value, VARIANT* out)
{
    ::VariantInit(out);
    switch (value.GetKind()) {
    case JsonValue::Kind::Null:
        out->vt = VT_NULL;
        return;
    case JsonValue::Kind::Bool:
        out->vt = VT_BOOL;
        out->boolVal = value.BoolValue() ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    case JsonValue::Kind::Number: {
        const double n = value.NumberValue();
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
    case JsonValue::Kind::String: {
        const std::wstring text = Utf8ToWide(value.StringValue());
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
    JsonValue request = Operation("call");
    request.Set("name", JsonValue::String(Utf8(function)));
    JsonValue list = JsonValue::Array();
    // Automation order is the last parameter first; the page takes them first to last.
    for (UINT i = count; i > 0; --i)
        list.Items().push_back(WireFromVariant(args[i - 1]));
    request.Set("args", std::move(list));
    const PageAnswer answer = channel_.Perform(std::move(request));
    SetResult(answer, result);
    return StatusOf(answer);
}

HRESULT RemotePage::CallCallback(const std::string& callback, const VARIANT& result)
{
    JsonValue request = Operation("callback");
    request.Set("callback", JsonValue::String(callback));
    request.Set("args", JsonValue::Array({WireFromVariant(result)}));
    return StatusOf(channel_.Perform(std::move(request)));
}

HRESULT RemotePage::SetScriptVariable(const wchar_t* name, const VARIANT& value)
{
    JsonValue request = Operation("set");
    request.Set("name", JsonValue::String(Utf8(name)));
    request.Set("value", WireFromVariant(value));
    return StatusOf(channel_.Perform(std::move(request)));
}

HRESULT RemotePage::GetScriptVariable(const wchar_t* name, VARIANT* result)
{
    JsonValue request = Operation("get");
    request.Set("name", JsonValue::String(Utf8(name)));
    const PageAnswer answer = channel_.Perform(std::move(request));
    SetResult(answer, result);
    return StatusOf(answer);
}

HRESULT RemotePage::ExecScript(const wchar_t* script)
{
    JsonValue request = Operation("exec");
    request.Set("script", JsonValue::String(Utf8(script)));
    return StatusOf(channel_.Perform(std::move(request)));
}

int RemotePresenter::Present(const UI::MessageRequest& request)
{
    JsonValue op = Operation("message");
    op.Set("ask", JsonValue::Bool(request.askYesNo));
    op.Set("title", JsonValue::String(WideToUtf8(request.title)));
    op.Set("instruction", JsonValue::String(WideToUtf8(request.instruction)));
    op.Set("content", JsonValue::String(WideToUtf8(request.content)));
    op.Set("icon", JsonValue::Number(request.icon));
    const PageAnswer answer = channel_.Perform(std::move(op));
    if (request.askYesNo)
        return answer.ok && answer.result.IsNumber() && answer.result.NumberValue() == UI::kAnswerYes
                   ? UI::kAnswerYes
                   : UI::kAnswerNo;
    return IDOK;
}

} // namespace Velmora::DevHost
