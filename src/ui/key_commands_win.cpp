#include "ui/key_commands_win.h"

#include "common/text_win.h"
#include "common/variant_win.h"
#include "ui/command_table.h"
#include "usb/key_certificate_text.h"
#include "usb/key_id.h"

#include <algorithm>
#include <string>
#include <vector>

namespace Velmora::Usb {
namespace {

using UI::ScopedVariant;

constexpr DWORD kSettleMs = 1000;
constexpr unsigned kSettlingKeyType = 1;
constexpr const wchar_t* kKeyFields[] = {L"sn", L"issuer", L"subject", L"date"};

void SetKeyInfo(UI::IBSDialog* dialog, unsigned keyType, const wchar_t* field, const std::wstring& value)
{
    UI::CallPageFunction(
        *dialog, L"setKeyInfo",
        {ScopedVariant::Unsigned(keyType), ScopedVariant::String(field), ScopedVariant::String(value)});
}

bool IsKeyConnect(UI::IBSDialog* dialog, CUsbBus& bus, const VARIANT& ids, const VARIANT& pageValue)
{
    const KeyIdQuery query = ParseKeyIdQuery(WideToUtf8(UI::StringOf(ids)));
    ::OutputDebugStringA(("keyid = " + std::to_string(static_cast<int>(query.first))).c_str());
    if (!AnyKeyPresent(query, [&bus](std::uint32_t id) { return IsUsbDevicePresent(id, bus); }))
        return false;
    if (dialog) {
        UI::CallPageFunction(*dialog, L"onkeyPlugined",
                             {ScopedVariant::Int(UI::IsInt(pageValue) ? pageValue.lVal : 0)});
    }
    return true;
}

} // namespace

bool IsUsbDevicePresent(std::uint32_t keyId, CUsbBus& bus)
{
    const std::vector<std::uint32_t> ids = bus.ListUsbDeviceIds();
    return std::find(ids.begin(), ids.end(), keyId) != ids.end();
}

void PublishKeyCertificate(UI::IBSDialog* dialog, unsigned keyType, const std::wstring& provider, ICsp& csp)
{
    if (keyType == kSettlingKeyType)
        ::Sleep(kSettleMs);
    const std::vector<std::string> pieces = SplitRecord(WideToUtf8(ReadKeyCertificates(provider, csp)));
    if (!dialog)
        return;
    // A name holding ";" splits into more pieces: then nothing reliable can be shown.
    const bool complete = pieces.size() == std::size(kKeyFields);
    for (std::size_t i = 0; i < std::size(kKeyFields); ++i)
        SetKeyInfo(dialog, keyType, kKeyFields[i], complete ? Utf8ToWide(pieces[i]) : std::wstring());
    if (complete)
        UI::CallPageFunction(*dialog, L"is_can_Open_update");
}

KeyRequest KeyRequestHandler(CUsbBus& bus, ICsp& csp)
{
    return
        [&bus, &csp](UI::IBSDialog* dialog, int id, const VARIANT& a1, const VARIANT& a2, VARIANT* result) {
            ScopedVariant answer;
            switch (id) {
            case kCommandIsKeyConnect:
                if (UI::IsString(a1))
                    answer = ScopedVariant::Bool(IsKeyConnect(dialog, bus, a1, a2));
                break;
            case kCommandGetSmInfo:
                if (UI::IsString(a1))
                    answer = ScopedVariant::String(ReadKeyCertificates(std::wstring(UI::StringOf(a1)), csp));
                break;
            case kCommandUpdateKeyInfo:
                if (UI::IsInt(a1)) {
                    const std::wstring provider =
                        UI::IsString(a2) ? std::wstring(UI::StringOf(a2)) : std::wstring();
                    PublishKeyCertificate(dialog, static_cast<unsigned>(a1.lVal), provider, csp);
                    answer = ScopedVariant::Int(a1.lVal);
                }
                break;
            default:
                break;
            }
            if (result)
                answer.MoveTo(result);
        };
}

} // namespace Velmora::Usb
