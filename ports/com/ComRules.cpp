#include "ComRules.h"

#include "Registry.h"

ComConfig ComReadConfigFile(const char* setupInfPath)
{
    ComConfig c;
    const char* s = "SPECIAL";
    c.CONTROLDEVICE = int(GetPrivateProfileIntA(s, "CONTROLDEVICE", c.CONTROLDEVICE, setupInfPath));
    c.CHECK_CTS_HW = int(GetPrivateProfileIntA(s, "CHECK_CTS_HW", c.CHECK_CTS_HW, setupInfPath));
    c.CHECK_DSR_HW = int(GetPrivateProfileIntA(s, "CHECK_DSR_HW", c.CHECK_DSR_HW, setupInfPath));
    c.CHECK_CTS_SW = int(GetPrivateProfileIntA(s, "CHECK_CTS_SW", c.CHECK_CTS_SW, setupInfPath));
    c.CHECK_DSR_SW = int(GetPrivateProfileIntA(s, "CHECK_DSR_SW", c.CHECK_DSR_SW, setupInfPath));
    return c;
}

ComConfig ComReadConfig()
{
    CString installDir;
    CRegistry reg;
    reg.GetString(VESK_SERVICEINFO_KEY, "Installdir", installDir);
    if (installDir.IsEmpty())
        return ComConfig();
    CString path = installDir + "\\setup.inf";
    return ComReadConfigFile(path);
}

namespace {

// Line parameters common to both control blocks; FALSE when one does not fit its field.
BOOL SetLineParameters(DCB& dcb, const DeviceOption& dop)
{
    if (dop.dwByteSize > 0xFF || dop.dwParity > 0xFF || dop.dwStopBits > 0xFF)
        return FALSE;
    dcb.BaudRate = dop.dwBaudRate;
    dcb.ByteSize = BYTE(dop.dwByteSize);
    dcb.Parity = BYTE(dop.dwParity);
    dcb.StopBits = BYTE(dop.dwStopBits);
    dcb.fParity = dop.dwParity != 0;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fNull = FALSE;
    return TRUE;
}

void SetXonXoff(DCB& dcb, DWORD flowControl)
{
    if (flowControl == 1) {
        dcb.fOutX = TRUE;
        dcb.fInX = TRUE;
        if (dcb.XonChar == 0)
            dcb.XonChar = 0x11;
        if (dcb.XoffChar == 0)
            dcb.XoffChar = 0x13;
        if (dcb.XonLim == 0)
            dcb.XonLim = 2048;
        if (dcb.XoffLim == 0)
            dcb.XoffLim = 512;
    } else {
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
    }
}

}  // namespace

BOOL ComBuildBluetoothDcb(DCB& dcb, const DeviceOption& dop, const ComConfig&)
{
    if (!SetLineParameters(dcb, dop))
        return FALSE;
    if (dop.dwFlowControl == 2) {
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
    } else {
        dcb.fOutxCtsFlow = TRUE;
        dcb.fOutxDsrFlow = TRUE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }
    SetXonXoff(dcb, dop.dwFlowControl);
    return TRUE;
}

BOOL ComBuildSerialDcb(DCB& dcb, const DeviceOption& dop, const ComConfig& cfg)
{
    if (!SetLineParameters(dcb, dop))
        return FALSE;

    if (dop.dwFlowControl == 0) {
        dcb.fOutxCtsFlow = TRUE;
        dcb.fOutxDsrFlow = TRUE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    } else {
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        if (cfg.CHECK_CTS_SW != 0) {
            dcb.fOutxCtsFlow = TRUE;
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
        }
        if (cfg.CHECK_DSR_SW != 0) {
            dcb.fOutxDsrFlow = TRUE;
            dcb.fDtrControl = DTR_CONTROL_ENABLE;
        }
    }

    SetXonXoff(dcb, dop.dwFlowControl);
    return TRUE;
}

BOOL ComCheckModemLines(IComLine& line, HANDLE h, int cts, int dsr)
{
    DWORD status = 0;
    if (!line.GetModemStatus(h, &status))
        return FALSE;
    return (cts == 0 || (status & COM_MODEM_CTS)) && (dsr == 0 || (status & COM_MODEM_DSR));
}

BOOL ComCheckXoffHold(IComLine& line, HANDLE h)
{
    DWORD errors = 0;
    COMSTAT stat = {};
    if (!line.ClearError(h, &errors, &stat))
        return FALSE;
    return !stat.fXoffHold;
}

BOOL ComDecideOnline(IComLine& line, HANDLE h, DWORD flowControl, const ComConfig& cfg)
{
    bool swChecks = cfg.CHECK_CTS_SW != 0 || cfg.CHECK_DSR_SW != 0;
    if (flowControl == 0)
        return ComCheckModemLines(line, h, cfg.CHECK_CTS_HW, cfg.CHECK_DSR_HW);
    if (flowControl == 1) {
        // Evaluated in every case: reading the error status also clears the port's error state.
        BOOL online = ComCheckXoffHold(line, h);
        if (swChecks)
            online = ComCheckModemLines(line, h, cfg.CHECK_CTS_SW, cfg.CHECK_DSR_SW);
        return online;
    }
    if (!swChecks)
        return TRUE;
    return ComCheckModemLines(line, h, cfg.CHECK_CTS_SW, cfg.CHECK_DSR_SW);
}

namespace {
class CWin32ComLine : public IComLine
{
public:
    BOOL GetModemStatus(HANDLE h, DWORD* modemStat) override { return GetCommModemStatus(h, modemStat); }
    BOOL ClearError(HANDLE h, DWORD* errors, COMSTAT* stat) override { return ClearCommError(h, errors, stat); }
    BOOL SetState(HANDLE h, DCB* dcb) override { return SetCommState(h, dcb); }
    BOOL Purge(HANDLE h, DWORD flags) override { return PurgeComm(h, flags); }
    BOOL Close(HANDLE h) override { return CloseHandle(h); }
    ComCharWait WaitCharEvent(HANDLE h, HANDLE terminate, DWORD ms) override { return ComWaitCharEvent(h, terminate, ms); }
};
}  // namespace

IComLine& Win32ComLine()
{
    static CWin32ComLine line;
    return line;
}
