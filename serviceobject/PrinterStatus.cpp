// The printer's status: status frames and answers interpreted into the cover and paper
// properties, the extended printer error and StatusUpdate events; the power state; the status
// request and the initialisation byte; the result code a status stands for.
#include "KVTLoger.h"
#include "LABELPrinter.h"
#include "LabelStatus.h"
#include "OposConst.h"

#include <cstring>

void CLABELPrinter::ProcessStatusBytes(const BYTE* frame)
{
    if ((frame[0] & 0xFF) == 0x35) {
        // The other frame kind has its own layout; read as this one it would always say
        // "cover open".
        Log(0, "IASB frame %02X %02X %02X %02X ignored", frame[0], frame[1], frame[2], frame[3]);
        return;
    }
    DecodedStatus s = DecodeStatusFrame(frame);
    // The status thread and a status answer on another thread must not interleave: each would
    // report the same change, or undo the other's state.
    CStatusLock lock(*this, "ProcessStatusBytes");
    if (!lock.Held())
        return;
    RecEmpty = s.recEmpty;
    RecNearEnd = s.recNearEnd;
    CoverOpen = s.coverOpen;
    // The status side clears the error it reported; the result of the caller's last method is
    // not the status thread's to change.
    if (!CoverOpen && !RecEmpty)
        ClearErrorState();
    m_nPrinterError = s.extendedError;
    m_nPrinterPower = (CoverOpen || RecEmpty) ? OPOS_PS_OFFLINE : OPOS_PS_ONLINE;
    m_bStatusKnown = TRUE;
    if (!DeviceEnabled)
        return;
    if (s.serious) {
        if (s.paperValue != m_nLastPaper && RecEmpty && m_config.CapRecEmptySensor) {
            m_nLastPaper = s.paperValue;
            QueueEvent(new CStatusUpdateEvent(s.paperValue));
        }
    } else if (s.paperValue != m_nLastPaper && (m_config.CapRecEmptySensor || m_config.CapRecNearEndSensor)) {
        m_nLastPaper = s.paperValue;
        QueueEvent(new CStatusUpdateEvent(s.paperValue));
    }
    if (s.coverValue != m_nLastCover && m_config.CapCoverSensor) {
        m_nLastCover = s.coverValue;
        QueueEvent(new CStatusUpdateEvent(s.coverValue));
    }
    SetPowerState(EffectivePower());
}

void CLABELPrinter::ClearErrorState()
{
    // Jobs queued or in progress: State is the queue's (busy, or error while an ErrorEvent
    // waits for its answer); only the queue running empty makes the device idle.
    if (m_nQueued || m_nInProgress || State == OPOS_S_BUSY)
        return;
    ErrorStation = 0;
    ErrorLevel = 1;
    ErrorString.Empty();
    if (State != OPOS_S_CLOSED)
        State = OPOS_S_IDLE;
}

void CLABELPrinter::SetErrorState(long level, long station, const CString& text)
{
    CStatusLock lock(*this, "SetErrorState");
    if (!lock.Held())
        return;
    ErrorLevel = level;
    ErrorStation = station;
    ErrorString = text;
}

CString CLABELPrinter::GetErrorString()
{
    // A copy made under the lock: the string is shared by reference count.
    CStatusLock lock(*this, "GetErrorString");
    if (!lock.Held())
        return CString();
    return CString(ErrorString.GetString());
}

void CLABELPrinter::ForgetPrinterStatus()
{
    CStatusLock lock(*this, "ForgetPrinterStatus");
    if (!lock.Held())
        return;
    CoverOpen = RecEmpty = RecNearEnd = FALSE;
    m_nPrinterError = 0;
    m_nPrinterPower = -1;
    m_bStatusKnown = FALSE;
}

long CLABELPrinter::EffectivePower() const
{
    // A port back on line after a reconnect does not make a printer with its cover open on line.
    if (PortOffline())
        return m_nPortPower;
    if (m_nPrinterPower > 0)
        return m_nPrinterPower;
    return m_nPortPower == OPOS_PS_ONLINE ? long(OPOS_PS_ONLINE) : 0L;
}

void CLABELPrinter::OnPortPowerState(int value)
{
    // The port's own view, kept whether or not the device is enabled: a connection cut in the
    // middle of a label shows only here.
    CStatusLock lock(*this, "OnPortPowerState");
    if (!lock.Held())
        return;
    if (value != OPOS_PS_ONLINE)
        InterlockedIncrement(&m_nPortOfflineCount);
    InterlockedExchange(&m_nPortPower, value);
    SetPowerState(EffectivePower());
}

void CLABELPrinter::SetPowerState(int value)
{
    if (!DeviceEnabled || value == 0)
        return;
    CStatusLock lock(*this, "SetPowerState");
    if (!lock.Held())
        return;
    BOOL changed = FALSE;
    if (value != m_nLastPower) {
        m_nLastPower = value;
        changed = TRUE;
        if (value == OPOS_PS_ONLINE)
            ClearErrorState();
    }
    if (!m_config.CapPowerReporting)
        return;
    if (PowerNotify && changed) {
        PowerState = value;
        QueueEvent(new CStatusUpdateEvent(value));
    }
    PowerState = m_nLastPower;
}

BOOL CLABELPrinter::CHK_InitializePrinter(DWORD timeoutMs, BOOL* lockTimedOut)
{
    if (lockTimedOut)
        *lockTimedOut = FALSE;
    if (!m_pPort)
        return FALSE;
    if (!m_pPort->Lock(timeoutMs == 0 ? 99999 : timeoutMs)) {
        Log(10, "CHK_InitializePrinter Locked - exiting");
        if (lockTimedOut)
            *lockTimedOut = TRUE;
        return FALSE;
    }
    const BYTE init = 0x40;
    int n = m_pPort->Write(&init, 1, DEVTYPE_LABEL);
    m_pPort->Unlock();
    return n == 1;
}

int CLABELPrinter::StatusExchange(DWORD timeoutMs, BYTE* answer)
{
    if (!m_pPort || !m_Claimed)
        return ExchangeNotSent;
    static const BYTE kRequest[5] = {'^', 'c', 'u', '\r', '\n'};
    // One exchange under the port lock: a request from another thread cannot take this
    // request's answer. The lock is waited for in short slices, so a closing object stops waiting.
    DWORD lockStart = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - lockStart;
        DWORD slice = spent >= timeoutMs ? 0 : timeoutMs - spent;
        if (slice > 100)
            slice = 100;
        if (m_pPort->Lock(slice))
            break;
        if (m_bStop || ReadsCut() || GetTickCount() - lockStart >= timeoutMs) {
            Log(10, "CHK_LabelStatus - port busy");
            return ExchangeNotSent;
        }
    }
    m_pPort->Clear(DEVTYPE_LABEL);
    // The request's own write codes are not the caller's result (the print thread asks too).
    long writeRc = 0, writeRce = 0;
    if (P_WriteBufLocked(kRequest, 5, &writeRc, &writeRce) != 5) {
        m_pPort->Unlock();
        return ExchangeNotSent;
    }
    DWORD start = GetTickCount();
    BOOL got = FALSE;
    while (m_Claimed && !m_bStop && !ReadsCut()) {
        if (GetTickCount() - start > timeoutMs)
            break;
        // Short reads, so a closing object is noticed soon (a read can last twice its wait).
        DWORD wait = timeoutMs - (GetTickCount() - start);
        if (wait > 250)
            wait = 250;
        if (PortRead(answer, 1, wait) == 1) {
            got = TRUE;
            break;
        }
    }
    m_pPort->Unlock();
    if (got)
        return ExchangeAnswered;
    // A claim lost while waiting is no printer status either.
    if (m_Claimed && !m_bStop)
        Log(10, "CHK_LabelStatus - timeout");
    return ExchangeNoAnswer;
}

BOOL CLABELPrinter::CHK_LabelStatus(DWORD timeoutMs, BOOL* answered)
{
    if (answered)
        *answered = FALSE;
    BYTE answer = 0;
    if (StatusExchange(timeoutMs, &answer) != ExchangeAnswered)
        return FALSE;
    if (answered)
        *answered = TRUE;
    BYTE frame[4];
    StatusAnswerToFrame(answer, frame);
    ProcessStatusBytes(frame);
    return answer == 0;
}

bool CLABELPrinter::UsbSynchronous() const { return !AsyncMode && m_config.PortName().Left(1) == "\\"; }

BOOL CLABELPrinter::P_PrintStateToRC(long* rcOut, long* rceOut)
{
    long scratch = 0;
    long& rc = rcOut ? *rcOut : ResultCode;
    long& rce = rceOut ? *rceOut : (rcOut ? scratch : ResultCodeExtended);
    rc = 0;
    rce = 0;
    bool usbSync = UsbSynchronous();
    long error = m_nPrinterError;
    if (error) {
        rc = OPOS_E_FAILURE;
        rce = error;
    } else if (CoverOpen) {
        rc = OPOS_E_EXTENDED;
        rce = 201;
    } else if (RecEmpty) {
        rc = OPOS_E_EXTENDED;
        rce = 203;
    } else if (DeviceEnabled && PortOffline()) {
        // The port's own state: PowerState is not kept without CapPowerReporting.
        rc = OPOS_E_NOHARDWARE;
    }
    if (usbSync && !CoverOpen && !RecEmpty) {
        // A USB printer printing synchronously is not refused for its error bits or power: the
        // codes say so too.
        rc = 0;
        rce = 0;
        return TRUE;
    }
    if (rc == 0 && !m_bStatusKnown) {
        rc = OPOS_E_BUSY;
        rce = 0;
    }
    return rc == 0;
}

CString CLABELPrinter::GetLastResultText() const { return GetResultCodeText(ResultCode, ResultCodeExtended); }
