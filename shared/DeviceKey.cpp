#include "DeviceKey.h"

#include "RegistUsb.h"
#include "Registry.h"

#include <cstring>

namespace {

const DeviceClassInfo kClasses[] = {
    {DEVCLASS_POSPRINTER, "POSPrinter", "POSPrinter", "posprn.inf", 57},
    {DEVCLASS_CASHDRAWER, "CashDrawer", "CashDrawer", "poscash.inf", 41},
    {DEVCLASS_LINEDISPLAY, "LineDisplay", "LineDisplay", "posdisp.inf", 59},
    {DEVCLASS_MSR, "MSR", "MSR", "posmsr.inf", 58},
    {DEVCLASS_SMARTCARD, "SmartCardRW", "SmartCardRW", "posscr.inf", 104},
    {DEVCLASS_LABELPRINTER, "POSPrinter", "POSPrinter", "lbprn.inf", 112},
};

// A required INF text: read with room for 255 characters; empty counts as missing.
bool ReadRequired(const char* section, const char* key, const CString& file, CString& out)
{
    char buf[256];
    std::memset(buf, 0, sizeof buf);
    GetPrivateProfileStringA(section, key, "", buf, 255, file);
    out = buf;
    return !out.IsEmpty();
}

int ReadInt(const char* section, const char* key, const CString& file)
{
    return int(GetPrivateProfileIntA(section, key, 0, file));
}

// Subkeys of the class key whose DWORD Model equals modelCode (a key without Model counts as 0).
int CountSameModel(const CString& classKey, DWORD modelCode)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, classKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    CRegistry reg;
    int count = 0;
    for (DWORD i = 0;; ++i) {
        char name[257];
        DWORD len = sizeof name;
        LONG rc = RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA)
            continue;  // a name longer than any key name can be; not one of ours
        if (rc != ERROR_SUCCESS)
            break;
        DWORD model = 0;
        reg.GetDWORD(classKey + "\\" + name, "Model", model);
        if (model == modelCode)
            ++count;
    }
    RegCloseKey(key);
    return count;
}

void WriteSerialBlock(CRegistryWrites& reg, const CString& key)
{
    reg.SetString(key, "Port", "COM1");
    reg.SetString(key, "BaudRate", "9600");
    reg.SetString(key, "BitLength", "8");
    reg.SetString(key, "HandShake", "CTS/RTS");
    reg.SetString(key, "Parity", "0");
    reg.SetString(key, "Stop", "0");
}

void WriteNetworkDefaults(CRegistryWrites& reg, const CString& key)
{
    reg.SetString(key, "TcpIp", "192.168.1.1");
    reg.SetDWORD(key, "TcpPort", 9100);
    reg.SetString(key, "Port", "");
    reg.SetString(key, "BaudRate", "9600");
}

// The last attached device with the model's vendor and product id that no other key holds: a
// second printer of the model is bound to its own device, not to the first one's. The ids are
// upper-cased in place while the list is walked, so they are stored upper-cased whenever a device
// is attached.
void WriteUsbMatch(CRegistryWrites& reg, const CString& classKey, const CString& name, CString& vid, CString& pid,
                   IUsbInterfaceSource* source)
{
    const CString key = classKey + "\\" + name;
    CRegistUsb usb(source);
    int n = usb.EnumerateUsbDevices();
    UsbDeviceEntry* candidate = nullptr;
    for (int i = 0; i < n; ++i) {
        UsbDeviceEntry* e = usb.GetDeviceAt(i);
        vid.MakeUpper();
        pid.MakeUpper();
        if (e && e->strVid.Compare(vid) == 0 && e->strPid.Compare(pid) == 0 &&
            !UsbDeviceHeld(classKey, e->strDevicePath, name))
            candidate = e;
    }
    if (!candidate) {
        WriteNetworkDefaults(reg, key);
        return;
    }
    reg.SetString(key, "Port", candidate->strUsbName);
    reg.SetString(key, "UsbDeviceName", candidate->strDevicePath);
}

}  // namespace

const DeviceClassInfo* FindDeviceClass(int classCode)
{
    for (const DeviceClassInfo& c : kClasses)
        if (c.code == classCode)
            return &c;
    return nullptr;
}

CString ClassKeyPath(int classCode)
{
    const DeviceClassInfo* c = FindDeviceClass(classCode);
    if (!c)
        return CString();
    return CString(VESK_SERVICEOPOS_KEY "\\") + c->classKey;
}

std::vector<CString> ListDeviceKeys(const CString& classKey, bool stopAtBracket, REGSAM access)
{
    std::vector<CString> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, classKey, 0, access, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        char name[257] = {};
        DWORD len = sizeof name;
        if (RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (stopAtBracket && name[0] == '[')
            break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

bool UsbDeviceHeld(const CString& classKey, const CString& devicePath, const CString& exceptKey)
{
    CRegistry reg;
    for (const CString& name : ListDeviceKeys(classKey, true)) {
        if (name.CompareNoCase(exceptKey) == 0)
            continue;
        const CString key = classKey + "\\" + name;
        CString path, port;
        if (reg.GetString(key, "UsbDeviceName", path) && !path.IsEmpty() && path.CompareNoCase(devicePath) == 0 &&
            reg.GetString(key, "Port", port) && port.Left(3) == "USB")
            return true;
    }
    return false;
}

std::vector<CString> ListInfSections(const CString& infPath)
{
    // A list that does not fit comes back cut, with size - 2 as its length: read it again into a
    // larger buffer. A list that fills the buffer exactly looks the same and costs one more read.
    const DWORD kLimit = 1u << 22;
    std::vector<char> buf(1024);
    DWORD n = 0;
    for (;;) {
        n = GetPrivateProfileSectionNamesA(buf.data(), DWORD(buf.size()), infPath);
        if (n + 2 < buf.size() || buf.size() >= kLimit)
            break;
        buf.assign(buf.size() * 2, '\0');
    }
    std::vector<CString> names;
    const bool cut = n + 2 >= buf.size();
    for (DWORD i = 0; i < n && buf[i];) {
        size_t len = strnlen(buf.data() + i, n - i);
        // Past the limit the last name may be cut off: it is left out rather than taken.
        if (cut && i + len >= n)
            break;
        names.push_back(CString(buf.data() + i, int(len)));
        i += DWORD(len) + 1;
    }
    return names;
}

BOOL CreateDeviceKey(int classCode, const CString& section, const CString& installDir, CString& keyName,
                     IUsbInterfaceSource* usbSource)
{
    // Cash drawer keys are made by their own configuration, the others are not ours to make.
    if (classCode != DEVCLASS_POSPRINTER && classCode != DEVCLASS_LINEDISPLAY && classCode != DEVCLASS_MSR &&
        classCode != DEVCLASS_LABELPRINTER)
        return FALSE;
    if (section.IsEmpty())
        return FALSE;
    const DeviceClassInfo* cls = FindDeviceClass(classCode);
    CString inf = installDir + "\\" + cls->classInf;

    CString deviceDesc, soName, description, vid, pid;
    if (!ReadRequired(section, "DeviceDesc", inf, deviceDesc) || !ReadRequired(section, "SOName", inf, soName) ||
        !ReadRequired(section, "Description", inf, description) || !ReadRequired(section, "Vid", inf, vid) ||
        !ReadRequired(section, "Pid", inf, pid))
        return FALSE;
    int type = ReadInt(section, "TYPE", inf);
    int port = ReadInt(section, "PORT", inf);
    int modelCode = ReadInt(section, "MODELCODE", inf);
    int portN = ReadInt(section, "PORT_N", inf);
    int modelCodeN = ReadInt(section, "MODELCODE_N", inf);

    CString version;
    if (!ReadRequired("Description", "Version", installDir + "\\setup.inf", version))
        return FALSE;

    CString classKey = ClassKeyPath(classCode);
    CRegistry reg;
    CString name = section;
    if (CountSameModel(classKey, DWORD(modelCode)) > 0) {
        for (int n = 1;; ++n) {
            CString probe;
            if (!reg.GetString(classKey + "\\" + name, "DeviceName", probe))
                break;
            name.Format("%s_%d", section.GetString(), n);
        }
    }
    CString key = classKey + "\\" + name;
    HKEY probe = nullptr;
    const bool existed = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &probe) == ERROR_SUCCESS;
    if (probe)
        RegCloseKey(probe);
    CRegistryWrites writes;

    writes.SetString(key, "", soName);
    writes.SetString(key, "Description", description);
    writes.SetString(key, "DeviceName", section);
    writes.SetString(key, "DeviceDesc", deviceDesc);
    writes.SetString(key, "Version", version);
    writes.SetString(key, "DeviceClass", cls->deviceClass);
    writes.SetString(key, "UsbDeviceName", "");
    writes.SetDWORD(key, "UsbCount", 0);
    writes.SetString(key, "TcpIp", "0.0.0.0");
    writes.SetDWORD(key, "TcpPort", 9100);
    writes.SetString(key, "LDN", "");

    if (portN == 0) {
        if (port == 7)
            writes.SetString(key, "Port", "LPT1");
        else
            WriteSerialBlock(writes, key);
    } else if (portN == PORTCAP_PARALLEL) {
        writes.SetString(key, "Port", "LPT1");
    } else if (portN & (PORTCAP_SERIAL | PORTCAP_BLUETOOTH)) {
        WriteSerialBlock(writes, key);
    } else if (portN & PORTCAP_USB) {
        WriteUsbMatch(writes, classKey, name, vid, pid, usbSource);
    } else {
        WriteNetworkDefaults(writes, key);
    }

    writes.SetString(key, "InputBuf", "4096");
    writes.SetString(key, "OutputBuf", "4096");
    writes.SetString(key, "InputSleep", "0");
    writes.SetString(key, "Out_Interval", "0");
    writes.SetString(key, "Timeout", "1000");
    writes.SetString(key, "comp", "VESK");
    writes.SetString(key, "Vid", vid);
    writes.SetString(key, "Pid", pid);
    writes.SetDWORD(key, "UsingBT", 0);
    writes.SetString(key, "inf", installDir + "\\" + section + ".inf");
    writes.SetDWORD(key, "type", DWORD(type));
    writes.SetDWORD(key, "Porttype", DWORD(port));
    writes.SetDWORD(key, "Model", DWORD(modelCode));
    writes.SetDWORD(key, "Porttype_N", DWORD(portN));
    writes.SetDWORD(key, "Model_N", DWORD(modelCodeN));

    // A key that the registry did not take whole is no device: the dialogs would configure it.
    if (writes.Failed()) {
        if (!existed)
            DeleteKeyOrValue(key, nullptr, HKEY_LOCAL_MACHINE);
        keyName = name;
        return FALSE;
    }
    keyName = name;
    return TRUE;
}
