#include "DeviceRules.h"

#include "DeviceKey.h"
#include "FxWnd.h"
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

std::vector<CString> SplitFields(const CString& list, char separator)
{
    std::vector<CString> fields;
    if (list.IsEmpty())
        return fields;
    for (int start = 0;;) {
        int at = list.Find(separator, start);
        if (at < 0) {
            fields.push_back(list.Mid(start));
            return fields;
        }
        fields.push_back(list.Mid(start, at - start));
        start = at + 1;
    }
}

bool InRangeOrSaid(const char* field, int value, int min, int max)
{
    if (value >= min && value <= max)
        return true;
    CString text;
    text.Format("%s: enter a number from %d to %d.", field, min, max);
    AfxMessageBox(text, MB_OK);
    return false;
}

int InRangeOr(int value, int min, int max, int def) { return value >= min && value <= max ? value : def; }
