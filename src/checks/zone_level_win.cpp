#include "checks/zone_level_win.h"

#include "common/com_ptr_win.h"

namespace Velmora::Assistant {

int TemplateLevelNumber(DWORD level)
{
    switch (level) {
    case URLTEMPLATE_LOW:
        return 1;
    case URLTEMPLATE_MEDLOW:
        return 2;
    case URLTEMPLATE_MEDIUM:
        return 3;
    case URLTEMPLATE_MEDHIGH:
        return 4;
    case URLTEMPLATE_HIGH:
        return 5;
    default:
        return 0;
    }
}

HRESULT MakeSystemZoneManager(IInternetZoneManager** zones)
{
    return CoCreateInstance(CLSID_InternetZoneManager, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IInternetZoneManager, reinterpret_cast<void**>(zones));
}

bool CheckZoneLevels(bool repair, ZoneManagerMaker make)
{
    ComPtr<IInternetZoneManager> zones;
    if (FAILED(make(zones.Receive())) || !zones)
        return false;
    return CheckZoneLevels(repair, *zones.Get());
}

bool CheckZoneLevels(bool repair, IInternetZoneManager& zones)
{
    bool result = true;
    for (DWORD zone : {URLZONE_INTERNET, URLZONE_TRUSTED, URLZONE_UNTRUSTED}) {
        ZONEATTRIBUTES attributes{};
        attributes.cbSize = sizeof attributes;
        if (FAILED(zones.GetZoneAttributes(zone, &attributes)) ||
            TemplateLevelNumber(attributes.dwTemplateCurrentLevel) ==
                TemplateLevelNumber(attributes.dwTemplateRecommended))
            continue;
        if (!repair) {
            result = false;
            continue;
        }
        attributes.dwTemplateCurrentLevel = attributes.dwTemplateRecommended;
        if (FAILED(zones.SetZoneAttributes(zone, &attributes)) ||
            FAILED(zones.CopyTemplatePoliciesToZone(attributes.dwTemplateRecommended, zone, 0)))
            result = false;
    }
    return result;
}

} // namespace Velmora::Assistant
