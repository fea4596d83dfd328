// The printer configuration dialog's ports and interfaces: the port ranges and the machine's
// ports, the interface radios and port lists, and the checks that a port and a logical device
// name are free.
#include "ConfigPrinterDlg.h"
#include "ConfigPrinterParts.h"
#include "DeviceKey.h"
#include "DeviceRules.h"
#include "FxRes.h"
#include "Registry.h"
#include "resource.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace cfgprn {
PortBinding ComputeBinding(const BindingState& s)
{
    PortBinding b;
    b.interfaceType = s.interfaceType;
    if (s.interfaceType == kEthernet) {
        if (s.tcpPortEmpty || s.tcpPort < 1 || s.tcpPort > 65535)
            b.refusal = kMsgTcpPortRange;
        else if (!s.tcpIpWhole)
            b.refusal = kMsgIpAddress;
        b.port = "Ethernet";
        b.tcpIp = s.tcpIp;
        b.tcpPort = DWORD(s.tcpPort);
        return b;
    }
    if (s.interfaceType != kSerial && s.interfaceType != kParallel && s.interfaceType != kUsb) {
        b.refusal = FxLoadString(kMsgWrongInterface);
        return b;
    }
    const bool usb = s.interfaceType == kUsb;
    if (!s.selected.IsEmpty()) {
        if (s.selectedHeld) {
            b.refusal = FxLoadString(kMsgPortUsed) + " : " + s.selected;
            return b;
        }
        b.port = s.selected;
        b.usbPath = s.selectedUsbPath;
        b.usbCount = s.selectedUsbCount;
        return b;
    }
    if (s.portUnused)
        return b;  // the port list is off; what it holds is saved as it is
    const char* prefix = s.interfaceType == kSerial ? "COM" : s.interfaceType == kParallel ? "LPT" : "USB";
    bool sameInterface = s.storedPort.Left(3) == prefix && (!usb || !s.storedUsbPath.IsEmpty());
    if (!s.addMode && sameInterface) {
        if (s.storedHeld) {
            b.refusal = FxLoadString(kMsgPortUsed) + " : " + s.storedPort;
            return b;
        }
        b.keepStored = true;
        b.port = s.storedPort;
        return b;
    }
    b.refusal = usb ? kMsgNoUsbPrinter : kMsgNoPort;
    return b;
}
}

using namespace cfgprn;

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
    std::vector<CString> parts = SplitFields(m_strTcpIp, '.');
    for (size_t i = 0; i < 4 && i < parts.size(); ++i)
        b[i] = BYTE(atoi(parts[i]));
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
    } else if (m_strStoredPort.IsEmpty() && InterfaceOfUnboundKey() != kEthernet) {
        // A key bound to nothing (a USB model added while unplugged) opens on an interface its
        // model offers, not on the network defaults Add Device wrote.
        m_nInterface = InterfaceOfUnboundKey();
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
    // A USB name is only a place in the list of present devices: the stored device is found by
    // its interface path, and while it is absent nothing is selected.
    if (m_nInterface == kUsb)
        item = StoredUsbItem();
    m_cmbPort.SetCurSel(item);
    // Add Device's default moves to a free port; a modified key opens on what it is bound to, and
    // is told when another key holds that too: OK refuses it until a free one is chosen.
    CString shown = GetPortText(item);
    const bool storedShown = m_nInterface == kUsb ? item >= 0 : !shown.IsEmpty() && shown == port;
    if (!m_bAddMode && storedShown && m_nInterface != kEthernet && PortHeld(shown))
        AfxMessageBox(FxLoadString(kMsgPortUsed) + " : " + shown, MB_OK);
    else
        SelectFreePort();

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
    // A damaged parity opens as NONE: without a selection the save would store "-1", which the
    // serial transport cannot open.
    if (reg.GetString(key, "Parity", text))
        m_cmbParity.SetCurSel(InRangeOr(atoi(text), 0, 2, 0));
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
            // Only to an interface the model offers: a USB-only model stays on USB with an empty
            // list, and a save keeps its stored device.
            int fallback = UsbFallbackInterface();
            if (fallback == kSerial)
                OnBnClickedSerial();
            else if (fallback == kParallel)
                OnBnClickedParallel();
            else if (fallback == kEthernet)
                OnBnClickedEthernet();
            if (fallback != kUsb)
                return;  // the handler has filled the list of the new interface
            break;
        }
        m_cmbPort.SetCurSel(std::max(StoredUsbItem(), 0));
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

int CConfigPrinterDlg::UsbFallbackInterface() const
{
    const DWORD mask = m_nPortTypeN;
    if (mask != 0) {
        if (mask & (PORTCAP_SERIAL | PORTCAP_BLUETOOTH))
            return kSerial;
        if (mask & PORTCAP_PARALLEL)
            return kParallel;
        return mask & (PORTCAP_ETHERNET | PORTCAP_WIRELESS) ? kEthernet : kUsb;
    }
    // Without a mask the PortType has enabled the radios of the interfaces offered.
    for (const auto& r : {std::make_pair(IDC_CFG_ETHERNET, int(kEthernet)), std::make_pair(IDC_CFG_SERIAL, int(kSerial)),
                          std::make_pair(IDC_CFG_PARALLEL, int(kParallel))})
        if (::IsWindowEnabled(::GetDlgItem(m_hWnd, r.first)))
            return r.second;
    return kUsb;
}

int CConfigPrinterDlg::InterfaceOfUnboundKey() const
{
    const DWORD mask = m_nPortTypeN;
    auto offered = [&](int radio, DWORD bits) {
        return mask != 0 ? (mask & bits) != 0 : ::IsWindowEnabled(::GetDlgItem(m_hWnd, radio)) != FALSE;
    };
    if (offered(IDC_CFG_ETHERNET, PORTCAP_ETHERNET | PORTCAP_WIRELESS))
        return kEthernet;
    if (offered(IDC_CFG_USB, PORTCAP_USB))
        return kUsb;
    return UsbFallbackInterface();
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
    SelectFreePort();
    m_strLastPort = GetPortText(m_cmbPort.GetCurSel());
    PushControls();
}

int CConfigPrinterDlg::StoredUsbItem()
{
    if (m_strUsbDeviceName.IsEmpty())
        return -1;
    for (int i = 0; i < m_cmbPort.GetCount(); ++i) {
        UsbDeviceEntry* e = m_usbList.FindDeviceByName(GetPortText(i));
        if (e && e->strDevicePath.CompareNoCase(m_strUsbDeviceName) == 0)
            return i;
    }
    return -1;
}

void CConfigPrinterDlg::SelectFreePort()
{
    if (m_nInterface == kEthernet)
        return;
    if (!PortHeld(GetPortText(m_cmbPort.GetCurSel())))
        return;
    int last = m_strLastPort.IsEmpty() ? -1 : m_cmbPort.FindStringExact(-1, m_strLastPort);
    if (last >= 0 && !PortHeld(GetPortText(last))) {
        m_cmbPort.SetCurSel(last);
        return;
    }
    for (int i = 0; i < m_cmbPort.GetCount(); ++i)
        if (!PortHeld(GetPortText(i))) {
            m_cmbPort.SetCurSel(i);
            return;
        }
    m_cmbPort.SetCurSel(-1);
}

PortBinding CConfigPrinterDlg::BindingToSave()
{
    BindingState s;
    s.addMode = m_bAddMode != FALSE;
    s.interfaceType = m_nInterface;
    s.storedPort = m_strStoredPort;
    s.storedUsbPath = m_strUsbDeviceName;
    if (m_nInterface == kEthernet) {
        DWORD address = 0;
        LRESULT fields = ::SendDlgItemMessageA(m_hWnd, IDC_CFG_IPADDRESS, IPM_GETADDRESS, 0, LPARAM(&address));
        s.tcpIp.Format("%d.%d.%d.%d", int(FIRST_IPADDRESS(address)), int(SECOND_IPADDRESS(address)),
                       int(THIRD_IPADDRESS(address)), int(FOURTH_IPADDRESS(address)));
        s.tcpIpWhole = fields == 4 && address != 0;
        // An emptied edit is no port: the port read at open would be saved without a word.
        s.tcpPortEmpty = ::GetWindowTextLengthA(::GetDlgItem(m_hWnd, IDC_CFG_TCPPORT)) == 0;
        s.tcpPort = m_nTcpPort;
        return ComputeBinding(s);
    }
    s.selected = GetPortText(m_cmbPort.GetCurSel());
    s.portUnused = CanUseHostPrinter() && m_bThroughPrinter;
    s.selectedHeld = !s.selected.IsEmpty() && PortHeld(s.selected);
    if (m_nInterface == kUsb) {
        if (UsbDeviceEntry* e = s.selected.IsEmpty() ? nullptr : m_usbList.FindDeviceByName(s.selected)) {
            s.selectedUsbPath = e->strDevicePath;
            s.selectedUsbCount = DWORD(e->nOrdinal);
        } else {
            s.selected.Empty();  // a name no present printer has binds nothing
        }
        s.storedHeld = !m_strUsbDeviceName.IsEmpty() &&
                       UsbDeviceHeld(WithoutTrailingBackslash(m_strClassKey), m_strUsbDeviceName, m_strKeyName);
    } else {
        s.storedHeld = !m_strStoredPort.IsEmpty() && PortHeld(m_strStoredPort);
    }
    return ComputeBinding(s);
}

void CConfigPrinterDlg::SayRefusal(const PortBinding& binding)
{
    // A refused pick never stays selected: the last accepted port, else a free one, takes its place.
    CString shown = m_nInterface == kEthernet ? CString() : GetPortText(m_cmbPort.GetCurSel());
    if (!shown.IsEmpty() && PortHeld(shown)) {
        int last = m_strLastPort.IsEmpty() ? -1 : m_cmbPort.FindStringExact(-1, m_strLastPort);
        m_cmbPort.SetCurSel(last);
        SelectFreePort();
        m_strLastPort = GetPortText(m_cmbPort.GetCurSel());
    }
    AfxMessageBox(binding.refusal, MB_OK);
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

std::vector<CString> CConfigPrinterDlg::OtherDeviceKeys() const
{
    std::vector<CString> names = ListDeviceKeys(WithoutTrailingBackslash(m_strClassKey), true, KEY_ALL_ACCESS);
    names.erase(std::remove(names.begin(), names.end(), m_strKeyName), names.end());
    return names;
}

BOOL CConfigPrinterDlg::IsPortAvailable(const CString& port)
{
    TakeControls();
    return !PortHeld(port);
}

bool CConfigPrinterDlg::PortHeld(const CString& port)
{
    if (m_nInterface == kUsb || port.Left(3) == "USB") {
        // No selection keeps the stored device; a listed one is held by the key that stored its
        // interface path while that key is still on USB.
        UsbDeviceEntry* entry = port.IsEmpty() ? nullptr : m_usbList.FindDeviceByName(port);
        return entry && UsbDeviceHeld(WithoutTrailingBackslash(m_strClassKey), entry->strDevicePath, m_strKeyName);
    }
    CRegistry reg;
    for (const CString& name : OtherDeviceKeys()) {
        CString held;
        reg.GetString(m_strClassKey + name, "Port", held);
        if (held == port)
            return true;
    }
    return false;
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
    // A refused pick never stays selected: back to the last accepted port, else a free one.
    int item = m_strLastPort.IsEmpty() ? -1 : m_cmbPort.FindStringExact(-1, m_strLastPort);
    if (item >= 0 && PortHeld(GetPortText(item)))
        item = -1;
    for (int i = 0; item < 0 && i < m_cmbPort.GetCount(); ++i)
        if (!PortHeld(GetPortText(i)))
            item = i;
    m_cmbPort.SetCurSel(item);
    m_strLastPort = GetPortText(item);
}

BOOL CConfigPrinterDlg::CheckLdn()
{
    // A control that failed its check has said so; the callers stop as for a refused name.
    if (!UpdateData(TRUE))
        return FALSE;
    if (m_strLdn.IsEmpty() || !LogicalNameTaken(WithoutTrailingBackslash(m_strClassKey), m_strLdn, m_strKeyName))
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
