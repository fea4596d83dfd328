// The printer configuration dialog's settings and saving: the receipt and label printer
// settings, the save of the device key, and OK, Cancel, Advanced and Check Health.
#include "ConfigPrinterDlg.h"
#include "ConfigPrinterParts.h"
#include "ConfigPrinterAdvDlg.h"
#include "DeviceKey.h"
#include "DeviceRules.h"
#include "FxRes.h"
#include "LabelAdvancedDlg.h"
#include "Registry.h"
#include "resource.h"

#include <commctrl.h>

#include <cstdlib>

using namespace cfgprn;

namespace {
// Digits only, and a size from 1 byte to kMaxBufferSize.
bool BufferSizeText(const CString& text)
{
    if (text.IsEmpty() || text.GetLength() > 9)
        return false;
    for (int i = 0; i < text.GetLength(); ++i)
        if (text.GetAt(i) < '0' || text.GetAt(i) > '9')
            return false;
    long v = atol(text);
    return v >= 1 && v <= kMaxBufferSize;
}
}

BOOL CConfigPrinterDlg::SavePortSettings()
{
    if (!UpdateData(TRUE))
        return FALSE;
    // A buffer size is a whole number the Service Object can use; anything else is said, not saved.
    if (!BufferSizeText(m_strOutputBuf)) {
        AfxMessageBox(FxLoadString(kMsgOutputBuffer), MB_OK);
        return FALSE;
    }
    if (!BufferSizeText(m_strInputBuf)) {
        AfxMessageBox(kMsgInputBuffer, MB_OK);
        return FALSE;
    }
    PortBinding binding = BindingToSave();
    if (binding.Refused()) {
        SayRefusal(binding);
        return FALSE;
    }
    CRegistry reg;
    CRegistryWrites writes;
    CString key = DeviceKey(), classKey = WithoutTrailingBackslash(m_strClassKey);
    CString oldLdn;
    reg.GetString(key, "LDN", oldLdn);

    CString baud = m_cmbBaud.GetCurSel() >= 0 ? m_cmbBaud.GetLBText(m_cmbBaud.GetCurSel()) : CString();
    CString bits = m_cmbBitLength.GetCurSel() >= 0 ? m_cmbBitLength.GetLBText(m_cmbBitLength.GetCurSel()) : CString();
    CString flow = m_cmbFlow.GetCurSel() >= 0 ? m_cmbFlow.GetLBText(m_cmbFlow.GetCurSel()) : CString();
    CString parity = Decimal(m_cmbParity.GetCurSel()), stop = Decimal(m_cmbStopBits.GetCurSel());

    const struct
    {
        const char* name;
        const CString& value;
    } texts[] = {{"LDN", m_strLdn},          {"BaudRate", baud},         {"BitLength", bits},
                 {"HandShake", flow},        {"InputBuf", m_strInputBuf}, {"OutputBuf", m_strOutputBuf},
                 {"InputSleep", m_strInputSleep}, {"Out_Interval", m_strOutInterval}, {"Parity", parity},
                 {"Stop", stop},             {"Timeout", m_strTimeout}};
    for (const auto& t : texts)
        writes.SetString(key, t.name, t.value);

    // A kept binding leaves Port, UsbDeviceName and UsbCount as the key holds them.
    if (!binding.keepStored)
        writes.SetString(key, "Port", binding.port);
    switch (binding.interfaceType) {
    case kUsb:
        writes.SetString(key, "Vid", m_strVid);
        writes.SetString(key, "Pid", m_strPid);
        if (!binding.keepStored) {
            writes.SetString(key, "UsbDeviceName", binding.usbPath);
            writes.SetDWORD(key, "UsbCount", binding.usbCount);
        }
        break;
    case kEthernet:
        writes.SetString(key, "TcpIp", binding.tcpIp);
        writes.SetDWORD(key, "TcpPort", binding.tcpPort);
        writes.SetDWORD(key, "Wireless", DWORD(m_bWireless));
        break;
    case kSerial: writes.SetDWORD(key, "UsingBT", DWORD(m_bUsingBT)); break;
    default: break;
    }
    writes.SetDWORD(key, "Log", DWORD(m_bLog));
    writes.SetDWORD(key, "LogSavingDays", m_nLogSavingDays);
    writes.SetDWORD(key, "Binary", DWORD(m_bBinary));
    bool saved = !writes.Failed();
    if (m_nClassCode == DEVCLASS_POSPRINTER)
        saved = SaveReceiptSettings() && saved;
    else if (m_nClassCode == DEVCLASS_LABELPRINTER)
        saved = SaveLabelSettings() && saved;
    if (CanUseHostPrinter()) {
        int host = m_cmbHostPrinters.GetCurSel();
        saved = reg.SetString(key, "CompactPrinter",
                              m_bThroughPrinter && host >= 0 ? m_cmbHostPrinters.GetLBText(host) : CString()) &&
                saved;
    }
    // The aliases move only once the device's values took: a refused save leaves the device
    // opening by its old name. The new alias comes before the old one goes, so a failure between
    // them leaves both leading here.
    if (saved && !m_strLdn.IsEmpty() && !reg.SetString(classKey, m_strLdn, m_strKeyName)) {
        reg.SetString(key, "LDN", oldLdn);  // the key keeps the name its alias still gives it
        saved = false;
    }
    if (saved && !oldLdn.IsEmpty() && oldLdn.CompareNoCase(m_strLdn) != 0 && AliasIsOurs(oldLdn))
        saved = reg.Delete(classKey, oldLdn) != FALSE;
    PushControls();
    // A write the registry refused leaves a key that does not hold what the dialog shows.
    if (!saved) {
        AfxMessageBox(RegistryWriteFailedText(key), MB_OK);
        return FALSE;
    }
    m_bSaved = TRUE;
    m_strStoredPort = binding.port;
    if (binding.interfaceType == kUsb && !binding.keepStored)
        m_strUsbDeviceName = binding.usbPath;
    return TRUE;
}

void CConfigPrinterDlg::LoadReceiptSettings()
{
    CRegistry reg;
    CString key = DeviceKey();
    reg.GetString(key, "DeviceName", m_strDeviceName);
    CString inf = ModelInf();
    const char *P = "POSPRINTER", *S = "SPECIALFUNC", *I = "IMAGEFUNC";

    DWORD charset = InfInt(P, "CharacterSet", 437, inf);
    reg.GetDWORD(key, "CharacterSet", charset);
    m_strCharacterSet = Decimal(long(charset));
    m_strCharacterSetList = InfString(P, "CharacterSetList", "", inf);
    m_strRecLineCharsList = InfString(P, "RecLineCharsList", "", inf);
    if (!reg.GetString(key, "DefaultFont", m_strDefaultFont)) {
        int n = int(InfInt(P, "RecLineChars", 0, inf));
        m_strDefaultFont = Decimal(n);
        const char* letters[] = {"A", "B", "C"};
        std::vector<CString> counts = SplitFields(m_strRecLineCharsList, ',');
        for (size_t i = 0; i < 3 && i < counts.size(); ++i)
            if (!counts[i].IsEmpty() && atoi(counts[i]) == n)
                m_strDefaultFont = letters[i];
    }
    m_nInternationalCharSet = InfInt(P, "InternationalCharSet", 0, inf);
    reg.GetDWORD(key, "InternationalCharSet", m_nInternationalCharSet);
    m_nRecMobile = InfInt(P, "RecMobile", 0, inf);

    const struct
    {
        const char* value;
        const char* infKey;
        DWORD& member;
    } special[] = {{"Thai3Pass", "THAI3PASS", m_nThai3Pass},
                   {"LeftMargine", "LEFTMARGINE", m_nLeftMargine},
                   {"CharSpace", "CHARSPACE", m_nCharSpace},
                   {"UsingFontC", "SWAPFONTC", m_nUsingFontC},
                   {"FeedCut", "FEEDCUT", m_nFeedCut}};
    for (const auto& s : special) {
        s.member = InfInt(S, s.infKey, 0, inf);
        reg.GetDWORD(key, s.value, s.member);
    }

    m_nCapGrayscale = InfInt(I, "CapGrayscale", 0, inf);
    m_nImageBrightness = m_nImageDithering = m_nImageTwoColor = m_nImageGrayscale = m_nImageRLE = 0;
    m_nImageThresholdValue = 127;
    m_nImageSplitCount = 246;
    if (CConfigPrinterAdvDlg::OffersGrayscale(int(m_nCapGrayscale), int(m_nModel))) {
        m_nImageGrayscale = InfInt(I, "Grayscale", 0, inf);
        reg.GetDWORD(key, "ImageGrayscale", m_nImageGrayscale);
    }
    m_nImageRLE = InfInt(I, "RLE", 0, inf);
    reg.GetDWORD(key, "ImageRLE", m_nImageRLE);
    m_nImageSplitCount = InfInt(I, "SplitCount", 246, inf);
    reg.GetDWORD(key, "ImageSplitCount", m_nImageSplitCount);
    if (m_nImageGrayscale && m_nImageRLE == 0)
        m_nImageRLE = 1;
    const struct
    {
        const char* value;
        const char* infKey;
        int def;
        DWORD& member;
    } image[] = {{"ImageBrightness", "Brightness", 0, m_nImageBrightness},
                 {"ImageDithering", "Dithering", 0, m_nImageDithering},
                 {"ImageTwoColor", "TwoColor", 0, m_nImageTwoColor},
                 {"ImageThresholdValue", "Threshold", 127, m_nImageThresholdValue}};
    for (const auto& s : image) {
        s.member = InfInt(I, s.infKey, s.def, inf);
        reg.GetDWORD(key, s.value, s.member);
    }
}

namespace {
struct LabelNumber
{
    const char* name;
    int def;
    int CConfigPrinterDlg::*member;
};
const LabelNumber kLabelNumbers[] = {
    {"PaperWidth", 0, &CConfigPrinterDlg::m_nPaperWidth},
    {"PaperLength", 0, &CConfigPrinterDlg::m_nPaperLength},
    {"LeftMargin", 0, &CConfigPrinterDlg::m_nLeftMargin},
    {"TopMargin", 0, &CConfigPrinterDlg::m_nTopMargin},
    {"OffsetLength", 0, &CConfigPrinterDlg::m_nOffsetLength},
    {"GapLength", 0, &CConfigPrinterDlg::m_nGapLength},
    {"BackFeed", 0, &CConfigPrinterDlg::m_nBackFeed},
    {"BackFeedStep", 0, &CConfigPrinterDlg::m_nBackFeedStep},
    {"OffsetPosition", 0, &CConfigPrinterDlg::m_nOffsetPosition},
    {"TearOffPosition", 0, &CConfigPrinterDlg::m_nTearOffPosition},
    {"CutterPeriod", 1, &CConfigPrinterDlg::m_nCutterPeriod},
};
const LabelNumber kLabelTail[] = {
    {"PrintSpeed", 3, &CConfigPrinterDlg::m_nPrintSpeed},
    {"Density", 10, &CConfigPrinterDlg::m_nDensity},
    {"HRISize", 1, &CConfigPrinterDlg::m_nHRISize},
    {"RightToLeft", 0, &CConfigPrinterDlg::m_nRightToLeft},
};

// Offsets are stored as 0..100, a negative offset v as 100 - v.
int OffsetFromStored(int v) { return v > 100 ? 100 - v : v; }
int OffsetToStored(int v) { return v < 0 ? 100 - v : v; }
}

BOOL CConfigPrinterDlg::LoadLabelSettings()
{
    CRegistry reg;
    CString key = DeviceKey();
    CString inf = ModelInf();
    const char* L = "LABEL";
    auto number = [&](const char* name, int def, int& member) {
        DWORD v = InfInt(L, name, def, inf);
        reg.GetDWORD(key, name, v);
        member = int(v);
    };
    auto text = [&](const char* name, const CString& def, CString& member) {
        if (!reg.GetString(key, name, member))
            member = InfString(L, name, def, inf);
    };
    number("LanguageType", 0, m_nLanguageType);
    text("PrintType", "D", m_strPrintType);
    text("PaperType", InfInt(L, "CapMediaSensing", 0, inf) ? "A" : "G", m_strPaperType);
    // A model states its operation mode as OperationMode; m_strOperationMode is the older name.
    text("OperationMode", InfString(L, "m_strOperationMode", "T", inf), m_strOperationMode);
    for (const LabelNumber& n : kLabelNumbers)
        number(n.name, n.def, this->*n.member);
    text("Orientation", "B", m_strOrientation);
    for (const LabelNumber& n : kLabelTail)
        number(n.name, n.def, this->*n.member);
    m_nOffsetPosition = OffsetFromStored(m_nOffsetPosition);
    m_nTearOffPosition = OffsetFromStored(m_nTearOffPosition);
    // A damaged number is not saved back unchanged: it opens as the advanced dialog would show it.
    CLabelAdvancedDlg::DamagedAsDefaults(int(InfInt(L, "SpeedMin", 0, inf)), int(InfInt(L, "SpeedMax", 6, inf)),
                                         int(InfInt(L, "DensityMax", 20, inf)), m_nPrintSpeed, m_nDensity, m_nHRISize,
                                         m_nCutterPeriod,
                                         {&m_nPaperWidth, &m_nPaperLength, &m_nLeftMargin, &m_nTopMargin});
    return TRUE;
}

BOOL CConfigPrinterDlg::SaveReceiptSettings()
{
    CRegistryWrites reg;
    CString key = DeviceKey();
    reg.SetDWORD(key, "InternationalCharSet", m_nInternationalCharSet);
    reg.SetDWORD(key, "CharacterSet", DWORD(atol(m_strCharacterSet)));
    reg.SetString(key, "DefaultFont", m_strDefaultFont);
    const struct
    {
        const char* name;
        DWORD value;
    } values[] = {{"UsingFontC", m_nUsingFontC},
                  {"Thai3Pass", m_nThai3Pass},
                  {"LeftMargine", m_nLeftMargine},
                  {"CharSpace", m_nCharSpace},
                  {"ImageGrayscale", m_nImageGrayscale},
                  {"ImageBrightness", m_nImageBrightness},
                  {"ImageRLE", m_nImageRLE},
                  {"ImageSplitCount", m_nImageSplitCount},
                  {"ImageDithering", m_nImageDithering},
                  {"ImageTwoColor", m_nImageTwoColor},
                  {"ImageThresholdValue", m_nImageThresholdValue},
                  {"FeedCut", m_nFeedCut}};
    for (const auto& v : values)
        reg.SetDWORD(key, v.name, v.value);
    return !reg.Failed();
}

BOOL CConfigPrinterDlg::SaveLabelSettings()
{
    m_nOffsetPosition = OffsetToStored(m_nOffsetPosition);
    m_nTearOffPosition = OffsetToStored(m_nTearOffPosition);
    CRegistryWrites reg;
    CString key = DeviceKey();
    reg.SetDWORD(key, "LanguageType", DWORD(m_nLanguageType));
    reg.SetString(key, "PrintType", m_strPrintType);
    reg.SetString(key, "PaperType", m_strPaperType);
    reg.SetString(key, "OperationMode", m_strOperationMode);
    for (const LabelNumber& n : kLabelNumbers)
        reg.SetDWORD(key, n.name, DWORD(this->*n.member));
    reg.SetString(key, "Orientation", m_strOrientation);
    for (const LabelNumber& n : kLabelTail)
        reg.SetDWORD(key, n.name, DWORD(this->*n.member));
    return !reg.Failed();
}

void CConfigPrinterDlg::ShowReceiptAdvanced()
{
    CConfigPrinterAdvDlg dlg(this);
    dlg.m_strClassKey = m_strClassKey;
    dlg.m_strKeyName = m_strKeyName;
    dlg.m_strDeviceName = m_strDeviceName;
    dlg.m_strInstallDir = m_strInstallDir;
    dlg.m_nModel = int(m_nModel);
    dlg.m_nCapGrayscale = int(m_nCapGrayscale);
    dlg.m_nGrayscale = int(m_nImageGrayscale);
    dlg.m_nDithering = int(m_nImageDithering);
    dlg.m_nBrightness = int(m_nImageBrightness);
    dlg.m_nThreshold = int(m_nImageThresholdValue);
    dlg.m_nRLE = int(m_nImageRLE);
    dlg.m_nSplitCount = int(m_nImageSplitCount);
    dlg.m_nTwoColor = int(m_nImageTwoColor);
    dlg.m_strCharacterSetList = m_strCharacterSetList;
    dlg.m_strCharacterSet = m_strCharacterSet;
    dlg.m_strRecLineCharsList = m_strRecLineCharsList;
    dlg.m_strDefaultFont = m_strDefaultFont;
    dlg.m_nThai3Pass = int(m_nThai3Pass);
    dlg.m_nInternationalCharSet = int(m_nInternationalCharSet);
    dlg.m_nUsingFontC = int(m_nUsingFontC);
    dlg.m_nLeftMargine = int(m_nLeftMargine);
    dlg.m_nFeedCut = int(m_nFeedCut);
    dlg.m_nCharSpace = int(m_nCharSpace);
    dlg.m_nRecMobile = int(m_nRecMobile);
    if (RunReceiptAdvanced(dlg) != IDOK)
        return;
    m_nImageGrayscale = DWORD(dlg.m_nGrayscale);
    m_nImageDithering = DWORD(dlg.m_nDithering);
    m_nImageBrightness = DWORD(dlg.m_nBrightness);
    m_nImageThresholdValue = DWORD(dlg.m_nThreshold);
    m_nImageRLE = DWORD(dlg.m_nRLE);
    m_nImageSplitCount = DWORD(dlg.m_nSplitCount);
    m_nImageTwoColor = DWORD(dlg.m_nTwoColor);
    m_strCharacterSetList = dlg.m_strCharacterSetList;
    m_strCharacterSet = dlg.m_strCharacterSet;
    m_strRecLineCharsList = dlg.m_strRecLineCharsList;
    m_strDefaultFont = dlg.m_strDefaultFont;
    m_nUsingFontC = DWORD(dlg.m_nUsingFontC);
    m_nThai3Pass = DWORD(dlg.m_nThai3Pass);
    m_nInternationalCharSet = DWORD(dlg.m_nInternationalCharSet);
    m_nLeftMargine = DWORD(dlg.m_nLeftMargine);
    m_nCharSpace = DWORD(dlg.m_nCharSpace);
    m_nFeedCut = DWORD(dlg.m_nFeedCut);
}

void CConfigPrinterDlg::ShowLabelAdvanced()
{
    if (!CheckLdn() || !SavePortSettings())
        return;
    CLabelAdvancedDlg dlg(this);
    dlg.m_strKeyName = m_strKeyName;
    dlg.m_strModelName = m_strDeviceName;
    dlg.m_strInfFolder = m_strInstallDir;
    dlg.m_nModel = int(m_nModel);
    // Both sides hold the same settings under the same names.
#define VESK_LABEL_SETTINGS(X)                                                                                        \
    X(m_nLanguageType) X(m_strPrintType) X(m_strPaperType) X(m_strOperationMode) X(m_strOrientation)                \
    X(m_nPrintSpeed) X(m_nDensity) X(m_nHRISize) X(m_nPaperWidth) X(m_nPaperLength) X(m_nLeftMargin)             \
    X(m_nTopMargin) X(m_nRightToLeft) X(m_nTearOffPosition) X(m_nCutterPeriod) X(m_nOffsetPosition)              \
    X(m_nOffsetLength) X(m_nGapLength) X(m_nBackFeed) X(m_nBackFeedStep)
#define VESK_TO_DIALOG(m) dlg.m = m;
#define VESK_FROM_DIALOG(m) m = dlg.m;
    VESK_LABEL_SETTINGS(VESK_TO_DIALOG)
    if (RunLabelAdvanced(dlg) != IDOK)
        return;
    VESK_LABEL_SETTINGS(VESK_FROM_DIALOG)
#undef VESK_FROM_DIALOG
#undef VESK_TO_DIALOG
#undef VESK_LABEL_SETTINGS
}

void CConfigPrinterDlg::OnBnClickedAdvanced()
{
    if (m_nClassCode == DEVCLASS_POSPRINTER)
        ShowReceiptAdvanced();
    else if (m_nClassCode == DEVCLASS_LABELPRINTER)
        ShowLabelAdvanced();
}

void CConfigPrinterDlg::OnBnClickedOk()
{
    if (!CheckLdn() || !SavePortSettings())
        return;
    AfxMessageBox(FxLoadString(kMsgInstalled), MB_OK);
    EndDialog(IDOK);
}

void CConfigPrinterDlg::Cancel()
{
    if (!m_bAddMode)
        return;
    CRegistry reg;
    CString ldn;
    reg.GetString(DeviceKey(), "LDN", ldn);
    if (!ldn.IsEmpty() && AliasIsOurs(ldn))
        reg.Delete(WithoutTrailingBackslash(m_strClassKey), ldn);
    DeleteKeyOrValue(DeviceKey(), nullptr, HKEY_LOCAL_MACHINE);
}

void CConfigPrinterDlg::OnBnClickedCancel()
{
    if (!m_strClassKey.IsEmpty() && !m_strKeyName.IsEmpty())
        Cancel();
    EndDialog(IDCANCEL);
}

void CConfigPrinterDlg::OnBnClickedCheckHealth()
{
    if (!CheckLdn() || !SavePortSettings())
        return;
    PushControls();
    if (m_nClassCode != DEVCLASS_POSPRINTER && m_nClassCode != DEVCLASS_LABELPRINTER)
        return;
    auto fail = [&](UINT messageId) {
        AfxMessageBox(FxLoadString(messageId) + " : " + m_ctlPOSPrinter.GetErrorText(), MB_OK);
        m_ctlPOSPrinter.Close();
    };
    if (m_ctlPOSPrinter.Open(m_strKeyName) != 0)
        return fail(kMsgOpenError);
    if (m_ctlPOSPrinter.ClaimDevice(kClaimTimeout) != 0)
        return fail(kMsgClaimError);
    m_ctlPOSPrinter.SetDeviceEnabled(TRUE);
    m_ctlPOSPrinter.SetDispatchProperty20(1);
    m_ctlPOSPrinter.CheckHealth(kHealthInteractive);
    m_ctlPOSPrinter.Close();
}
