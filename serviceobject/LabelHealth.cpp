// CheckHealth at its three levels (the state and the initialisation byte; the fixed test label;
// the interactive dialog) and the device-specific DirectIO commands.
#include "LabelHealth.h"

#include "CorvaneRes.h"
#include "LABELPrinter.h"
#include "LabelStatus.h"
#include "OposConst.h"

#include <string>
#include <vector>

namespace {
const char kHealthOk[] = "CheckHealth: Successful";
const char kHealthFailed[] = "CheckHealth: Failed";
const DWORD kInitLockTimeoutMs = 2000;
const DWORD kDirectStatusTimeoutMs = 2500;
const UINT_PTR kRefreshTimer = 1;
const UINT kRefreshMs = 100;

// DirectIO's predefined command numbers.
enum : long
{
    DI_INTERNATIONAL_CHAR = 1,
    DI_OUTPUT = 2,
    DI_CHECK_STATUS = 3,
    DI_CHECK_STATUS_SUE = 4,
    DI_NOTHING = 20,
    DI_BOX = 100,
    DI_CIRCLE = 101,
};

// A BSTR as bytes of the system's ANSI code page, embedded NULs kept.
std::string ToAnsi(const BSTR* text)
{
    if (!text || !*text)
        return std::string();
    int wide = int(SysStringLen(*text));
    if (wide == 0)
        return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, *text, wide, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, *text, wide, &out[0], n, nullptr, nullptr);
    return out;
}
}

// ---- CheckHealth

long CLABELPrinter::CheckHealth(long level)
{
    Log(0, "m_ctlLabelPrinter1.CheckHealth(%d);", int(level));
    if (!APS_CheckPreconditions(3))
        return ResultCode;
    switch (level) {
    case 1: return CheckHealthInternal();
    case 2: return CheckHealthExternal();
    case 3: return CheckHealthInteractive();
    default:
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
}

long CLABELPrinter::CheckHealthInternal()
{
    ResultCode = OPOS_SUCCESS;
    long rc = 0, rce = 0;
    // The printer is asked: a silent one is not healthy, whatever it said before.
    BOOL allowed = FirstStatusCheck(&rc, &rce);
    BOOL lockTimedOut = FALSE;
    BOOL initialised = allowed && CHK_InitializePrinter(kInitLockTimeoutMs, &lockTimedOut);
    if (allowed && !initialised) {
        // A printer that could not be reached is no healthy printer, whatever its last status.
        Log(10, "CheckHealth: the initialisation byte was not written");
        rc = lockTimedOut ? OPOS_E_TIMEOUT : OPOS_E_FAILURE;
        rce = 0;
    }
    m_config.CheckHealthText = initialised ? kHealthOk : kHealthFailed;
    ResultCode = rc;
    ResultCodeExtended = rce;
    return ResultCode;
}

long CLABELPrinter::CheckHealthExternal()
{
    std::string label = m_builder.BuildTestLabel(m_config.DeviceName, m_config.PageWidth, m_config.PageLength);
    COPOSData* chunk = new COPOSData(DWORD(label.size()));
    if (chunk->Append(reinterpret_cast<const BYTE*>(label.data()), DWORD(label.size())) != COPOSData::OK) {
        delete chunk;
        ResultCode = OPOS_E_FAILURE;
        ResultCodeExtended = 0;
        m_config.CheckHealthText = CString("CheckHealth: ") + GetResultCodeText(ResultCode, ResultCodeExtended);
        return ResultCode;
    }
    CPrintDataList chunks;
    chunks.AddTail(chunk);
    P_PrintOrEnqueue(FALSE, chunks);
    if (ResultCode != OPOS_SUCCESS)
        m_config.CheckHealthText = CString("CheckHealth: ") + GetResultCodeText(ResultCode, ResultCodeExtended);
    else
        m_config.CheckHealthText = kHealthOk;
    return ResultCode;
}

long CLABELPrinter::CheckHealthInteractive()
{
    // Modal to the application's window that asked, when it has one.
    HWND active = GetActiveWindow();
    CChkPtrDlg dlg(this, active ? CWnd::FromHandle(active) : nullptr);
    INT_PTR shown = dlg.DoModal();
    if (dlg.m_bPrinted) {
        // The last test label printed from the dialog decides; the dialog keeps its codes, as
        // events delivered while it was open may have run other code on this thread.
        ResultCode = dlg.m_nResultCode;
        ResultCodeExtended = dlg.m_nResultCodeExtended;
        return ResultCode;
    }
    if (shown == -1) {
        // No dialog, so no interactive test took place.
        Log(10, "CheckHealth: the interactive dialog could not be shown");
        m_config.CheckHealthText = kHealthFailed;
        ResultCode = OPOS_E_FAILURE;
        ResultCodeExtended = 0;
        return ResultCode;
    }
    return CheckHealthInternal();
}

// ---- The interactive dialog

CString PowerStateText(long powerState)
{
    const char* words = "Unknown";
    if (powerState == OPOS_PS_ONLINE)
        words = "Online";
    else if (powerState >= OPOS_PS_OFF && powerState <= OPOS_PS_OFF_OFFLINE)
        words = "Offline";
    CString s;
    s.Format("Power State: %s", words);
    return s;
}

BEGIN_MESSAGE_MAP(CChkPtrDlg, CDialog)
    ON_BN_CLICKED(IDC_CHKPTR_PRINT, OnPrint)
    ON_WM_TIMER()
END_MESSAGE_MAP()

CChkPtrDlg::CChkPtrDlg(CLABELPrinter* printer, CWnd* owner) : CDialog(IDD_CHKPTR, owner), m_pPrinter(printer) {}

CChkPtrDlg::~CChkPtrDlg()
{
    if (m_hWnd)
        ::KillTimer(m_hWnd, kRefreshTimer);
}

BOOL CChkPtrDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    RECT r;
    GetWindowRect(&r);
    int width = r.right - r.left, height = r.bottom - r.top;
    SetWindowPos(nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0,
                 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    const CLabelConfig& c = m_pPrinter->m_config;
    SetWindowText(GetWindowText() + c.DeviceName);
    unsigned version = unsigned(m_pPrinter->ServiceObjectVersion);
    CString info;
    info.Format("%s\n%u.%u.%u\n%s\n%s", c.ServiceObjectDescription.GetString(), version / 1000000,
                version / 1000 % 1000, version % 1000, c.DeviceDescription.GetString(), c.DeviceName.GetString());
    SetDlgItemText(IDC_CHKPTR_DEVICE_INFO, info);
    Refresh();
    return TRUE;
}

void CChkPtrDlg::Refresh()
{
    SetDlgItemText(IDC_CHKPTR_POWER_STATE, PowerStateText(m_pPrinter->PowerState));
    ::CheckDlgButton(m_hWnd, IDC_CHKPTR_COVER_OPEN, m_pPrinter->CoverOpen ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(m_hWnd, IDC_CHKPTR_PAPER_EMPTY, m_pPrinter->RecEmpty ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(m_hWnd, IDC_CHKPTR_NEAR_END, m_pPrinter->RecNearEnd ? BST_CHECKED : BST_UNCHECKED);
    ::SetTimer(m_hWnd, kRefreshTimer, kRefreshMs, nullptr);
}

void CChkPtrDlg::OnTimer(UINT_PTR id)
{
    if (id == kRefreshTimer)
        Refresh();
    CDialog::OnTimer(id);
}

void CChkPtrDlg::OnPrint()
{
    SetDlgItemText(IDC_CHKPTR_RESULT, "Test in progress...");
    UpdateWindow();
    // The application may have released or disabled the device from an event while the dialog
    // is up: a label that was never written is no successful test.
    if (m_pPrinter->APS_CheckPreconditions(3))
        m_pPrinter->CheckHealthExternal();
    m_bPrinted = TRUE;
    m_nResultCode = m_pPrinter->ResultCode;
    m_nResultCodeExtended = m_pPrinter->ResultCodeExtended;
    SetDlgItemText(IDC_CHKPTR_RESULT, GetResultCodeText(m_nResultCode, m_nResultCodeExtended));
}

// ---- DirectIO

long CLABELPrinter::DirectIO(long command, long* data, BSTR* string)
{
    long predefine = m_config.DirectIOPredefine;
    Log(0, "DirectIO <Command : %d>", int(command));
    Log(0, "DirectIO <Pre-define : %d>", int(predefine));
    APS_CheckPreconditions(0);
    if (predefine == 0 && command == 0) {
        Log(10, "Command value is greater than zero.");
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }

    struct Row
    {
        long predefined;
        long fromInf;  // 0: no INF number
        long op;
    } rows[] = {
        {DI_INTERNATIONAL_CHAR, m_config.DirectIOInternationalChar, DI_INTERNATIONAL_CHAR},
        {DI_OUTPUT, m_config.DirectIOOutput, DI_OUTPUT},
        {DI_CHECK_STATUS, m_config.DirectIOCheckStatus, DI_CHECK_STATUS},
        {DI_CHECK_STATUS_SUE, m_config.DirectIOCheckStatusSue, DI_CHECK_STATUS_SUE},
        {DI_NOTHING, 0, DI_NOTHING},
    };
    long op = 0;
    for (const Row& r : rows) {
        long number = predefine != 0 ? r.predefined : r.fromInf;
        if (number != 0 && number == command) {
            op = r.op;
            break;
        }
    }
    if (op == 0 && (command == DI_BOX || command == DI_CIRCLE))
        op = command;

    switch (op) {
    case DI_INTERNATIONAL_CHAR: {
        if (!data) {
            ResultCode = OPOS_E_ILLEGAL;
            break;
        }
        int value = int(*data & 0xFF);
        m_builder.SetInternationalCharSet(value);
        Log(10, "PTR_DI_INTERNATIONAL_CHAR=%d", value);
        break;
    }
    case DI_OUTPUT: {
        std::string bytes = ToAnsi(string);
        Log(0, "PTR_DI_OUTPUT <pString : %s>", bytes.c_str());
        if (!m_Claimed) {
            ResultCode = OPOS_E_NOTCLAIMED;
            break;
        }
        long writeRc = 0, writeRce = 0;
        int n = P_WriteBuf(reinterpret_cast<const BYTE*>(bytes.data()), int(bytes.size()), &writeRc, &writeRce);
        if (n != int(bytes.size())) {
            Log(10, "Send Error(%d/%d) in DirectIO", n, int(bytes.size()));
            ResultCode = OPOS_E_FAILURE;
            ResultCodeExtended = writeRc ? writeRce : 0;
        }
        break;
    }
    case DI_CHECK_STATUS:
    case DI_CHECK_STATUS_SUE: {
        if (!m_Claimed) {
            ResultCode = OPOS_E_NOTCLAIMED;
            break;
        }
        BYTE answer = 0;
        if (StatusExchange(kDirectStatusTimeoutMs, &answer) != ExchangeAnswered) {
            ResultCode = OPOS_E_FAILURE;
            break;
        }
        if (op == DI_CHECK_STATUS) {
            if (data)
                *data = answer;
        } else {
            BYTE frame[4];
            StatusAnswerToFrame(answer, frame);
            ProcessStatusBytes(frame);
        }
        break;
    }
    case DI_NOTHING:
        break;
    case DI_BOX:
    case DI_CIRCLE: {
        std::string text = ToAnsi(string);
        // One command line: a line break or a NUL inside would cut it into lines the printer
        // reads as other commands.
        if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
            Log(10, "DirectIO %d: the text holds a line break", int(command));
            ResultCode = OPOS_E_ILLEGAL;
            break;
        }
        std::string line = (op == DI_BOX ? "BD" : "CD") + text + "\r\n";
        if (m_builder.AppendBytes(line.data(), line.size()) != 0)
            ResultCode = OPOS_E_FAILURE;
        break;
    }
    default:
        ResultCode = OPOS_E_ILLEGAL;
        break;
    }
    return ResultCode;
}
