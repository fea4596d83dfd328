#include "DeviceRules.h"

#include "DeviceKey.h"
#include "Registry.h"

#include <algorithm>
#include <vector>

bool LogicalNameTaken(const CString& classKey, const CString& ldn, const CString& keyName)
{
    std::vector<CString> keys = ListDeviceKeys(classKey, true, KEY_ALL_ACCESS);
    auto isKey = [&](const CString& name) {
        return std::any_of(keys.begin(), keys.end(), [&](const CString& k) { return k.CompareNoCase(name) == 0; });
    };
    CRegistry reg;
    CString alias;
    reg.GetString(classKey, ldn, alias);
    const bool leadsHere = alias.CompareNoCase(keyName) == 0;
    if (isKey(ldn))
        return !leadsHere;
    // A logical name that already leads to another existing device stays that device's.
    return !alias.IsEmpty() && !leadsHere && isKey(alias);
}

CString RegistryWriteFailedText(const CString& key) { return CString("Failed to write registry! : ") + key; }
