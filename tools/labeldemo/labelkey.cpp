// labelkey: makes a label printer device key the way the setup utility's Add Device does (the
// model's section of lbprn.inf in the install folder, through CreateDeviceKey), then saves the
// label settings and the port as the printer configuration does for a new device; or removes a
// device key again.
//
//   labelkey.exe add <model> serial <COMn> <baud>     flow control none
//   labelkey.exe add <model> tcp <address> <port>
//   labelkey.exe remove <key name>
//
// "add" prints the values it set and, as its last line, "key <name>". Exit code 0 on success.
#include "DeviceKey.h"
#include "Registry.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: labelkey.exe add <model> serial <COMn> <baud>\n"
                         "       labelkey.exe add <model> tcp <address> <port>\n"
                         "       labelkey.exe remove <key name>\n");
    return 2;
}

bool AllDigits(const char* s)
{
    if (!*s)
        return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9')
            return false;
    return true;
}

// The label settings a new device is saved with: the model INF's [LABEL] value, else the
// configuration's default. OperationMode may also be stated under its older name.
struct LabelSetting
{
    const char* name;
    bool text;
    const char* textDefault;
    int numberDefault;
};
const LabelSetting kLabelSettings[] = {
    {"LanguageType", false, nullptr, 0}, {"PrintType", true, "D", 0},      {"PaperType", true, nullptr, 0},
    {"OperationMode", true, nullptr, 0}, {"PaperWidth", false, nullptr, 0}, {"PaperLength", false, nullptr, 0},
    {"LeftMargin", false, nullptr, 0},   {"TopMargin", false, nullptr, 0},  {"OffsetLength", false, nullptr, 0},
    {"GapLength", false, nullptr, 0},    {"BackFeed", false, nullptr, 0},   {"BackFeedStep", false, nullptr, 0},
    {"OffsetPosition", false, nullptr, 0}, {"TearOffPosition", false, nullptr, 0},
    {"CutterPeriod", false, nullptr, 1}, {"Orientation", true, "B", 0},     {"PrintSpeed", false, nullptr, 3},
    {"Density", false, nullptr, 10},     {"HRISize", false, nullptr, 1},    {"RightToLeft", false, nullptr, 0},
};

CString InfText(const char* key, const char* def, const CString& inf)
{
    char buf[256] = "";
    GetPrivateProfileStringA("LABEL", key, def, buf, sizeof buf, inf);
    return buf;
}

BOOL SaveLabelSettings(CRegistry& reg, const CString& key, const CString& inf)
{
    BOOL ok = TRUE;
    for (const LabelSetting& s : kLabelSettings) {
        if (!s.text) {
            int v = int(GetPrivateProfileIntA("LABEL", s.name, s.numberDefault, inf));
            if (v < 0)
                v = 100 - v;  // a negative offset is stored as 100 - v
            ok = reg.SetDWORD(key, s.name, DWORD(v)) && ok;
            continue;
        }
        CString def = s.textDefault ? CString(s.textDefault) : CString();
        if (std::strcmp(s.name, "PaperType") == 0)
            def = GetPrivateProfileIntA("LABEL", "CapMediaSensing", 0, inf) ? "A" : "G";
        else if (std::strcmp(s.name, "OperationMode") == 0)
            def = InfText("m_strOperationMode", "T", inf);
        ok = reg.SetString(key, s.name, InfText(s.name, def, inf)) && ok;
    }
    return ok;
}

int Add(const char* model, const char* kind, const char* where, const char* number)
{
    bool serial = std::strcmp(kind, "serial") == 0;
    if ((!serial && std::strcmp(kind, "tcp") != 0) || !AllDigits(number) ||
        (serial && (_strnicmp(where, "COM", 3) != 0 || !AllDigits(where + 3))))
        return Usage();
    CRegistry reg(HKEY_LOCAL_MACHINE);
    CString installDir;
    if (!reg.GetString(VESK_SERVICEINFO_KEY, "Installdir", installDir) || installDir.IsEmpty()) {
        std::printf("labelkey: no Installdir under HKLM\\%s: is the driver set installed?\n", VESK_SERVICEINFO_KEY);
        return 1;
    }
    CString name;
    if (!CreateDeviceKey(DEVCLASS_LABELPRINTER, model, installDir, name)) {
        std::printf("labelkey: no device key for model %s from %s\\lbprn.inf\n", model, installDir.GetString());
        return 1;
    }
    CString key = ClassKeyPath(DEVCLASS_LABELPRINTER) + "\\" + name;
    std::printf("labelkey: made HKLM\\%s from [%s] of %s\\lbprn.inf\n", key.GetString(), model,
                installDir.GetString());
    CString inf;
    reg.GetString(key, "inf", inf);
    BOOL ok = SaveLabelSettings(reg, key, inf);
    CString paper, mode;
    reg.GetString(key, "PaperType", paper);
    reg.GetString(key, "OperationMode", mode);
    std::printf("   label settings of a new device from [LABEL] of %s (PaperType %s, OperationMode %s)\n",
                inf.GetString(), paper.GetString(), mode.GetString());
    if (serial) {
        ok = reg.SetString(key, "Port", where) && reg.SetString(key, "BaudRate", number) &&
             reg.SetString(key, "HandShake", "None") && reg.SetDWORD(key, "UsingBT", 0);
        std::printf("   Port %s, BaudRate %s, HandShake None\n", where, number);
    } else {
        // A network printer has an empty Port: its address and port number say where it is.
        ok = reg.SetString(key, "Port", "") && reg.SetString(key, "TcpIp", where) &&
             reg.SetDWORD(key, "TcpPort", DWORD(std::strtoul(number, nullptr, 10)));
        std::printf("   Port (network), TcpIp %s, TcpPort %s\n", where, number);
    }
    if (!ok) {
        std::printf("labelkey: could not write the settings of %s\n", name.GetString());
        reg.Delete(key);
        return 1;
    }
    std::printf("key %s\n", name.GetString());
    return 0;
}

int Remove(const char* name)
{
    if (!*name || std::strchr(name, '\\'))
        return Usage();
    CRegistry reg(HKEY_LOCAL_MACHINE);
    CString key = ClassKeyPath(DEVCLASS_LABELPRINTER) + "\\" + name;
    if (!reg.Delete(key)) {
        std::printf("labelkey: could not remove HKLM\\%s\n", key.GetString());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::strcmp(argv[1], "add") == 0)
        return Add(argv[2], argv[3], argv[4], argv[5]);
    if (argc == 3 && std::strcmp(argv[1], "remove") == 0)
        return Remove(argv[2]);
    return Usage();
}
