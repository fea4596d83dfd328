// The printer configuration dialog's line display extras: the display's virtual COM port, its
// driver's installer, and the receipt printer a display can hang on.
#include "ConfigPrinterDlg.h"
#include "ConfigPrinterParts.h"
#include "DeviceKey.h"
#include "FxRes.h"
#include "Registry.h"
#include "resource.h"

#include <cstdlib>
#include <cstring>

using namespace cfgprn;

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
    for (const CString& name : ListDeviceKeys(WithoutTrailingBackslash(classKey), true, KEY_ALL_ACCESS)) {
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
