#include "LabelConfig.h"

#include "RegistUsb.h"
#include "Registry.h"

#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

const int kIllegal = 106;

// Key names of a section, each ended by a zero, the list by two; read whole however long.
std::vector<CString> SectionKeys(const char* section, const CString& file, DWORD firstSize)
{
    std::vector<char> buf(firstSize);
    for (;;) {
        DWORD got = GetPrivateProfileStringA(section, nullptr, "", buf.data(), DWORD(buf.size()), file);
        if (got + 2 < buf.size() || buf.size() >= (1u << 24))
            break;
        buf.assign(buf.size() * 2, 0);
    }
    std::vector<CString> keys;
    for (const char* p = buf.data(); *p; p += std::strlen(p) + 1)
        keys.push_back(p);
    return keys;
}

CString ReadString(const char* section, const char* key, const CString& file, DWORD size = 512)
{
    std::vector<char> buf(size, 0);
    GetPrivateProfileStringA(section, key, "", buf.data(), size, file);
    return CString(buf.data());
}

long ReadInt(const char* section, const char* key, const CString& file, int def = 0)
{
    return long(int(GetPrivateProfileIntA(section, key, def, file)));
}

// A buffer size value: missing, zero or not a number falls back to the device key default,
// so the write loop never works in pieces of 0 bytes.
DWORD BufferSize(const CString& text)
{
    int v = std::atoi(text);
    return v > 0 ? DWORD(v) : 4096;
}

}  // namespace

// ---- map-mode tables

MapModeTables::MapModeTables()
{
    const MapModeRow lo[5] = {{1, 0, 1}, {1, 0, 1}, {15, 0, 1}, {1000, 48, 96}, {2540, 48, 96}};
    const MapModeRow li[5] = {{1, 0, 1}, {1, 0, 1}, {1, 7, 15}, {96, 500, 1000}, {96, 1270, 2540}};
    const MapModeRow wo[5] = {{1, 0, 1}, {1, 0, 1}, {1440, 104, 208}, {1000, 104, 208}, {2540, 104, 208}};
    const MapModeRow pi[5] = {{1, 0, 1}, {1, 0, 1}, {208, 720, 1440}, {208, 500, 1000}, {208, 1270, 2540}};
    const MapModeRow di[5] = {{2, 0, 1}, {2, 0, 1}, {2, 7, 15}, {192, 500, 1000}, {192, 1270, 2540}};
    std::memcpy(lineOut, lo, sizeof lo);
    std::memcpy(lineIn, li, sizeof li);
    std::memcpy(widthOut, wo, sizeof wo);
    std::memcpy(positionIn, pi, sizeof pi);
    std::memcpy(doubleIn, di, sizeof di);
}

void MapModeTables::SetResolution(int h, int w)
{
    int t = 1440 / h;
    lineOut[1] = {1, 0, 1};
    lineOut[2] = {t, 0, 1};
    lineOut[3] = {1000, h / 2, h};
    lineOut[4] = {2540, h / 2, h};
    lineIn[1] = {1, 0, 1};
    lineIn[2] = {1, t / 2, t};
    lineIn[3] = {h, 500, 1000};
    lineIn[4] = {h, 1270, 2540};
    // The double rows convert at twice the resolution in every map mode.
    doubleIn[1] = {2, 0, 1};
    doubleIn[2] = {2, t / 2, t};
    doubleIn[3] = {2 * h, 500, 1000};
    doubleIn[4] = {2 * h, 1270, 2540};
    widthOut[1] = {1, 0, 1};
    widthOut[2] = {1440, w / 2, w};
    widthOut[3] = {1000, w / 2, w};
    widthOut[4] = {2540, w / 2, w};
    positionIn[1] = {1, 0, 1};
    positionIn[2] = {w, 720, 1440};
    positionIn[3] = {w, 500, 1000};
    positionIn[4] = {w, 1270, 2540};
}

int MapModeTables::Convert(int value, const MapModeRow& row)
{
    if (row.div == 0)
        return 0;
    long long v = (long long)value * row.mul + row.add;
    long long r = v / row.div;
    if (r > 0x7FFFFFFF)
        r = 0x7FFFFFFF;
    if (r < -0x7FFFFFFFLL - 1)
        r = -0x7FFFFFFFLL - 1;
    return int(r);
}

// ---- configuration

CLabelConfig::CLabelConfig() { std::memset(&m_dop, 0, sizeof m_dop); }

CLabelConfig::~CLabelConfig() { DeviceOptionRelease(m_dop); }

void CLabelConfig::Line(int level, const char* format, va_list args)
{
    if (!m_log)
        return;
    CString s;
    s.FormatV(format, args);
    m_log(level, s);
}

void CLabelConfig::Info(const char* format, ...)
{
    va_list a;
    va_start(a, format);
    Line(LevelInfo, format, a);
    va_end(a);
}

void CLabelConfig::Error(const char* format, ...)
{
    va_list a;
    va_start(a, format);
    Line(LevelError, format, a);
    va_end(a);
}

void CLabelConfig::SetInfPath(const CString& path)
{
    m_infPath = path;
    int slash = path.ReverseFind('\\');
    m_infFolder = slash >= 0 ? path.Left(slash) : CString();
}

void CLabelConfig::SetPortName(const CString& name)
{
    DeviceOptionRelease(m_dop);
    m_dop.strPortName = CString(name).AddRefHandle();
}

void CLabelConfig::Setter(ConfigSetterCall::Kind kind, int number, const CString& text)
{
    m_setters.push_back(ConfigSetterCall{kind, number, text});
}

int CLabelConfig::APS_RegistryLoad(const CString& deviceName, CLabelCommand& builder, IUsbInterfaceSource* usbSource)
{
    m_setters.clear();
    CRegistry reg(HKEY_LOCAL_MACHINE);
    CString key = CString(VESK_SERVICEOPOS_KEY "\\POSPrinter\\") + deviceName;
    SetPortName(CString());
    DeviceName.Empty();
    if (m_infPath.IsEmpty()) {
        CString inf;
        if (reg.GetString(key, "inf", inf))
            SetInfPath(inf);
    }

    CString port;
    reg.GetString(key, "Port", port);
    SetPortName(port);
    CapPowerReporting = 1;

    CString head = port.Left(3);
    if (head == "COM") {
        m_dop.dwReadIntervalTimeout = 2;
        m_dop.dwReadTotalTimeoutMultiplier = 0;
        m_dop.dwReadTotalTimeoutConstant = 50;
        m_dop.dwWriteTotalTimeoutMultiplier = 10;
        m_dop.dwWriteTotalTimeoutConstant = 5000;
        CString baud, bits, parity, stop, handshake;
        reg.GetString(key, "BaudRate", baud);
        reg.GetString(key, "BitLength", bits);
        reg.GetString(key, "Parity", parity);
        reg.GetString(key, "Stop", stop);
        reg.GetString(key, "HandShake", handshake);
        m_dop.dwBaudRate = DWORD(std::atoi(baud));
        m_dop.dwByteSize = DWORD(std::atoi(bits));
        m_dop.dwParity = DWORD(std::atoi(parity));
        m_dop.dwStopBits = DWORD(std::atoi(stop));
        m_dop.dwFlowControl = handshake == "Xon/Xoff" ? 1 : (handshake == "None" ? 2 : 0);
        DWORD bt = 0;
        reg.GetDWORD(key, "UsingBT", bt);
        m_dop.dwUsingBT = bt;
        Info("%s, BaudRate=%d, DataBits=%d, Parity=%d, StopBits=%d, HandShake=%s, UsingBT=%d", port.GetString(),
             int(m_dop.dwBaudRate), int(m_dop.dwByteSize), int(m_dop.dwParity), int(m_dop.dwStopBits),
             handshake.GetString(), int(m_dop.dwUsingBT));
    } else if (head == "LPT") {
        m_dop.dwReadIntervalTimeout = 1;
        m_dop.dwReadTotalTimeoutMultiplier = 0;
        DWORD version = GetVersion();
        bool win9x = (version & 0x80000000u) != 0 && LOBYTE(LOWORD(version)) >= 4;
        if (win9x) {
            m_dop.dwReadTotalTimeoutConstant = 32;
            m_dop.dwWriteTotalTimeoutMultiplier = 0;
            m_dop.dwWriteTotalTimeoutConstant = 500;
            Info("Port : LPT, Windows98");
        } else {
            m_dop.dwReadTotalTimeoutConstant = 0;
            m_dop.dwWriteTotalTimeoutMultiplier = 1;
            m_dop.dwWriteTotalTimeoutConstant = 3000;
            Info("Port : LPT");
        }
    } else if (head == "USB") {
        CRegistUsb usb(usbSource);
        usb.EnumerateUsbDevices();
        CString stored, pid, vid;
        reg.GetString(key, "UsbDeviceName", stored);
        reg.GetString(key, "Pid", pid);
        reg.GetString(key, "Vid", vid);
        Info("Port : USB <UsbDeviceName=%s, Vid=%s, Pid=%s>", stored.GetString(), vid.GetString(), pid.GetString());
        UsbDeviceEntry search;
        search.strDevicePath = stored;
        search.strPid = pid;
        search.strVid = vid;
        // The port libraries' rule: with the stored printer gone, another one of the model
        // stands in only when it is the only one present. Which one the port takes is the usb
        // library's choice, which sees the printers the process's other ports hold: the stored
        // path goes to it as it is.
        CString path = usb.PathForStoredDevice(search);
        SetPortName(path.IsEmpty() ? path : stored);
        if (path.IsEmpty())
            Error("not search USB Port <UsbDeviceName=%s, Vid=%s, Pid=%s>", stored.GetString(), vid.GetString(),
                  pid.GetString());
    } else {
        // A network printer; an empty Port value takes this road too.
        CString ip;
        reg.GetString(key, "TcpIp", ip);
        SetPortName(ip);
        DWORD tcpPort = m_dop.dwBaudRate, wireless = m_dop.dwWireless;
        reg.GetDWORD(key, "TcpPort", tcpPort);
        reg.GetDWORD(key, "Wireless", wireless);
        m_dop.dwBaudRate = tcpPort;
        m_dop.dwWireless = wireless;
        Info("Port : Ethernet <TcpIp=%s, TcpPort=%d, Wireless=%d>", ip.GetString(), int(tcpPort), int(wireless));
    }

    CString outBuf, inBuf;
    reg.GetString(key, "OutputBuf", outBuf);
    reg.GetString(key, "InputBuf", inBuf);
    m_dop.dwOutBufSize = BufferSize(outBuf);
    m_dop.dwInBufSize = BufferSize(inBuf);
    Info("Port Configuration <OutputBuf=%d, InputBuf=%d>", int(m_dop.dwOutBufSize), int(m_dop.dwInBufSize));

    reg.GetDWORD(key, "Type", Type);
    reg.GetString(key, "DeviceDesc", DeviceDescription);
    reg.GetString(key, "DeviceName", DeviceName);
    reg.GetString(key, "Description", ServiceObjectDescription);
    reg.GetDWORD(key, "Model", Model);

    LoadDownloadFonts();
    LanguageType = 0;
    reg.GetDWORD(key, "LanguageType", LanguageType);
    builder.LoadFontTable(m_infFolder, int(LanguageType), DownloadFonts);

    auto dword = [&](const char* name, int& member) {
        DWORD v = DWORD(member);
        if (!reg.GetDWORD(key, name, v))
            return false;
        member = int(v);
        return true;
    };
    reg.GetString(key, "PrintType", PrintType);
    PaperFromKey = dword("PaperWidth", PaperWidth);
    PaperFromKey = dword("PaperLength", PaperLength) && PaperFromKey;
    dword("GapLength", GapLength);
    reg.GetString(key, "PaperType", PaperType);
    dword("OffsetLength", OffsetLength);
    dword("LeftMargin", LeftMargin);
    dword("TopMargin", TopMargin);
    dword("BackFeed", BackFeed);
    dword("BackFeedStep", BackFeedStep);
    dword("OffsetPosition", OffsetPosition);
    dword("TearOffPosition", TearOffPosition);
    reg.GetString(key, "OperationMode", OperationMode);
    dword("CutterPeriod", CutterPeriod);
    reg.GetString(key, "Orientation", Orientation);
    dword("PrintSpeed", PrintSpeed);
    dword("Density", Density);
    dword("HRISize", HRISize);
    dword("RightToLeft", RightToLeft);
    // A negative offset v is stored as 100 - v.
    if (unsigned(OffsetPosition) > 100)
        OffsetPosition = 100 - OffsetPosition;
    if (unsigned(TearOffPosition) > 100)
        TearOffPosition = 100 - TearOffPosition;

    builder.SetPrintType(PrintType);
    builder.SetPaper(PaperWidth, PaperLength, GapLength, PaperType, OffsetLength);
    builder.SetMargins(LeftMargin, TopMargin);
    builder.SetOffsetPosition(OffsetPosition);
    builder.SetTearOffPosition(TearOffPosition);
    builder.SetBackFeed(BackFeed, BackFeedStep);
    builder.SetOrientation(Orientation);
    builder.SetPrintSpeed(PrintSpeed);
    builder.SetDensity(Density);
    builder.SetOperationMode(OperationMode, CutterPeriod);
    builder.SetRightToLeft(RightToLeft);

    CString area;
    area.Format("%d,%d", PaperWidth, PaperLength);
    Setter(ConfigSetterCall::PageModeArea, 0, area);
    Setter(ConfigSetterCall::PageModePrintArea, 0, "0,0," + area);

    int rc = 0;
    if (PortName().IsEmpty() || DeviceName.IsEmpty())
        rc = kIllegal;

    CString version;
    ServiceObjectVersion = 1013000;
    if (reg.GetString(key, "Version", version)) {
        int dot = version.ReverseFind('.');
        if (dot >= 0)
            ServiceObjectVersion = 1013000 + std::atoi(version.Mid(dot + 1));
    }
    return rc;
}

void CLabelConfig::LoadDownloadFonts()
{
    DownloadFonts.clear();
    const CString& file = m_infPath;
    for (const CString& name : SectionKeys("DOWNLOADFONT", file, 256)) {
        char letter[2] = {name.GetAt(0), 0};
        DownloadFonts.push_back(DownloadedFont(letter[0], int(ReadInt("DOWNLOADFONT", letter, file))));
    }
}

int CLabelConfig::APS_INFLoad(const CString& infPath, CLabelCommand& builder)
{
    if (!infPath.IsEmpty() && infPath != m_infPath)
        SetInfPath(infPath);
    const CString& f = m_infPath;
    if (GetFileAttributesA(f) == INVALID_FILE_ATTRIBUTES) {
        Error("inf file not found <%s>", f.GetString());
        return kIllegal;
    }
    const char* P = "POSPRINTER";
    RecBarCodeRotationList = ReadString(P, "RecBarCodeRotationList", f);
    RecBitmapRotationList = ReadString(P, "RecBitmapRotationList", f);
    CharacterSetList = ReadString(P, "CharacterSetList", f);
    for (const DownloadedFont& d : DownloadFonts)
        if (d.second > 0)
            CharacterSetList.AppendFormat(",%d", d.second);
    FontTypefaceList = ReadString(P, "FontTypefaceList", f);
    RecLineCharsList = ReadString(P, "RecLineCharsList", f);
    CapCompareFirmwareVersion = ReadInt("COMMON", "CapCompareFirmwareVersion", f);
    CapStatisticsReporting = ReadInt("COMMON", "CapStatisticsRporting", f);
    CapUpdateFirmware = ReadInt("COMMON", "CapUpdateFirmware", f);
    CapUpdateStatistics = ReadInt("COMMON", "CapUpdateStatistics", f);
    CapCoverSensor = ReadInt(P, "CapCoverSensor", f);
    CapRec2Color = ReadInt(P, "CapRec2Color", f);
    CapRecBarCode = ReadInt(P, "CapRecBarCode", f);
    CapRecBitmap = ReadInt(P, "CapRecBitmap", f);
    CapRecBold = ReadInt(P, "CapRecBold", f);
    CapRecItalic = ReadInt(P, "CapRecItalic", f);
    CapRecUnderline = ReadInt(P, "CapRecUnderline", f);
    CapRecCartridgeSensor = ReadInt(P, "CapRecCartridgeSensor", f);
    if (CapRecCartridgeSensor == -1)
        CapRecCartridgeSensor = 0;
    CapRecColor = ReadInt(P, "CapRecColor", f);
    CapRecDhigh = ReadInt(P, "CapRecDhigh", f);
    CapRecDwide = ReadInt(P, "CapRecDwide", f);
    CapRecDwideDhigh = ReadInt(P, "CapRecDwideDhigh", f);
    CapRecEmptySensor = ReadInt(P, "CapRecEmptySensor", f);
    CapRecNearEndSensor = ReadInt(P, "CapRecNearEndSensor", f);
    CapRecMarkFeed = ReadInt(P, "CapRecMarkFeed", f);
    CapRecPapercut = ReadInt(P, "CapRecPapercut", f);
    CapRecLeft90 = ReadInt(P, "CapRecLeft90", f);
    CapRecRight90 = ReadInt(P, "CapRecRight90", f);
    CapRecRotate180 = ReadInt(P, "CapRecRotate180", f);
    CapRecStamp = ReadInt(P, "CapRecStamp", f);
    CharacterSet = ReadInt(P, "CharacterSet", f);
    Setter(ConfigSetterCall::CharacterSet, int(CharacterSet));
    RecLineChars = ReadInt(P, "RecLineChars", f);
    RecLineHeight = ReadInt(P, "RecLineHeight", f);
    RecLineSpacing = ReadInt(P, "RecLineSpacing", f);
    RecLineSpacingDots = RecLineSpacing;
    RecLineWidth = ReadInt(P, "RecLineWidth", f);
    RecLineWidthDots = RecLineWidth;
    RecSidewaysMaxLines = ReadInt(P, "RecSidewaysMaxLines", f);
    RecSidewaysMaxChars = ReadInt(P, "RecSidewaysMaxChars", f);
    RecLinesToPaperCut = ReadInt(P, "RecLinesToPaperCut", f);
    CapConcurrentPageMode = ReadInt(P, "CapConcurrentPageMode", f);
    CapMapCharacterSet = ReadInt(P, "CapMapCharacterSet", f);
    CapRecPageMode = ReadInt(P, "CapRecPageMode", f);
    MapCharacterSet = ReadInt(P, "MapCharacterSet", f);
    // The model file's page is the page of a device whose key holds no paper.
    PageModeArea = ReadString(P, "PageModeArea", f);
    PageModePrintArea = ReadString(P, "PageModePrintArea", f);
    if (!PaperFromKey) {
        Setter(ConfigSetterCall::PageModeArea, 0, PageModeArea);
        Setter(ConfigSetterCall::PageModePrintArea, 0, PageModePrintArea);
    }
    PageModeDescriptor = ReadInt(P, "PageModeDescriptor", f);
    PageModeHorizontalPosition = ReadInt(P, "PageModeHorizontalPosition", f);
    PageModePrintDirection = ReadInt(P, "PageModePrintDirection", f);
    PageModeStation = ReadInt(P, "PageModeStation", f);
    PageModeVerticalPosition = ReadInt(P, "PageModeVerticalPosition", f);
    Setter(ConfigSetterCall::PageModePrintDirection, int(PageModePrintDirection));
    Setter(ConfigSetterCall::PageModeVerticalPosition, int(PageModeVerticalPosition));
    Setter(ConfigSetterCall::PageModeHorizontalPosition, int(PageModeHorizontalPosition));
    InternationalCharSet = int(ReadInt(P, "InternationalCharSet", f)) & 0xFF;
    if (InternationalCharSet != 0) {
        Info("special InternationalCharSet:%d", InternationalCharSet);
        builder.SetInternationalCharSet(InternationalCharSet);
    }
    const char* D = "DETAIL";
    LinecharsNormal = ReadInt(D, "LinecharsNormal", f);
    LinecharsCompressed = ReadInt(D, "LinecharsCompressed", f);
    DotsPerNormalChar = ReadInt(D, "DotsPerNormalChar", f);
    DotsPerCompressedChar = ReadInt(D, "DotsPerCompressedChar", f);
    DotsPerNormalCharHeight = ReadInt(D, "DotsPerNormalCharHeight", f);
    DotsPerCompressedCharHeight = ReadInt(D, "DotsPerCompressedCharHeight", f);
    m_dop.dwTcpTimeout = DWORD(ReadInt(D, "TcpTimeout", f, 500));
    m_dop.dwConnTimeout = DWORD(ReadInt(D, "ConnTimeout", f, 1000));
    m_dop.dwConnRetryCount = DWORD(ReadInt(D, "ConnRetryCount", f, 3));
    DpiHigh = ReadInt(D, "DPIHIGH", f);
    DpiWidth = ReadInt(D, "DPIWIDTH", f);
    // A resolution of 0 has no conversion, and one above 1440 dots per inch leaves a twips row
    // that divides by zero.
    if (DpiHigh < 1 || DpiHigh > 1440 || DpiWidth < 1 || DpiWidth > 1440) {
        Error("DPIHIGH or DPIWIDTH out of range <DPIHIGH=%d, DPIWIDTH=%d>", int(DpiHigh), int(DpiWidth));
        return kIllegal;
    }
    m_mapMode.SetResolution(int(DpiHigh), int(DpiWidth));
    m_twipsPerDot = 1440 / int(DpiHigh);

    DirectIOPredefine = ReadInt("DIRECTIO", "PREDEFINE", f, 1);
    DirectIOOutput = ReadInt("DIRECTIO", "DIRECTOUTPUT", f);
    DirectIOCheckStatus = ReadInt("DIRECTIO", "CHECKSTATUS", f);
    DirectIOCheckStatusSue = ReadInt("DIRECTIO", "CHECKSTATUSSUE", f);
    DirectIOInternationalChar = ReadInt("DIRECTIO", "INTERNATIONALCHAR", f);
    BmAsis = ReadInt("SPECIALFUNC", "BMASIS", f);
    BarHigh = ReadInt("SPECIALFUNC", "BARHIGH", f);
    ImageMagnification = ReadInt("IMAGEFUNC", "Magnification", f, 100);
    if (ImageMagnification != 100)
        Info("set to m_nImageMagnification=%d in inf", int(ImageMagnification));

    Setter(ConfigSetterCall::ConvertPageModeUnits, 0);
    Setter(ConfigSetterCall::RecLineChars, int(RecLineChars));
    if (RecLineChars == 0 || RecLineWidth == 0) {
        Error("RecLineChars or RecLineWidth is 0 <RecLineChars=%d, RecLineWidth=%d>", int(RecLineChars),
              int(RecLineWidth));
        return kIllegal;
    }
    builder.ResetPosition();
    CheckHealthText = "Not Executed";
    return 0;
}

void CLabelConfig::ReadIniSection(const char* section, const CString& file, std::vector<CString>& out)
{
    for (const CString& name : SectionKeys(section, file, 1024)) {
        if (name == "UsePre")
            continue;
        out.push_back(ReadString(section, name, file, 1024));
    }
}

void CLabelConfig::LoadPreformAndCustom(CLabelCommand& builder)
{
    CString custom = m_infFolder + "\\custom.inf";
    UsePre = int(ReadInt("CUSTOM", "UsePre", custom));
    if (UsePre != 0) {
        CString preform = m_infFolder + "\\preform.inf";
        COPOSData text(1);
        HANDLE h = CreateFileA(preform, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        bool ok = h != INVALID_HANDLE_VALUE;
        if (ok) {
            BYTE piece[1024];
            DWORD got = 0;
            while ((ok = ReadFile(h, piece, sizeof piece, &got, nullptr) != 0) && got > 0)
                text.Append(piece, got);
            CloseHandle(h);
        }
        if (!ok) {
            Error("preform.inf can not be read <%s>", preform.GetString());
        } else {
            // Text up to its first zero byte, ended by a line end.
            CString header(reinterpret_cast<const char*>(text.GetData()),
                           int(strnlen(reinterpret_cast<const char*>(text.GetData()), text.GetLength())));
            if (header.Right(2) != "\r\n")
                header += "\r\n";
            builder.SetHeaderCommands(header);
        }
    }
    CustomCommands.clear();
    ReadIniSection("CUSTOM", custom, CustomCommands);
    builder.AllocCustomCommands(int(CustomCommands.size()));
    for (size_t i = 0; i < CustomCommands.size(); ++i)
        builder.SetCustomCommand(int(i), CustomCommands[i]);
}
