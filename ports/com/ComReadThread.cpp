// The read thread of an open serial port: power state from the line, received bytes through
// the receive filter into the queue and the status-frame buffer.
#include "PortCom.h"

#include "PortLog.h"

#include <cstring>

namespace {

const DWORD kReadSize = 512;
// Bounds of the thread's overlapped waits: a read normally completes at once (it asks only
// for what the driver holds), the IVT event wait is part of the pass.
const DWORD kReadWaitMs = 1000;
const DWORD kIvtEventWaitMs = 500;
// How long a cancelled operation may take to give its buffers back.
const DWORD kCancelWaitMs = 5000;

// The buffers an overlapped operation writes into; heap-held so a read that the driver never
// gives back cannot write into freed stack.
struct ReadIo
{
    BYTE buf[kReadSize];
    OVERLAPPED ov;
    HANDLE readEvent;
};

// The block of one character-event wait; the system writes the mask into it.
struct WaitIo
{
    OVERLAPPED ov;
    DWORD mask;
};

enum IoResult
{
    IO_DONE,       // completed (count valid, possibly 0)
    IO_TIMEOUT,    // nothing within the bound: cancelled
    IO_TERMINATE,  // the port is closing: cancelled
    IO_STUCK,      // the cancel did not complete: the buffers stay in use
};

IoResult FinishIo(HANDLE h, OVERLAPPED* ov, HANDLE terminate, DWORD limit, DWORD* got)
{
    HANDLE waits[2] = {ov->hEvent, terminate};
    DWORD r = WaitForMultipleObjects(2, waits, FALSE, limit);
    *got = 0;
    if (r == WAIT_OBJECT_0) {
        if (!GetOverlappedResult(h, ov, got, FALSE) && *got > kReadSize)
            *got = 0;
        return IO_DONE;
    }
    CancelIoEx(h, ov);
    if (WaitForSingleObject(ov->hEvent, kCancelWaitMs) != WAIT_OBJECT_0)
        return IO_STUCK;
    // Bytes that arrived before the cancel are kept.
    GetOverlappedResult(h, ov, got, FALSE);
    if (*got > kReadSize)
        *got = 0;
    return r == WAIT_OBJECT_0 + 1 ? IO_TERMINATE : IO_TIMEOUT;
}

}  // namespace

ComCharWait ComWaitCharEvent(HANDLE h, HANDLE terminate, DWORD ms)
{
    SetCommMask(h, EV_RXCHAR);
    WaitIo* io = new WaitIo();
    io->ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ComCharWait result = COMWAIT_FAILED;
    if (WaitCommEvent(h, &io->mask, &io->ov)) {
        result = COMWAIT_CHAR;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        DWORD unused = 0;
        switch (FinishIo(h, &io->ov, terminate, ms, &unused)) {
        case IO_DONE:
            result = GetOverlappedResult(h, &io->ov, &unused, FALSE) ? COMWAIT_CHAR : COMWAIT_FAILED;
            break;
        case IO_TIMEOUT:
            result = COMWAIT_TIMEOUT;
            break;
        case IO_TERMINATE:
            result = COMWAIT_TERMINATE;
            break;
        case IO_STUCK:
            return COMWAIT_STUCK;  // the block stays with the system
        }
    }
    CloseHandle(io->ov.hEvent);
    delete io;
    return result;
}

UINT __cdecl ReadThreadProc(LPVOID param)
{
    static_cast<CPortCom*>(param)->ReadThread();
    return 0;
}

void CPortCom::ReadThread()
{
    LogPlain("***************** Port Read Thread Start ***********");
    ReadIo* io = new ReadIo();
    io->readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD lastModem = 0;
    int lastReported = PS_UNKNOWN;
    DWORD waitTime = 10;
    BOOL reopen = FALSE;
    bool leave = false;
    bool stuck = false;

    while (!m_bTerminateThread && !leave) {
        bool gotBytes = false;
        bool skipWait = false;
        bool firstByte = false;  // this pass waits for the next byte in a read
        do {
            const bool bt = m_dop.dwUsingBT != 0;
            if (!m_bOpen && reopen && m_OpenLock.Lock(0)) {
                // ClosePort holds the lock while it waits for this thread: then no re-open.
                BOOL ok = m_bTerminateThread ? FALSE : bt ? OpenPortBluetooth() : OpenPortSerial();
                m_OpenLock.Unlock();
                if (ok) {
                    reopen = FALSE;
                    LogPlain(bt ? "OpenPortBluetooth retry :Success" : "OpenPortSerial retry :Success");
                }
            }
            HANDLE h = m_hPort;
            if (!h) {
                if (bt) {
                    LogPlain("OpenPortBluetooth failed. sleep time");
                    if (WaitForSingleObject(m_TerminateEvent, 2000) == WAIT_OBJECT_0)
                        leave = true;
                } else {
                    LogPlain("OpenPortSerial failed.");
                }
                break;
            }

            DWORD modem = 0;
            m_pLine->GetModemStatus(h, &modem);
            if (modem != lastModem) {
                TracePlain("GetCommModemStatus : dwMask=%d", int(modem));
                lastModem = modem;
            }
            if (ComDecideOnline(*m_pLine, h, m_dop.dwFlowControl, m_Config)) {
                SetPower(PS_ONLINE);
                if (lastReported != PS_ONLINE)
                    LogPlain("Serial On-line signal");
                lastReported = PS_ONLINE;
            } else {
                m_pLine->Purge(h, PURGE_TXABORT | PURGE_TXCLEAR);
                SetPower(PS_OFFLINE);
                if (lastReported != PS_OFFLINE)
                    LogPlain("Serial Off-line signal");
                lastReported = PS_OFFLINE;
                if (bt && m_bOpen) {
                    // A Bluetooth link that dropped is closed here and opened again later.
                    CloseDevice();
                    reopen = TRUE;
                }
            }
            if (!m_bOpen)
                break;

            std::memset(io->buf, 0, sizeof io->buf);
            waitTime = 100;
            DWORD size = 0;
            if (m_dop.dwUsingBT == 1 && m_dop.dwBtStackType == 3) {
                waitTime = 500;
                // The IVT stack reports no queue count before a character event.
                ComCharWait r = m_pLine->WaitCharEvent(h, m_TerminateEvent, kIvtEventWaitMs);
                if (r == COMWAIT_STUCK) {
                    LogPlainError("ReadThread : the character-event wait did not end after its cancel");
                    leave = true;
                    break;
                }
                if (r == COMWAIT_TERMINATE) {
                    leave = true;
                    break;
                }
                DWORD errors = 0;
                COMSTAT stat = {};
                if (r == COMWAIT_TIMEOUT) {
                    // The event wait was this pass's wait. What the driver already holds is read
                    // now: the tail of a reply larger than one pass gets no event of its own.
                    skipWait = true;
                    size = m_pLine->ClearError(h, &errors, &stat) ? stat.cbInQue : 0;
                } else if (r == COMWAIT_CHAR) {
                    size = m_pLine->ClearError(h, &errors, &stat) ? stat.cbInQue : 1;
                } else {
                    size = kReadSize;
                }
                if (size == 0)
                    break;
            } else {
                DWORD errors = 0;
                COMSTAT stat = {};
                BOOL ok = m_pLine->ClearError(h, &errors, &stat);
                if (bt) {
                    size = kReadSize;
                } else {
                    size = ok ? stat.cbInQue : 0;
                    if (size == 0 && !ok)
                        break;
                    // Nothing waiting: the pass's wait is spent in a read of the next byte, so
                    // a status answer is taken the moment it comes, not at the next pass.
                    if (size == 0)
                        firstByte = true, size = 1;
                }
            }
            if (size > kReadSize)
                size = kReadSize;

            DWORD got = 0;
            DWORD passStart = GetTickCount();
            for (;;) {
                std::memset(&io->ov, 0, sizeof io->ov);
                ResetEvent(io->readEvent);
                io->ov.hEvent = io->readEvent;
                DWORD readStart = GetTickCount();
                bool pending = false;
                if (ReadFile(h, io->buf, size, nullptr, &io->ov)) {
                    if (!GetOverlappedResult(h, &io->ov, &got, FALSE) || got > size)
                        got = 0;
                } else if (GetLastError() != ERROR_IO_PENDING) {
                    break;
                } else {
                    pending = true;
                    DWORD spent = GetTickCount() - passStart;
                    DWORD limit = !firstByte ? kReadWaitMs : spent < waitTime ? waitTime - spent : 0;
                    IoResult r = FinishIo(h, &io->ov, m_TerminateEvent, limit, &got);
                    if (r == IO_STUCK) {
                        stuck = leave = true;
                        break;
                    }
                    if (r == IO_TERMINATE) {
                        leave = true;
                        break;
                    }
                }
                if (got != 0 || !firstByte)
                    break;
                // The line's own read time-out ended the wait early: wait on for the rest of
                // the pass. A read that gave nothing at once, without waiting, is no wait: the
                // pass waits as usual.
                if (!pending || GetTickCount() - readStart < 5) {
                    firstByte = false;
                    break;
                }
                if (GetTickCount() - passStart >= waitTime || m_bTerminateThread) {
                    skipWait = true;
                    break;
                }
            }
            if (leave)
                break;
            if (got == 0)
                break;
            // Straight on to the next read: the rest of a reply is not held for a pass's wait.
            if (!bt)
                skipWait = true;
            m_Receiver.Feed(io->buf, int(got));
            gotBytes = true;
        } while (false);

        if (leave)
            break;
        // A candidate frame that got no further byte in a whole pass was data (a one-byte
        // status answer is also a valid first frame byte).
        if (!gotBytes)
            m_Receiver.FlushCandidate();
        if (!skipWait && !m_bTerminateThread && WaitForSingleObject(m_TerminateEvent, waitTime) == WAIT_OBJECT_0)
            break;
    }

    if (!stuck) {
        CloseHandle(io->readEvent);
        delete io;
    }
    // Ended without a close (an operation that never gave its buffers back): nothing is read
    // or decided any more, so the port must not go on looking on-line.
    if (!m_bTerminateThread && WaitForSingleObject(m_TerminateEvent, 0) != WAIT_OBJECT_0) {
        SetPower(PS_OFFLINE);
        LogPlainError("ReadThread : ended before ClosePort, PowerState : %d", PS_OFFLINE);
    }
    LogPlain("***************** Port Read Thread End ***********");
    m_bThreadEnded = TRUE;
}
