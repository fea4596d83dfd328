#include "ConfigPrinterDlg.h"
#include "ConfigPrinterParts.h"

#include "ConfigPrinterAdvDlg.h"
#include "DeviceKey.h"
#include "FxDdx.h"
#include "FxRes.h"
#include "LabelAdvancedDlg.h"
#include "Registry.h"
#include "resource.h"

#include <commctrl.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace cfgprn {
CString InfString(const char* section, const char* key, const char* def, const CString& file)
{
    char buf[512] = {};
    GetPrivateProfileStringA(section, key, def, buf, sizeof buf, file);
    return buf;
}

DWORD InfInt(const char* section, const char* key, int def, const CString& file)
{
    return DWORD(GetPrivateProfileIntA(section, key, def, file));
}

CString Decimal(long v)
{
    CString s;
    s.Format("%ld", v);
    return s;
}

CString WithoutTrailingBackslash(const CString& path)
{
    CString p = path;
    if (!p.IsEmpty() && p.GetAt(p.GetLength() - 1) == '\\')
        p = p.Left(p.GetLength() - 1);
    return p;
}

BOOL ForEachPresentPort(const std::function<void(HDEVINFO, SP_DEVINFO_DATA&, const char*)>& fn)
{
    DWORD count = 0;
    SetupDiClassGuidsFromNameA("Ports", nullptr, 0, &count);
    if (count == 0)
        return FALSE;
    std::vector<GUID> guids(count);
    if (!SetupDiClassGuidsFromNameA("Ports", guids.data(), count, &count) || count == 0)
        return FALSE;
    HDEVINFO devices = SetupDiGetClassDevsA(&guids[0], nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return FALSE;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        char name[260] = {};
        DWORD size = sizeof name - 1, type = 0;
        bool named = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
                     ERROR_SUCCESS;
        RegCloseKey(key);
        if (named)
            fn(devices, device, name);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return TRUE;
}
}

using namespace cfgprn;

namespace {

bool ShownWithText(HWND h)
{
    return h && (GetWindowLongA(h, GWL_STYLE) & WS_VISIBLE) && GetWindowTextLengthA(h) > 0;
}

// The number of an edit that the user can see and that holds a text; a hidden or empty one is
// left alone on the way in, so no number message appears for a control nobody could fill.
void DdxShownNumber(CDataExchange* dx, int id, int& value)
{
    if (dx->m_bSaveAndValidate && !ShownWithText(::GetDlgItem(dx->m_pDlgWnd->m_hWnd, id)))
        return;
    DDX_Text(dx, id, value);
}
}

BEGIN_MESSAGE_MAP(CConfigPrinterDlg, CSkinDialog)
    ON_WM_MOVE()
    ON_CBN_SELCHANGE(IDC_CFG_PORT, OnCbnSelchangePort)
    ON_BN_CLICKED(IDC_CFG_SERIAL, OnBnClickedSerial)
    ON_BN_CLICKED(IDC_CFG_PARALLEL, OnBnClickedParallel)
    ON_BN_CLICKED(IDC_CFG_USB, OnBnClickedUsb)
    ON_BN_CLICKED(IDC_CFG_ETHERNET, OnBnClickedEthernet)
    ON_BN_CLICKED(IDC_CFG_BLUETOOTH, OnBnClickedBluetooth)
    ON_BN_CLICKED(IDC_CFG_WIRELESS, OnBnClickedWirelessLan)
    ON_BN_CLICKED(IDC_CFG_LOG, OnBnClickedLog)
    ON_BN_CLICKED(IDC_CFG_BINARY, OnBnClickedBinary)
    ON_BN_CLICKED(IDC_CFG_THROUGH_PRINTER, OnBnClickedThroughPrinter)
    ON_BN_CLICKED(IDC_CFG_ADVANCED, OnBnClickedAdvanced)
    ON_BN_CLICKED(IDC_CFG_HEALTH, OnBnClickedCheckHealth)
END_MESSAGE_MAP()

CConfigPrinterDlg::CConfigPrinterDlg(CWnd* parent, int findAvailablePort)
    : CSkinDialog(IDD_CONFIG_PRINTER, parent, IDB_SKIN), m_nFindAvailablePort(findAvailablePort)
{
    m_transparentIds = {1017, 1019};
    for (int id = 1022; id <= 1035; ++id)
        m_transparentIds.push_back(id);
    for (int id : {1048, 1049, 1050, 1051, 1052, 1055, 1056, 1058, 1059, 1060, 1062, 1064, 1091, 1092})
        m_transparentIds.push_back(id);
    m_footerStyle = FooterStyle::Dialog;
    // The template's IP address control.
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
}

CConfigPrinterDlg::~CConfigPrinterDlg() {}

void CConfigPrinterDlg::DoDataExchange(CDataExchange* dx)
{
    CSkinDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_CFG_PORT, m_cmbPort);
    DDX_Control(dx, IDC_CFG_BAUD, m_cmbBaud);
    DDX_Control(dx, IDC_CFG_BITLEN, m_cmbBitLength);
    DDX_Control(dx, IDC_CFG_PARITY, m_cmbParity);
    DDX_Control(dx, IDC_CFG_STOPBIT, m_cmbStopBits);
    DDX_Control(dx, IDC_CFG_FLOW, m_cmbFlow);
    DDX_Control(dx, IDC_CFG_HOST_PRINTERS, m_cmbHostPrinters);
    DDX_Radio(dx, IDC_CFG_SERIAL, m_nInterface);
    DDX_Check(dx, IDC_CFG_BLUETOOTH, m_bUsingBT);
    DDX_Check(dx, IDC_CFG_WIRELESS, m_bWireless);
    DDX_Check(dx, IDC_CFG_LOG, m_bLog);
    DDX_Check(dx, IDC_CFG_BINARY, m_bBinary);
    DDX_Check(dx, IDC_CFG_THROUGH_PRINTER, m_bThroughPrinter);
    DDX_Text(dx, IDC_CFG_INBUF, m_strInputBuf);
    DDX_Text(dx, IDC_CFG_OUTBUF, m_strOutputBuf);
    DDX_Text(dx, IDC_CFG_OUT_INTERVAL, m_strOutInterval);
    DDX_Text(dx, IDC_CFG_INPUT_SLEEP, m_strInputSleep);
    DDX_Text(dx, IDC_CFG_LDN, m_strLdn);
    DDX_Text(dx, IDC_CFG_KEYNAME, m_strKeyNameShown);
    DdxShownNumber(dx, IDC_CFG_TCPPORT, m_nTcpPort);
}

BOOL CConfigPrinterDlg::CreatePrinterControl(const RECT& rect)
{
    return m_ctlPOSPrinter.Create(nullptr, "", WS_CHILD, rect, this, IDC_POSPRINTER_CONTROL);
}

INT_PTR CConfigPrinterDlg::RunReceiptAdvanced(CConfigPrinterAdvDlg& dlg) { return dlg.DoModal(); }
INT_PTR CConfigPrinterDlg::RunLabelAdvanced(CLabelAdvancedDlg& dlg) { return dlg.DoModal(); }

CString CConfigPrinterDlg::ModelInf() const { return m_strInstallDir + "\\" + m_strDeviceName + ".inf"; }

BOOL CConfigPrinterDlg::OnInitDialog()
{
    CSkinDialog::OnInitDialog();
    CRect r;
    GetWindowRect(&r);
    m_rcWindow = CRect(r.left, r.top + 1, r.left + kWidth, r.top + 1 + kHeight);
    MoveWindow(m_rcWindow.left, m_rcWindow.top, kWidth, kHeight);
    RECT controlRect = {kWidth - 40, 4, kWidth - 10, 34};
    CreatePrinterControl(controlRect);

    struct
    {
        CImageTextButton& button;
        int id;
        UINT normal, pressed, disabled;
        int textX;
    } buttons[] = {
        {m_btnOk, IDOK, IDB_OK_BUTTON, IDB_OK_BUTTON_PRESSED, IDB_OK_BUTTON_DISABLED, 50},
        {m_btnCancel, IDCANCEL, IDB_OK_BUTTON, IDB_OK_BUTTON_PRESSED, IDB_OK_BUTTON_DISABLED, 37},
        {m_btnCheckHealth, IDC_CFG_HEALTH, IDB_HEALTH_BUTTON, IDB_HEALTH_BUTTON_PRESSED, IDB_HEALTH_BUTTON_DISABLED,
         50},
        {m_btnAdvanced, IDC_CFG_ADVANCED, IDB_ADVANCED_BUTTON, IDB_ADVANCED_BUTTON_PRESSED,
         IDB_ADVANCED_BUTTON_DISABLED, 25},
    };
    for (auto& b : buttons) {
        b.button.SetBitmaps(b.normal, b.pressed, b.disabled);
        b.button.SetTextPosition(b.textX, 6);
        b.button.SetTextColors(0x265800, 0x818181);
        b.button.SubclassDlgItem(UINT(b.id), this);
    }
    UpdateData(FALSE);  // binds the lists
    // The serial lists' items: their order is the index that is stored or selected.
    const struct
    {
        CComboBox& combo;
        std::vector<const char*> items;
    } lists[] = {{m_cmbBaud, {"9600", "19200", "38400", "57600", "115200"}},
                 {m_cmbBitLength, {"7", "8"}},
                 {m_cmbParity, {"NONE", "ODD", "EVEN"}},
                 {m_cmbStopBits, {"1"}},
                 {m_cmbFlow, {"DTR/DSR", "Xon/Xoff", "None"}}};
    for (const auto& l : lists)
        if (l.combo.GetCount() == 0)
            for (const char* item : l.items)
                l.combo.AddString(item);

    m_bSaved = FALSE;
    m_strStoredPort = "COM1";
    if (!LoadPortRanges()) {
        AfxMessageBox(FxLoadString(kMsgInfFailed), MB_OK);
        CSkinDialog::OnCancel();
        return FALSE;
    }
    m_cmbBaud.SetCurSel(1);
    m_cmbBitLength.SetCurSel(1);
    m_cmbParity.SetCurSel(0);
    m_cmbStopBits.SetCurSel(0);
    m_cmbFlow.SetCurSel(0);
    m_strOutInterval = "0";
    m_strInputSleep = "0";

    switch (m_nClassCode) {
    case DEVCLASS_POSPRINTER:
    case DEVCLASS_LABELPRINTER: m_strClassKey = VESK_SERVICEOPOS_KEY "\\POSPrinter\\"; break;
    case DEVCLASS_LINEDISPLAY: m_strClassKey = VESK_SERVICEOPOS_KEY "\\LineDisplay\\"; break;
    case DEVCLASS_MSR: m_strClassKey = VESK_SERVICEOPOS_KEY "\\MSR\\"; break;
    case DEVCLASS_SMARTCARD: m_strClassKey = VESK_SERVICEOPOS_KEY "\\SmartCardRW\\"; break;
    default: return FALSE;
    }
    LoadPortSettings();
    if (m_bEnded)
        return FALSE;
    if (m_nClassCode == DEVCLASS_LINEDISPLAY && m_nModel != kDisplayWithoutVCom && FindDisplayComPort() == 0 &&
        AfxMessageBox(kVComQuestion, MB_YESNO) == IDYES && FindDisplayComPort() == 0)
        RunVComInstaller();
    if (m_nClassCode == DEVCLASS_POSPRINTER)
        LoadReceiptSettings();
    else if (m_nClassCode == DEVCLASS_LABELPRINTER)
        LoadLabelSettings();
    m_strLastPort = GetPortText(m_cmbPort.GetCurSel());

    BOOL printer = m_nClassCode == DEVCLASS_POSPRINTER || m_nClassCode == DEVCLASS_LABELPRINTER;
    m_btnAdvanced.EnableWindow(printer);
    m_btnAdvanced.ShowWindow(printer ? SW_SHOW : SW_HIDE);
    BOOL through = CanUseHostPrinter();
    for (int id : {IDC_CFG_THROUGH_PRINTER, IDC_CFG_HOST_PRINTERS})
        ::ShowWindow(::GetDlgItem(m_hWnd, id), through ? SW_SHOW : SW_HIDE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_CFG_THROUGH_PRINTER), through);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_CFG_HOST_PRINTERS), through && m_bThroughPrinter);
    // A display that opens on its host printer shows the serial controls off, as the check does.
    if (through && m_bThroughPrinter)
        EnableSerialControls(FALSE);
    m_bInitialised = TRUE;
    return TRUE;
}

void CConfigPrinterDlg::OnMove(int, int)
{
    if (!m_bInitialised)
        return;
    CRect r;
    GetWindowRect(&r);
    if (r.left != m_rcWindow.left || r.top != m_rcWindow.top)
        MoveWindow(m_rcWindow.left, m_rcWindow.top, kWidth, kHeight);
}

void CConfigPrinterDlg::LoadCaptions()
{
    ChooseUILanguage();
    const struct
    {
        int id;
        UINT text;
    } captions[] = {{1033, 15}, {1034, 16}, {1035, 17}, {1051, 18}, {1055, 22}, {1052, 20}, {1049, 21},
                    {1050, 23}, {1060, 84}, {1029, 32}, {1030, 33}, {1025, 28}, {1031, 34}, {1026, 29},
                    {1032, 35}, {1027, 30}, {1028, 31}, {1058, 85}, {1059, 86}};
    for (const auto& c : captions)
        SetDlgItemText(c.id, FxLoadString(c.text));
    SetDlgItemText(IDC_CFG_SERIAL, FxLoadString(19) + " (");
    bool ethernet = m_nInterface == kEthernet;
    SetDlgItemText(IDC_CFG_PORT_LABEL, FxLoadString(ethernet ? 25 : 24));
    SetDlgItemText(IDC_CFG_BAUD_LABEL, FxLoadString(ethernet ? 24 : 27));
    m_btnOk.SetText(FxLoadString(14));
    m_btnCancel.SetText(FxLoadString(13));
    m_btnCheckHealth.SetText(FxLoadString(36));
    m_btnAdvanced.SetText(FxLoadString(90));
    m_strFooter1 = FxLoadString(IDS_FOOTER_1);
    m_strFooter2 = FxLoadString(IDS_FOOTER_2);
}
