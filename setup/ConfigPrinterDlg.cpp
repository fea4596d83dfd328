#include "ConfigPrinterDlg.h"

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

namespace {
const UINT kMsgPortUsed = 61, kMsgLdnRefused = 66, kMsgInfFailed = 67, kMsgRegistryFailed = 68, kMsgNoUsb = 69,
           kMsgInstalled = 70, kMsgOutputBuffer = 71, kMsgClaimError = 72, kMsgOpenError = 73,
           kMsgWrongInterface = 75;
const int kWidth = 595, kHeight = 341;
const long kClaimTimeout = 100, kHealthInteractive = 3;
enum { kSerial = 0, kParallel = 1, kUsb = 2, kEthernet = 3 };

const char* const kBaudRates[] = {"9600", "19200", "38400", "57600", "115200"};

// Line display models: the name that begins their virtual COM port's friendly name and that
// their driver's installer takes. 5001 has no virtual port.
const DWORD kDisplayThroughPrinter = 5004, kDisplayWithoutVCom = 5001;
const char* DisplayModelName(DWORD model)
{
    switch (model) {
    case 5002: return "VDX-A1";
    case 5003:
    case 5005: return "VDX-A2";
    case 5004: return "VDX-A3";
    default: return nullptr;
    }
}
const char kVComQuestion[] = "If you use USB cable, you have to install VCom Driver for LineDisplay.\r\n"
                             "Do you want to install VCom Driver?\r\n";
const char kVComInstaller[] = "VDXVComInstaller\\VDXVComInstaller.exe /mn ";
const char kMsgNoHostPrinter[] = "No printer available to connect.";

// Models whose receipt images may be grayscale whatever their INF says.
const DWORD kGrayscaleModels[] = {1024, 1025, 1028, 1029, 1030, 1033, 1034, 1036, 1037, 1038};

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

// Device key names of a class key, up to the first name from "[" on (the registry lists them in
// name order, and those are no devices).
std::vector<CString> SubkeysOf(const CString& classKey)
{
    std::vector<CString> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, WithoutTrailingBackslash(classKey), 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        char name[257] = {};
        DWORD len = 256;
        if (RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS || name[0] == '[')
            break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

// Calls fn for each present device of the "Ports" class that has a readable PortName; FALSE when
// the class or its devices cannot be listed.
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

BOOL CConfigPrinterDlg::LoadPortRanges()
{
    CRegistry reg;
    CString installDir;
    if (!reg.GetString(VESK_SERVICEINFO_KEY, "Installdir", installDir)) {
        AfxMessageBox(FxLoadString(kMsgRegistryFailed), MB_OK);
        return FALSE;
    }
    m_strInstallDir = installDir;
    // A failed enumeration counts no machine ports, so setup.inf's ranges decide alone.
    if (!EnumeratePorts()) {
        m_nComRange = 0;
        m_nLptRange = 0;
    }
    CString setupInf = m_strInstallDir + "\\setup.inf";
    struct
    {
        const char* key;
        int def;
        int& range;
    } ranges[] = {{"COMRange", 10, m_nComRange}, {"LPTRange", 2, m_nLptRange}};
    for (auto& r : ranges) {
        int fromFile = int(GetPrivateProfileIntA("Description", r.key, r.def, setupInf));
        if (fromFile < r.range)
            WritePrivateProfileStringA("Description", r.key, Decimal(r.range), setupInf);
        else
            r.range = fromFile;
    }
    return TRUE;
}

BOOL CConfigPrinterDlg::EnumeratePorts()
{
    std::vector<int> com, lpt;
    BOOL listed = ForEachPresentPort([&](HDEVINFO, SP_DEVINFO_DATA&, const char* name) {
        if (strncmp(name, "COM", 3) == 0)
            com.push_back(atoi(name + 3));
        else if (strncmp(name, "LPT", 3) == 0)
            lpt.push_back(atoi(name + 3));
    });
    if (!listed)
        return FALSE;
    m_listComPorts = com;
    m_listLptPorts = lpt;
    std::sort(m_listComPorts.begin(), m_listComPorts.end());
    std::sort(m_listLptPorts.begin(), m_listLptPorts.end());
    m_nLptRange = m_listLptPorts.empty() ? 0 : m_listLptPorts.back();
    m_nComRange = m_listComPorts.empty() ? 10 : (m_listComPorts.back() / 10 + 1) * 10;
    return TRUE;
}

void CConfigPrinterDlg::EnableInterfaceControls()
{
    auto enable = [&](int id, bool on) { ::EnableWindow(::GetDlgItem(m_hWnd, id), on); };
    DWORD mask = m_nPortTypeN;
    if (mask != 0) {
        enable(IDC_CFG_SERIAL, mask & (PORTCAP_SERIAL | PORTCAP_BLUETOOTH));
        enable(IDC_CFG_BLUETOOTH, mask & PORTCAP_BLUETOOTH);
        enable(IDC_CFG_PARALLEL, mask & PORTCAP_PARALLEL);
        enable(IDC_CFG_USB, mask & PORTCAP_USB);
        enable(IDC_CFG_ETHERNET, mask & (PORTCAP_ETHERNET | PORTCAP_WIRELESS));
        enable(IDC_CFG_WIRELESS, mask & PORTCAP_WIRELESS);
        return;
    }
    for (int id : {IDC_CFG_SERIAL, IDC_CFG_PARALLEL, IDC_CFG_USB, IDC_CFG_ETHERNET})
        enable(id, true);
    // Per PortType: the radios it disables, and whether Bluetooth and WirelessLAN are disabled.
    const struct
    {
        DWORD type;
        bool serial, parallel, usb, ethernet;  // disabled
        bool noBluetooth, noWireless;
    } rows[] = {
        {1, false, true, true, true, true, true},     {2, false, false, true, true, true, true},
        {4, false, true, false, true, false, true},   {5, false, false, true, false, false, false},
        {6, false, true, false, true, true, true},    {7, true, false, true, true, true, true},
        {8, false, true, false, false, false, false}, {9, false, false, false, true, true, true},
        {10, true, true, false, true, true, true},    {11, true, true, false, true, true, true},
    };
    for (const auto& row : rows) {
        if (row.type != m_nPortType)
            continue;
        if (row.serial)
            enable(IDC_CFG_SERIAL, false);
        if (row.parallel)
            enable(IDC_CFG_PARALLEL, false);
        if (row.usb)
            enable(IDC_CFG_USB, false);
        if (row.ethernet)
            enable(IDC_CFG_ETHERNET, false);
        if (row.noBluetooth)
            enable(IDC_CFG_BLUETOOTH, false);
        if (row.noWireless)
            enable(IDC_CFG_WIRELESS, false);
    }
}

void CConfigPrinterDlg::LoadPortSettings()
{
    CRegistry reg;
    CString key = DeviceKey();
    m_strKeyNameShown = m_strKeyName;
    reg.GetString(key, "DeviceName", m_strDeviceName);
    reg.GetDWORD(key, "Porttype", m_nPortType);
    reg.GetDWORD(key, "Porttype_N", m_nPortTypeN);
    EnableInterfaceControls();
    reg.GetString(key, "Pid", m_strPid);
    reg.GetString(key, "Vid", m_strVid);
    reg.GetString(key, "UsbDeviceName", m_strUsbDeviceName);
    reg.GetDWORD(key, "UsbCount", m_nUsbCount);
    reg.GetString(key, "TcpIp", m_strTcpIp);
    BYTE b[4] = {0, 0, 0, 0};
    int pos = 0;
    for (int i = 0; i < 4; ++i) {
        CString part = m_strTcpIp.Tokenize(".", pos);
        if (pos < 0)
            break;
        b[i] = BYTE(atoi(part));
    }
    ::SendDlgItemMessageA(m_hWnd, IDC_CFG_IPADDRESS, IPM_SETADDRESS, 0, MAKEIPADDRESS(b[0], b[1], b[2], b[3]));
    DWORD tcpPort = DWORD(m_nTcpPort);
    if (reg.GetDWORD(key, "TcpPort", tcpPort))
        m_nTcpPort = int(tcpPort);

    reg.GetString(key, "Port", m_strStoredPort);
    CString prefix = m_strStoredPort.Left(3);
    if (prefix == "COM") {
        m_nInterface = kSerial;
        DWORD bt = 0;
        reg.GetDWORD(key, "UsingBT", bt);
        m_bUsingBT = int(bt);
    } else if (prefix == "LPT") {
        m_nInterface = kParallel;
    } else if (prefix == "USB") {
        m_nInterface = kUsb;
    } else {
        m_nInterface = kEthernet;
        DWORD wireless = 0;
        reg.GetDWORD(key, "Wireless", wireless);
        m_bWireless = int(wireless);
    }
    // The USB fallback runs a radio handler, which first takes the controls back: they must
    // already show the key name, the hidden edits' "0" and what was read so far.
    PushControls();
    FillPortList();
    if (m_bEnded)
        return;

    reg.GetString(key, "InputBuf", m_strInputBuf);
    reg.GetString(key, "OutputBuf", m_strOutputBuf);
    reg.GetString(key, "Out_Interval", m_strOutInterval);
    reg.GetString(key, "InputSleep", m_strInputSleep);
    reg.GetString(key, "Timeout", m_strTimeout);
    reg.GetDWORD(key, "Model_N", m_nModelN);
    reg.GetDWORD(key, "Model", m_nModel);
    reg.GetString(key, "LDN", m_strLdn);

    CString port;
    reg.GetString(key, "Port", port);
    int item = m_cmbPort.FindStringExact(-1, port);
    // FindStringExact ignores case; the stored port must match exactly.
    if (item < 0 || GetPortText(item) != port)
        item = 0;
    m_cmbPort.SetCurSel(item);

    CString text;
    int baud = 1;
    if (reg.GetString(key, "BaudRate", text))
        for (int i = 0; i < 5; ++i)
            if (atoi(text) == atoi(kBaudRates[i]))
                baud = i;
    m_cmbBaud.SetCurSel(baud);
    text.Empty();
    reg.GetString(key, "BitLength", text);
    m_cmbBitLength.SetCurSel(text == "7" ? 0 : 1);
    text.Empty();
    reg.GetString(key, "HandShake", text);
    m_cmbFlow.SetCurSel(text == "Xon/Xoff" ? 1 : text == "None" ? 2 : 0);
    if (reg.GetString(key, "Parity", text))
        m_cmbParity.SetCurSel(atoi(text));
    m_cmbStopBits.SetCurSel(0);

    DWORD v = 0;
    reg.GetDWORD(key, "Log", v);
    m_bLog = int(v);
    if (m_bLog) {
        m_nLogSavingDays = 14;
        reg.GetDWORD(key, "LogSavingDays", m_nLogSavingDays);
    }
    v = 0;
    reg.GetDWORD(key, "Binary", v);
    m_bBinary = int(v);

    // The host printer is taken only while it is still one: a stale name opens with the check clear.
    CString host;
    if (CanUseHostPrinter() && reg.GetString(key, "CompactPrinter", host) && !host.IsEmpty() &&
        ListHostPrinters() != 0) {
        int hostItem = m_cmbHostPrinters.FindStringExact(-1, host);
        if (hostItem >= 0 && m_cmbHostPrinters.GetLBText(hostItem) == host) {
            m_bThroughPrinter = 1;
            m_cmbHostPrinters.EnableWindow(TRUE);
            m_cmbHostPrinters.SetCurSel(hostItem);
        }
    }
    PushControls();
}

void CConfigPrinterDlg::FillPortList()
{
    m_cmbPort.ResetContent();
    auto show = [&](int id, bool on) { ::ShowWindow(::GetDlgItem(m_hWnd, id), on ? SW_SHOW : SW_HIDE); };
    auto enable = [&](int id, bool on) { ::EnableWindow(::GetDlgItem(m_hWnd, id), on); };
    show(IDC_CFG_PORT, true);
    show(IDC_CFG_BAUD, true);
    show(IDC_CFG_IPADDRESS, false);
    show(IDC_CFG_TCPPORT, false);
    for (int id = IDC_CFG_BAUD; id <= IDC_CFG_FLOW; ++id)
        enable(id, false);
    LoadCaptions();

    CString name;
    switch (m_nInterface) {
    case kSerial:
        if (m_nFindAvailablePort)
            for (int n : m_listComPorts) {
                name.Format("COM%d", n);
                m_cmbPort.AddString(name);
            }
        else
            for (int n = 1; n <= m_nComRange; ++n) {
                name.Format("COM%d", n);
                m_cmbPort.AddString(name);
            }
        for (int id = IDC_CFG_BAUD; id <= IDC_CFG_FLOW; ++id)
            enable(id, true);
        m_cmbPort.SetCurSel(0);
        if (m_nPortTypeN == 0) {
            DWORD t = m_nPortType;
            enable(IDC_CFG_BLUETOOTH, !(t == 1 || t == 2 || t == 6 || t == 7 || t == 9));
            enable(IDC_CFG_WIRELESS, false);
        } else if (!(m_nPortTypeN & PORTCAP_SERIAL) && (m_nPortTypeN & PORTCAP_BLUETOOTH)) {
            m_bUsingBT = 1;
        }
        m_bWireless = 0;
        break;
    case kParallel:
        if (m_nFindAvailablePort)
            for (int n : m_listLptPorts) {
                name.Format("LPT%d", n);
                m_cmbPort.AddString(name);
            }
        else
            for (int n = 1; n <= m_nLptRange; ++n) {
                name.Format("LPT%d", n);
                m_cmbPort.AddString(name);
            }
        m_cmbPort.SetCurSel(0);
        if (m_nPortTypeN == 0) {
            enable(IDC_CFG_BLUETOOTH, false);
            enable(IDC_CFG_WIRELESS, false);
        }
        m_bUsingBT = 0;
        m_bWireless = 0;
        break;
    case kUsb: {
        m_usbList.EnumerateUsbDevices();
        m_strVid.MakeUpper();
        m_strPid.MakeUpper();
        int added = 0;
        for (int i = 0; i < m_usbList.GetCount(); ++i) {
            UsbDeviceEntry* e = m_usbList.GetDeviceAt(i);
            if (e && e->strVid == m_strVid && e->strPid == m_strPid) {
                m_cmbPort.AddString(e->strUsbName);
                ++added;
            }
        }
        if (m_nPortTypeN == 0) {
            enable(IDC_CFG_BLUETOOTH, false);
            enable(IDC_CFG_WIRELESS, false);
        }
        m_bUsingBT = 0;
        m_bWireless = 0;
        if (added == 0) {
            AfxMessageBox(FxLoadString(kMsgNoUsb), MB_OK);
            DWORD mask = m_nPortTypeN;
            if (mask & (PORTCAP_SERIAL | PORTCAP_BLUETOOTH))
                OnBnClickedSerial();
            else if (mask & PORTCAP_PARALLEL)
                OnBnClickedParallel();
            else
                OnBnClickedEthernet();
            return;  // the handler has filled the list of the new interface
        }
        m_cmbPort.SetCurSel(0);
        break;
    }
    case kEthernet:
        show(IDC_CFG_PORT, false);
        show(IDC_CFG_BAUD, false);
        show(IDC_CFG_IPADDRESS, true);
        show(IDC_CFG_TCPPORT, true);
        if (m_nPortTypeN == 0) {
            enable(IDC_CFG_BLUETOOTH, false);
            enable(IDC_CFG_WIRELESS, true);
        } else if (!(m_nPortTypeN & PORTCAP_ETHERNET) && (m_nPortTypeN & PORTCAP_WIRELESS)) {
            m_bWireless = 1;
        }
        m_bUsingBT = 0;
        if (m_nTcpPort == 0)
            m_nTcpPort = 9100;
        LoadCaptions();
        break;
    }
    if (!LoadBufferSizes(m_nInterface)) {
        AfxMessageBox(FxLoadString(kMsgInfFailed), MB_OK);
        CSkinDialog::OnCancel();
        return;
    }
    m_strInputBuf = Decimal(m_nInBufDefault);
    m_strOutputBuf = Decimal(m_nOutBufDefault);
    PushControls();
    Invalidate();
}

BOOL CConfigPrinterDlg::LoadBufferSizes(int interfaceType)
{
    CRegistry reg;
    reg.GetString(DeviceKey(), "DeviceName", m_strDeviceName);
    CString inf = ModelInf();
    const char *out = nullptr, *in = nullptr;
    switch (interfaceType) {
    case kSerial:
        out = m_bUsingBT ? "BTOUTBUF" : "SERIALOUTBUF";
        in = m_bUsingBT ? "BTINBUF" : "SERIALINBUF";
        break;
    case kParallel: out = "PARALLELOUTBUF", in = "PARALLELINBUF"; break;
    case kUsb: out = "USBOUTBUF", in = "USBINBUF"; break;
    case kEthernet: out = "ETHOUTBUF", in = "ETHINBUF"; break;
    default: AfxMessageBox(FxLoadString(kMsgWrongInterface), MB_OK); return FALSE;
    }
    m_nOutBufDefault = int(InfInt("OUTPUTBUFFER", out, 4096, inf));
    m_nInBufDefault = int(InfInt("INPUTBUFFER", in, 4096, inf));
    return TRUE;
}

CString CConfigPrinterDlg::GetPortText(int index)
{
    if (!m_cmbPort.m_hWnd || m_cmbPort.GetCount() == 0 || index < 0)
        return CString();
    return m_cmbPort.GetLBText(index);
}

void CConfigPrinterDlg::ChangeInterface(int interfaceType)
{
    TakeControls();
    m_nInterface = interfaceType;
    FillPortList();
    PushControls();
}

void CConfigPrinterDlg::OnBnClickedSerial() { ChangeInterface(kSerial); }
void CConfigPrinterDlg::OnBnClickedParallel() { ChangeInterface(kParallel); }
void CConfigPrinterDlg::OnBnClickedUsb() { ChangeInterface(kUsb); }
void CConfigPrinterDlg::OnBnClickedEthernet() { ChangeInterface(kEthernet); }

void CConfigPrinterDlg::OnBnClickedBluetooth()
{
    TakeControls();
    if (!LoadBufferSizes(kSerial)) {
        AfxMessageBox(FxLoadString(kMsgInfFailed), MB_OK);
        CSkinDialog::OnCancel();
        return;
    }
    m_strInputBuf = Decimal(m_nInBufDefault);
    m_strOutputBuf = Decimal(m_nOutBufDefault);
    if (m_nPortTypeN != 0) {
        if (m_nInterface != kSerial) {
            PushControls();
            OnBnClickedSerial();
            return;
        }
        if (!(m_nPortTypeN & PORTCAP_SERIAL) && (m_nPortTypeN & PORTCAP_BLUETOOTH))
            m_bUsingBT = 1;  // a Bluetooth-only model keeps the check
    }
    PushControls();
}

void CConfigPrinterDlg::OnBnClickedWirelessLan()
{
    TakeControls();
    if (m_nPortTypeN != 0) {
        if (m_nInterface != kEthernet) {
            OnBnClickedEthernet();
            return;
        }
        if (!(m_nPortTypeN & PORTCAP_ETHERNET) && (m_nPortTypeN & PORTCAP_WIRELESS))
            m_bWireless = 1;
    }
    PushControls();
}

void CConfigPrinterDlg::OnBnClickedLog() { TakeControls(); }
void CConfigPrinterDlg::OnBnClickedBinary() { TakeControls(); }

BOOL CConfigPrinterDlg::CanUseHostPrinter() const
{
    return m_nClassCode == DEVCLASS_LINEDISPLAY && m_nModel == kDisplayThroughPrinter;
}

void CConfigPrinterDlg::EnableSerialControls(BOOL on)
{
    for (int id : {IDC_CFG_SERIAL, IDC_CFG_PORT, IDC_CFG_BAUD, IDC_CFG_BITLEN, IDC_CFG_PARITY, IDC_CFG_STOPBIT,
                   IDC_CFG_FLOW})
        ::EnableWindow(::GetDlgItem(m_hWnd, id), on);
}

int CConfigPrinterDlg::FindDisplayComPort()
{
    const char* model = m_nClassCode == DEVCLASS_LINEDISPLAY ? DisplayModelName(m_nModel) : nullptr;
    if (!model)
        return 0;
    int number = 0;
    ForEachPresentPort([&](HDEVINFO devices, SP_DEVINFO_DATA& device, const char* portName) {
        char friendly[260] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<BYTE*>(friendly), sizeof friendly - 1, nullptr))
            friendly[0] = 0;
        if (strncmp(friendly, model, strlen(model)) != 0)
            return;
        // The whole name over the whole list: a search by prefix would take COM10 for COM1.
        int item = m_cmbPort.FindStringExact(-1, portName);
        if (item < 0)
            return;
        m_cmbPort.SetCurSel(item);
        number = atoi(portName + 3);
    });
    return number;
}

void CConfigPrinterDlg::RunVComInstaller()
{
    const char* model = DisplayModelName(m_nModel);
    if (!model)
        return;
    CString command = CString(kVComInstaller) + model;
    std::vector<char> line(command.GetString(), command.GetString() + command.GetLength() + 1);
    ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    // Also after a failed start, so the wait cursor does not stay.
    ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
}

int CConfigPrinterDlg::ListHostPrinters()
{
    // Emptied first: a second check would otherwise list every host printer twice.
    m_cmbHostPrinters.ResetContent();
    const CString classKey = VESK_SERVICEOPOS_KEY "\\POSPrinter\\";
    CRegistry reg;
    for (const CString& name : SubkeysOf(classKey)) {
        CString model;
        if (!name.IsEmpty() && reg.GetString(classKey + name, "DeviceName", model) &&
            (model == "KPT-A10" || model == "KPT-A12"))
            m_cmbHostPrinters.AddString(name);
    }
    return m_cmbHostPrinters.GetCount();
}

void CConfigPrinterDlg::OnBnClickedThroughPrinter()
{
    TakeControls();
    if (m_bThroughPrinter && ListHostPrinters() != 0) {
        m_cmbHostPrinters.SetCurSel(0);
        m_cmbHostPrinters.EnableWindow(TRUE);
        EnableSerialControls(FALSE);
        return;
    }
    if (m_bThroughPrinter)
        AfxMessageBox(kMsgNoHostPrinter, MB_OK);
    m_cmbHostPrinters.EnableWindow(FALSE);
    for (int id : {IDC_CFG_SERIAL, IDC_CFG_PORT})
        ::EnableWindow(::GetDlgItem(m_hWnd, id), TRUE);
    OnBnClickedSerial();
    FindDisplayComPort();
    m_bThroughPrinter = 0;
    PushControls();
}

std::vector<CString> CConfigPrinterDlg::OtherDeviceKeys() const
{
    std::vector<CString> names = SubkeysOf(m_strClassKey);
    names.erase(std::remove(names.begin(), names.end(), m_strKeyName), names.end());
    return names;
}

BOOL CConfigPrinterDlg::IsPortAvailable(const CString& port)
{
    TakeControls();
    CRegistry reg;
    if (port.Left(3) == "USB") {
        // A USB device is held by the key that stored its interface path.
        UsbDeviceEntry* entry = m_usbList.FindDeviceByName(port);
        if (!entry)
            return TRUE;
        for (const CString& name : OtherDeviceKeys()) {
            CString path;
            if (reg.GetString(m_strClassKey + name, "UsbDeviceName", path) && !path.IsEmpty() &&
                path.CompareNoCase(entry->strDevicePath) == 0)
                return FALSE;
        }
        return TRUE;
    }
    for (const CString& name : OtherDeviceKeys()) {
        CString held;
        reg.GetString(m_strClassKey + name, "Port", held);
        if (held == port)
            return FALSE;
    }
    return TRUE;
}

void CConfigPrinterDlg::OnCbnSelchangePort()
{
    TakeControls();
    CString s = GetPortText(m_cmbPort.GetCurSel());
    if (m_nInterface == kEthernet)
        return;
    if (IsPortAvailable(s)) {
        m_strLastPort = s;
        return;
    }
    int item = m_cmbPort.FindStringExact(-1, m_strLastPort);
    if (item >= 0)
        m_cmbPort.SetCurSel(item);
}

BOOL CConfigPrinterDlg::CheckLdn()
{
    // A control that failed its check has said so; the callers stop as for a refused name.
    if (!UpdateData(TRUE))
        return FALSE;
    if (m_strLdn.IsEmpty())
        return TRUE;
    std::vector<CString> keys = SubkeysOf(m_strClassKey);
    CRegistry reg;
    CString alias;
    reg.GetString(WithoutTrailingBackslash(m_strClassKey), m_strLdn, alias);
    bool refused = false;
    if (std::find(keys.begin(), keys.end(), m_strLdn) != keys.end())
        refused = alias != m_strKeyName;
    // A logical name that already leads to another existing device stays that device's.
    else if (!alias.IsEmpty() && alias != m_strKeyName && std::find(keys.begin(), keys.end(), alias) != keys.end())
        refused = true;
    if (!refused)
        return TRUE;
    CString text;
    text.Format(FxLoadString(kMsgLdnRefused), m_strLdn.GetString());
    AfxMessageBox(text, MB_OK);
    return FALSE;
}

BOOL CConfigPrinterDlg::AliasIsOurs(const CString& ldn)
{
    CRegistry reg;
    CString target;
    return reg.GetString(WithoutTrailingBackslash(m_strClassKey), ldn, target) && target == m_strKeyName;
}

BOOL CConfigPrinterDlg::SavePortSettings()
{
    if (!UpdateData(TRUE))
        return FALSE;
    if (m_strOutputBuf == "0") {
        AfxMessageBox(FxLoadString(kMsgOutputBuffer), MB_OK);
        return FALSE;
    }
    CRegistry reg;
    CString key = DeviceKey(), classKey = WithoutTrailingBackslash(m_strClassKey);
    CString oldLdn;
    reg.GetString(key, "LDN", oldLdn);
    if (!oldLdn.IsEmpty() && oldLdn != m_strLdn && AliasIsOurs(oldLdn))
        reg.Delete(classKey, oldLdn);

    CString port = GetPortText(m_cmbPort.GetCurSel());
    CString baud = m_cmbBaud.GetCurSel() >= 0 ? m_cmbBaud.GetLBText(m_cmbBaud.GetCurSel()) : CString();
    CString bits = m_cmbBitLength.GetCurSel() >= 0 ? m_cmbBitLength.GetLBText(m_cmbBitLength.GetCurSel()) : CString();
    CString flow = m_cmbFlow.GetCurSel() >= 0 ? m_cmbFlow.GetLBText(m_cmbFlow.GetCurSel()) : CString();
    CString parity = Decimal(m_cmbParity.GetCurSel()), stop = Decimal(m_cmbStopBits.GetCurSel());

    if (!m_strLdn.IsEmpty())
        reg.SetString(classKey, m_strLdn, m_strKeyName);
    const struct
    {
        const char* name;
        const CString& value;
    } texts[] = {{"LDN", m_strLdn},          {"BaudRate", baud},         {"BitLength", bits},
                 {"HandShake", flow},        {"InputBuf", m_strInputBuf}, {"OutputBuf", m_strOutputBuf},
                 {"InputSleep", m_strInputSleep}, {"Out_Interval", m_strOutInterval}, {"Parity", parity},
                 {"Stop", stop},             {"Timeout", m_strTimeout}};
    for (const auto& t : texts)
        reg.SetString(key, t.name, t.value);

    switch (m_nInterface) {
    case kUsb: {
        reg.SetString(key, "Port", port);
        reg.SetString(key, "Vid", m_strVid);
        reg.SetString(key, "Pid", m_strPid);
        // Without a listed device of that name the stored path and rank stay as they are.
        if (UsbDeviceEntry* e = m_usbList.FindDeviceByName(port)) {
            reg.SetString(key, "UsbDeviceName", e->strDevicePath);
            reg.SetDWORD(key, "UsbCount", DWORD(e->nOrdinal));
        }
        break;
    }
    case kEthernet: {
        DWORD address = 0;
        ::SendDlgItemMessageA(m_hWnd, IDC_CFG_IPADDRESS, IPM_GETADDRESS, 0, LPARAM(&address));
        CString ip;
        ip.Format("%d.%d.%d.%d", int(FIRST_IPADDRESS(address)), int(SECOND_IPADDRESS(address)),
                  int(THIRD_IPADDRESS(address)), int(FOURTH_IPADDRESS(address)));
        reg.SetString(key, "Port", "Ethernet");
        reg.SetString(key, "TcpIp", ip);
        reg.SetDWORD(key, "TcpPort", DWORD(m_nTcpPort));
        reg.SetDWORD(key, "Wireless", DWORD(m_bWireless));
        break;
    }
    default:
        reg.SetString(key, "Port", port);
        if (m_nInterface == kSerial)
            reg.SetDWORD(key, "UsingBT", DWORD(m_bUsingBT));
        break;
    }
    reg.SetDWORD(key, "Log", DWORD(m_bLog));
    reg.SetDWORD(key, "LogSavingDays", m_nLogSavingDays);
    reg.SetDWORD(key, "Binary", DWORD(m_bBinary));
    if (m_nClassCode == DEVCLASS_POSPRINTER)
        SaveReceiptSettings();
    else if (m_nClassCode == DEVCLASS_LABELPRINTER)
        SaveLabelSettings();
    if (CanUseHostPrinter()) {
        int host = m_cmbHostPrinters.GetCurSel();
        reg.SetString(key, "CompactPrinter",
                      m_bThroughPrinter && host >= 0 ? m_cmbHostPrinters.GetLBText(host) : CString());
    }
    PushControls();
    m_bSaved = TRUE;
    return TRUE;
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
        int pos = 0;
        for (int i = 0; i < 3; ++i) {
            CString piece = m_strRecLineCharsList.Tokenize(",", pos);
            if (pos < 0)
                break;
            if (atoi(piece) == n)
                m_strDefaultFont = letters[i];
        }
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
    return TRUE;
}

void CConfigPrinterDlg::SaveReceiptSettings()
{
    CRegistry reg;
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
}

BOOL CConfigPrinterDlg::SaveLabelSettings()
{
    m_nOffsetPosition = OffsetToStored(m_nOffsetPosition);
    m_nTearOffPosition = OffsetToStored(m_nTearOffPosition);
    CRegistry reg;
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
    return TRUE;
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
    if (m_nInterface == kSerial) {
        TakeControls();
        CString p = GetPortText(m_cmbPort.GetCurSel());
        if (!IsPortAvailable(p)) {
            int item = m_cmbPort.FindStringExact(-1, m_strLastPort);
            if (item >= 0)
                m_cmbPort.SetCurSel(item);
            AfxMessageBox(FxLoadString(kMsgPortUsed) + " : " + p, MB_OK);
        }
    }
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
    HKEY classKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, WithoutTrailingBackslash(m_strClassKey), 0, KEY_ALL_ACCESS, &classKey) ==
        ERROR_SUCCESS) {
        RegDeleteKeyA(classKey, m_strKeyName);
        RegCloseKey(classKey);
    }
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
