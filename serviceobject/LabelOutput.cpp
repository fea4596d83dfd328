// Output: every label leaves through P_PrintOrEnqueue, written at once (immediate), after a
// status check on the caller's thread (synchronous), or queued for the print thread
// (asynchronous), which reports OutputCompleteEvents in batches and an ErrorEvent whose answer
// retries or clears the queue. Every write goes through P_WriteBuf in chunks of OutputBuf.
#include "KVTLoger.h"
#include "LABELPrinter.h"
#include "LabelStatus.h"
#include "OposConst.h"

#include <vector>

namespace {
const long kLocusOutput = 1;
const long kResponseRetry = 11;
const long kResponseClear = 12;
const DWORD kRetryPauseMs = 1000;
// Longer than any print pass (two status time-outs and a write's five attempts): the clear
// waits for the pass under way, but not for ever.
const DWORD kClearWaitMs = 60000;
// The end of a pass: how long the job being written may finish, how long a cut pass may take to
// end after that (its write cancelled through the port).
const DWORD kPassGraceMs = 1500;
const DWORD kPassEndMs = 2000;
}

// ---- jobs and lists

void CLABELPrinter::DeleteJob(CPrintData* job)
{
    if (!job)
        return;
    while (!job->chunks.IsEmpty())
        delete job->chunks.RemoveHead();
    delete job;
}

void CLABELPrinter::ClearQueue(CObList& jobs)
{
    while (!jobs.IsEmpty())
        DeleteJob(static_cast<CPrintData*>(jobs.RemoveHead()));
}

BOOL CLABELPrinter::WaitOrStop(DWORD ms)
{
    if (m_bStop)
        return TRUE;
    if (m_hPrintStopEvent)
        WaitForSingleObject(m_hPrintStopEvent, ms);
    else
        Sleep(ms);
    return m_bStop != 0;
}

BOOL CLABELPrinter::LockQueue(const char* place)
{
    // Without a time-out, as the lists need; only a closing object stops waiting.
    while (!AsyncQueueMutex.Lock(500))
        if (m_bStop)
            return FALSE;
    if (place)
        Log(0, "%s AsyncQueueMutex Lock in AsyncPrintHandlerWorker", place);
    return TRUE;
}

void CLABELPrinter::UnlockQueue(const char* place)
{
    InterlockedExchange(&m_nQueued, m_AsyncPrintDataQueue.GetCount());
    InterlockedExchange(&m_nInProgress, m_AsyncPDQInProgress.GetCount());
    if (place)
        Log(0, "%s AsyncQueueMutex Unlock in AsyncPrintHandlerWorker", place);
    AsyncQueueMutex.Unlock();
}

void CLABELPrinter::UpdateQueueState()
{
    // The counts and State together: the status side reads the counts to leave State alone.
    CStatusLock lock(*this, "UpdateQueueState");
    if (!lock.Held())
        return;
    InterlockedExchange(&m_nQueued, m_AsyncPrintDataQueue.GetCount());
    InterlockedExchange(&m_nInProgress, m_AsyncPDQInProgress.GetCount());
    if (State == OPOS_S_CLOSED)
        return;
    if (!m_AsyncPrintDataQueue.IsEmpty() || !m_AsyncPDQInProgress.IsEmpty()) {
        State = ErrorLevel == 1 ? OPOS_S_BUSY : OPOS_S_ERROR;
        if (m_hWakeEvent)
            SetEvent(m_hWakeEvent);
        return;
    }
    State = OPOS_S_IDLE;
    if (m_hWakeEvent)
        ResetEvent(m_hWakeEvent);
    if (m_bIdlePending) {
        m_bIdlePending = FALSE;
        QueueEvent(new CStatusUpdateEvent(1001));
    }
}

void CLABELPrinter::SetIdleUnlessQueued()
{
    // A label printed on the caller's thread while queued jobs are written leaves them busy.
    CStatusLock lock(*this, "SetIdleUnlessQueued");
    if (lock.Held() && !m_nQueued && !m_nInProgress && State != OPOS_S_CLOSED)
        State = OPOS_S_IDLE;
}

BOOL CLABELPrinter::DropAllJobs()
{
    // In short slices: a closing object stops waiting (its release empties the lists).
    DWORD start = GetTickCount();
    while (!AsyncQueueMutex.Lock(100)) {
        if (m_bStop || GetTickCount() - start >= kClearWaitMs) {
            Log(10, "AsyncQueueMutex not available in ClearOutput");
            return FALSE;
        }
    }
    Log(0, "AsyncQueueMutex Lock in ClearOutput");
    ClearQueue(m_AsyncPrintDataQueue);
    Log(0, "ClearQueue m_AsyncPrintDataQueue in ClearOutput");
    ClearQueue(m_AsyncPDQInProgress);
    Log(0, "ClearQueue m_AsyncPDQInProgress in ClearOutput");
    // The jobs a retry would re-send are gone: the next retry sends its line feed again.
    m_bLineFeedAdded = FALSE;
    UpdateQueueState();
    AsyncQueueMutex.Unlock();
    Log(0, "AsyncQueueMutex Unlock in ClearOutput");
    return TRUE;
}

long CLABELPrinter::ClearOutput()
{
    Log(0, "m_ctlLabelPrinter1.ClearOutput();");
    if (!APS_CheckPreconditions(1)) {
        Log(10, "APS_CheckPreconditions error in ClearOutput.");
        return ResultCode;
    }
    InterlockedExchange(&m_bCleared, 1);
    // Jobs queued while AsyncMode was on stay queued when it is turned off: they go too.
    BOOL cleared = DropAllJobs();
    // The builder belongs to the application's thread: only here, never from the print thread.
    m_bTransaction = FALSE;
    m_nRotation = 0;
    m_builder.SetRotation(1);
    m_builder.ClearBody();
    Log(0, "-ClearOutput");
    // A print pass that held the queue past every bound: the jobs are still there.
    ResultCode = cleared || m_bStop ? OPOS_SUCCESS : OPOS_E_TIMEOUT;
    return ResultCode;
}

// ---- writing

int CLABELPrinter::P_WriteBuf(const BYTE* bytes, int length, long* rcOut, long* rceOut)
{
    if (!m_Claimed || length <= 0 || !m_pPort)
        return 0;
    // The port lock without a time-out, but a closing object does not wait for it.
    while (!m_pPort->Lock(500))
        if (m_bStop || PassCut())
            return 0;
    int written = P_WriteBufLocked(bytes, length, rcOut, rceOut);
    m_pPort->Unlock();
    return written;
}

int CLABELPrinter::P_WriteBufLocked(const BYTE* bytes, int length, long* rcOut, long* rceOut)
{
    if (!m_Claimed || length <= 0 || !m_pPort)
        return 0;
    CString port = m_config.PortName();
    CString kind = port.Left(3);
    bool paced = kind == "\\\\?";
    if (port.GetLength() < 3) {
        int n = PortWrite(bytes, DWORD(length));
        return n < 0 ? 0 : n;
    }
    // The configuration never leaves 0 here; a piece of 0 bytes would loop for ever.
    int chunk = int(m_config.m_dop.dwOutBufSize);
    if (chunk <= 0)
        chunk = 4096;
    int budget = 5, written = 0, remaining = length;
    bool split = false;
    for (;;) {
        // A closing object, or a pass that was ended: between two writes.
        if (m_bStop || PassCut())
            break;
        int piece = remaining;
        if (remaining > chunk) {
            piece = chunk;
            split = true;
        }
        int n = PortWrite(bytes + written, DWORD(piece));
        if (n < 0 || n > piece)
            n = n < 0 ? 0 : piece;
        if (paced && (remaining > chunk || split))
            WaitOrStop(200);
        remaining -= n;
        written += n;
        bool timedOut = false;
        // A write ended by the end of the pass is not a printer's fault worth a pause.
        if (n != piece && PassCut())
            break;
        if (n != piece) {
            --budget;
            Log(10, "Send Fail(Fail Count=%d,  SendData=%d/%d) in P_WriteBuf.", budget, n, piece);
            WaitOrStop(m_config.Type == 1 ? 800 : 500);
            long rc = 0, rce = 0;
            if (!P_PrintStateToRC(&rc, &rce))
                budget = 0;
        }
        // A USB printer printing synchronously is written whatever its power, as its status
        // check lets it; the answer after the label decides.
        if (PortOffline() && !UsbSynchronous()) {
            Log(10, "PowerState is OFFLINE in P_WriteBuf.");
            timedOut = true;
        }
        if (budget <= 0)
            timedOut = true;
        if (timedOut) {
            Log(10, "Timeout(%d/%d) in P_WriteBuf.", written, length);
            (rcOut ? *rcOut : ResultCode) = OPOS_E_FAILURE;
            (rceOut ? *rceOut : ResultCodeExtended) = OPOS_E_TIMEOUT;
            break;
        }
        if (remaining == 0)
            break;
    }
    return written;
}

BOOL CLABELPrinter::P_WriteWithStateCheck(const BYTE* bytes, int length, long* rc, long* rce, int* taken)
{
    if (taken)
        *taken = 0;
    if (!P_PrintStateToRC(rc, rce))
        return FALSE;
    long writeRc = 0, writeRce = 0;
    int n = P_WriteBuf(bytes, length, &writeRc, &writeRce);
    if (taken)
        *taken = n;
    if (n == length)
        return TRUE;
    Log(10, "Send Error(%d/%d) in P_WriteWithStateCheck", n, length);
    P_PrintStateToRC(rc, rce);
    if (*rc == 0) {
        // What the write itself ran into: its time-out, or a plain short write.
        *rc = writeRc ? writeRc : OPOS_E_FAILURE;
        *rce = writeRc ? writeRce : 410;
    }
    return FALSE;
}

BOOL CLABELPrinter::PortOffline() const
{
    // The port's own view: PowerState also goes off line for an open cover, which does not make
    // a label written before it lost.
    return m_nPortPower == OPOS_PS_OFFLINE || m_nPortPower == OPOS_PS_OFF_OFFLINE;
}

BOOL CLABELPrinter::PortWentOffline(LONG offlineBefore) const
{
    return m_nPortOfflineCount != offlineBefore || PortOffline();
}

BOOL CLABELPrinter::PortOfflineNow() const
{
    // The status thread hands a power change on at its next poll; a caller that must decide now
    // asks the port itself.
    if (PortOffline())
        return TRUE;
    if (!m_pPort || !m_pPort->IsOpen() || !m_pPort->m_pIsPowerState)
        return FALSE;
    int power = m_pPort->m_pIsPowerState(m_pPort->PortId(), DEVTYPE_LABEL);
    return power == OPOS_PS_OFFLINE || power == OPOS_PS_OFF_OFFLINE;
}

BOOL CLABELPrinter::FirstStatusCheck(long* rc, long* rce)
{
    BOOL answered = FALSE;
    CHK_LabelStatus(StatusAnswerTimeoutMs, &answered);
    // Bits that change no status (0 and 1) do not stop the job. A request an off-line port did
    // not take is no time-out: a reconnecting transport refuses it at once.
    if (!answered) {
        *rc = PortOfflineNow() ? OPOS_E_NOHARDWARE : OPOS_E_TIMEOUT;
        *rce = 0;
        return FALSE;
    }
    return P_PrintStateToRC(rc, rce);
}

BOOL CLABELPrinter::LabelDelivered(LONG offlineBefore, long* rc, long* rce)
{
    // A label written whole is not failed by what the answer says, only by a port that went off
    // line since its first write or a printer that no longer answers: over TCP the socket takes
    // every byte of a label cut in the middle, and a switched-off serial printer without flow
    // control takes them all too.
    BOOL answered = FALSE;
    CHK_LabelStatus(StatusAnswerTimeoutMs, &answered);
    if (PortWentOffline(offlineBefore) || (!answered && PortOfflineNow())) {
        Log(10, "port was off line while writing in DoPrintData");
        *rc = OPOS_E_NOHARDWARE;
        *rce = 0;
        return FALSE;
    }
    if (!answered) {
        Log(10, "no status answer after the label in DoPrintData");
        *rc = OPOS_E_TIMEOUT;
        *rce = 0;
        return FALSE;
    }
    return TRUE;
}

BOOL CLABELPrinter::P_DoPrintData(BOOL withStatusCheck, CPrintData* job)
{
    if (!m_Claimed) {
        // Nothing written is nothing delivered: the caller drops the job as a cleared one.
        Log(0, "-P_DoPrintData : m_Claimed == FALSE");
        job->ResultCode = OPOS_E_NOTCLAIMED;
        job->ResultCodeExtended = 0;
        return FALSE;
    }
    long rc = 0, rce = 0;
    m_pPort->SetWrite(TRUE, DEVTYPE_LABEL);
    LONG offlineBefore = m_nPortOfflineCount;
    BOOL ok = TRUE;
    if (withStatusCheck)
        ok = FirstStatusCheck(&rc, &rce);
    long long attempted = 0, written = 0;
    bool printThread = GetCurrentThreadId() == m_dwPrintThreadId;
    job->bytesTaken = 0;
    job->delivery = CPrintData::Writing;
    if (ok && m_bFeedFirst) {
        // The last label was cut at the printer: a line feed makes it drop the fragment.
        static const BYTE kFeed = 0x0A;
        if (P_WriteWithStateCheck(&kFeed, 1, &rc, &rce))
            InterlockedExchange(&m_bFeedFirst, 0);
        else
            ok = FALSE;
    }
    for (POSITION pos = job->chunks.GetHeadPosition(); ok && pos;) {
        COPOSData* chunk = static_cast<COPOSData*>(job->chunks.GetNext(pos));
        int length = int(chunk->GetLength());
        if (length == 0)
            continue;
        attempted += length;
        int taken = 0;
        BOOL sent = P_WriteWithStateCheck(chunk->GetData(), length, &rc, &rce, &taken);
        job->bytesTaken += taken;
        if (!sent) {
            ok = FALSE;
            break;
        }
        written += length;
        if (m_config.Type == 1 || m_config.Type == 3)
            WaitOrStop(100);
        if (m_bStop || PassCut()) {
            ok = FALSE;
            break;
        }
    }
    // Every byte taken, by a write no cancel ended: what is left is the answer after it.
    if (ok && written == attempted && !(printThread && m_nCancelledPass == m_nPassNo)) {
        job->delivery = CPrintData::Written;
        if (printThread)
            InterlockedExchange(&m_nPassPhase, PhaseAnswer);
    }
    // A label written counts only with a status answer after its last byte and the port on line
    // all along. A job of no bytes asks again only to refresh the status (a printer that did not
    // answer the first request is not asked twice).
    if (ok && written > 0 && withStatusCheck)
        ok = LabelDelivered(offlineBefore, &rc, &rce);
    else if (withStatusCheck && (ok || rc != OPOS_E_TIMEOUT))
        CHK_LabelStatus(StatusAnswerTimeoutMs);
    m_pPort->SetWrite(FALSE, DEVTYPE_LABEL);
    job->ResultCode = int(rc);
    job->ResultCodeExtended = int(rce);
    if (ok && job->delivery == CPrintData::Written)
        job->delivery = CPrintData::Answered;
    if (!ok || written != attempted) {
        Log(10, "total written bytes(%d/%d) in DoPrintData", int(written), int(attempted));
        if (rc == 0) {
            job->ResultCode = OPOS_E_FAILURE;
            job->ResultCodeExtended = 410;
        }
        return FALSE;
    }
    return TRUE;
}

void CLABELPrinter::P_PrintOrEnqueue(BOOL asynchronous, CPrintDataList& chunks)
{
    ResultCode = OPOS_SUCCESS;
    ResultCodeExtended = 0;
    CPrintData* job = new CPrintData;
    while (!chunks.IsEmpty())
        job->chunks.AddTail(chunks.RemoveHead());

    auto failed = [&](const char* format) {
        CString text = GetResultCodeText(job->ResultCode, job->ResultCodeExtended);
        SetErrorState(2, 2, text);
        if (format)
            Log(format[0] == '!' ? 10 : 0, format + (format[0] == '!'), text.GetString());
        CStatusLock lock(*this, "P_PrintOrEnqueue");
        if (lock.Held())
            State = OPOS_S_ERROR;
    };
    auto finish = [&]() {
        ResultCode = job->ResultCode;
        ResultCodeExtended = job->ResultCodeExtended;
        DeleteJob(job);
    };

    if (m_bImmediate) {
        if (!P_DoPrintData(FALSE, job))
            failed("Immediate Printing error in P_PrintOrEnqueue.");
        else
            SetIdleUnlessQueued();
        finish();
        return;
    }
    if (asynchronous) {
        job->OutputID = int(++OutputID);
        if (!LockQueue(nullptr)) {
            DeleteJob(job);
            ResultCode = OPOS_E_CLOSED;
            return;
        }
        m_AsyncPrintDataQueue.AddTail(job);
        UpdateQueueState();
        UnlockQueue(nullptr);
        return;
    }
    // Synchronous: nothing is written unless the printer answers first, and the label counts
    // only as the asynchronous one does, the port on line to an answer after its last byte.
    long rc = 0, rce = 0;
    if (!FirstStatusCheck(&rc, &rce)) {
        job->ResultCode = int(rc);
        job->ResultCodeExtended = int(rce);
        failed("!P_PrintStateToRC error(%s) in P_PrintOrEnqueue : synchronous mode");
        finish();
        return;
    }
    LONG offlineBefore = m_nPortOfflineCount;
    BOOL ok = P_DoPrintData(FALSE, job);
    if (ok && !LabelDelivered(offlineBefore, &rc, &rce)) {
        job->ResultCode = int(rc);
        job->ResultCodeExtended = int(rce);
        ok = FALSE;
    }
    if (!ok)
        failed("synchronous printing error(%s) in P_PrintOrEnqueue");
    else
        SetIdleUnlessQueued();
    finish();
}

// ---- the print thread

UINT __cdecl CLABELPrinter::AsyncPrintThread(LPVOID param)
{
    CLABELPrinter* self = static_cast<CLABELPrinter*>(param);
    self->AsyncPrintHandlerWorker();
    if (InterlockedCompareExchange(&self->m_nPrintThreadLeft, 2, 0) != 0) {
        // Left behind by Close: once Close is done with the object, it is this thread's to give back.
        while (self->m_nPrintThreadLeft != 3)
            Sleep(10);
        self->LeaveBehind();
    }
    return 0;
}

int CLABELPrinter::PortWrite(const BYTE* bytes, DWORD length)
{
    bool mark = GetCurrentThreadId() == m_dwPrintThreadId;
    if (mark)
        InterlockedExchange(&m_bPrintThreadInPortCall, PortCallWrite);
    int n = m_pPort->Write(bytes, length, DEVTYPE_LABEL);
    if (mark)
        InterlockedExchange(&m_bPrintThreadInPortCall, 0);
    return n;
}

int CLABELPrinter::PortRead(BYTE* bytes, DWORD length, DWORD timeoutMs)
{
    bool mark = GetCurrentThreadId() == m_dwPrintThreadId;
    if (mark)
        InterlockedExchange(&m_bPrintThreadInPortCall, PortCallRead);
    int n = m_pPort->Read(bytes, length, DEVTYPE_LABEL, timeoutMs);
    if (mark)
        InterlockedExchange(&m_bPrintThreadInPortCall, 0);
    return n;
}

long CLABELPrinter::WaitErrorAnswer(LONG sequence)
{
    HANDLE answer[2] = {m_hPrintStopEvent, m_hErrorResponseEvent};
    for (;;) {
        DWORD r = WaitForMultipleObjects(2, answer, FALSE, 500);
        if (m_bStop)
            return -1;
        if (r == WAIT_OBJECT_0 + 1)
            return ErrorResponse;
        if (!m_Claimed)
            AnswerErrorWait(sequence, kResponseClear, "the claim ended");
    }
}

BOOL CLABELPrinter::LockStatus(const char* where)
{
    if (m_statusLock.Lock(kPortLockWaitMs))
        return TRUE;
    Log(10, "the status lock was not had within %d ms: %s skipped", int(kPortLockWaitMs), where);
    return FALSE;
}

// ---- the end of a print pass

BOOL CLABELPrinter::PassCut() const
{
    // Pass numbers only grow: a cut raised just as its pass ended never cuts the next one.
    LONG cut = m_nCutPass;
    return cut != 0 && cut == m_nPassNo && GetCurrentThreadId() == m_dwPrintThreadId;
}

BOOL CLABELPrinter::ReadsCut() const
{
    // A disable leaves a job written whole to its answer; a release or Close ends that wait too,
    // and every pass ends its wait for the answer before the first byte.
    return PassCut() && (m_nPassEnd != PassEndDisable || m_nPassPhase == PhaseWriting);
}

BOOL CLABELPrinter::EndPrintPass(int why)
{
    InterlockedExchange(&m_bQueueHeld, 1);
    if (m_nPrintThreadLeft == 1 || m_nPrintThreadLeft == 3)
        return FALSE;
    auto busy = [&] {
        LONG phase = m_nPassPhase;
        return why == PassEndDisable ? phase == PhaseWriting : phase != PhaseNone;
    };
    auto waitWhileBusy = [&](DWORD ms) {
        for (DWORD start = GetTickCount(); busy() && GetTickCount() - start < ms;)
            Sleep(5);
    };
    if (!busy())
        return TRUE;
    LONG pass = m_nPassNo;
    if (m_nCutPass != pass) {
        waitWhileBusy(kPassGraceMs);
        if (!busy())
            return TRUE;
        Log(0, "the print pass is cut");
        InterlockedExchange(&m_nPassEnd, why);
        InterlockedExchange(&m_nCutPass, pass);
    } else if (why > m_nPassEnd) {
        // Already cut by a disable: a release or Close ends the answer's wait too.
        InterlockedExchange(&m_nPassEnd, why);
    }
    // Between two writes the pass ends at once; a write that has not returned is cancelled
    // through the port's close (the next enable opens the port again).
    for (DWORD start = GetTickCount(); busy() && GetTickCount() - start < kPassEndMs;) {
        if (m_bPrintThreadInPortCall == PortCallWrite && m_nCancelledPass != pass && m_nPassNo == pass) {
            InterlockedExchange(&m_nCancelledPass, pass);
            BOOL wasOpen = m_pPort && (m_pPort->OpenClasses() & DEVTYPE_LABEL);
            if (CloseConnection())
                Log(0, "the print thread is inside a port call: the port is closed");
            else if (wasOpen)
                Log(0, "the print thread is inside a port call: another class keeps the port open");
            m_bPortCancelled = m_bPortCancelled || wasOpen;
            start = GetTickCount();
        }
        Sleep(5);
    }
    if (busy()) {
        Log(10, "the print thread did not leave its port call");
        return FALSE;
    }
    return TRUE;
}

void CLABELPrinter::SettleEndedJob(CPrintData* job)
{
    if (job->delivery == CPrintData::Writing) {
        // Bytes still to send (a write a cancel ended may have sent more than it says): back to
        // the head, after a line feed that drops what reached the printer.
        POSITION at = m_AsyncPDQInProgress.Find(job);
        if (at)
            m_AsyncPDQInProgress.RemoveAt(at);
        if (job->bytesTaken > 0 || m_nCancelledPass == m_nPassNo)
            InterlockedExchange(&m_bFeedFirst, 1);
        job->delivery = CPrintData::Queued;
        job->bytesTaken = 0;
        m_AsyncPrintDataQueue.AddHead(job);
        Log(0, "the cut job %d waits at the head of the queue", job->OutputID);
    }
    // Written whole: it stays with the jobs awaiting completion and is not sent again.
    if (m_nPassEnd != PassEndDisable) {
        // A release or Close clears both lists, also when it could not wait for this pass.
        ClearQueue(m_AsyncPrintDataQueue);
        ClearQueue(m_AsyncPDQInProgress);
        m_bLineFeedAdded = FALSE;
    }
}

BOOL CLABELPrinter::ReopenAfterCancel()
{
    if (!m_bPortCancelled || !m_pPort)
        return TRUE;
    if (!OpenConnection())
        return FALSE;
    m_bPortCancelled = FALSE;
    return TRUE;
}

void CLABELPrinter::AsyncPrintHandlerWorker()
{
    m_dwPrintThreadId = GetCurrentThreadId();
    Log(0, "Start AsyncPrintHandlerWorker");
    HANDLE waits[2] = {m_hPrintStopEvent, m_hWakeEvent};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    while (!m_bStop) {
        if (m_bQueueHeld) {
            // A pass was ended: the queue waits for the device to be enabled again.
            WaitOrStop(50);
            continue;
        }
        if (!LockQueue("1(start)"))
            break;
        UpdateQueueState();
        if (m_AsyncPrintDataQueue.IsEmpty() || m_bQueueHeld) {
            UnlockQueue("5(end)");
            WaitOrStop(1);
            if (!m_bQueueHeld)
                WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            continue;
        }
        // The job being written is in the in-progress list from its first byte.
        CPrintData* job = static_cast<CPrintData*>(m_AsyncPrintDataQueue.RemoveHead());
        m_AsyncPDQInProgress.AddTail(job);
        InterlockedExchange(&m_bCleared, 0);
        InterlockedIncrement(&m_nPassNo);
        InterlockedExchange(&m_nPassPhase, PhaseWriting);
        if (m_bQueueHeld) {
            // Held between the check above and this pass's start: the end of the pass saw no
            // pass under way, so this one does not begin.
            m_AsyncPDQInProgress.RemoveAt(m_AsyncPDQInProgress.Find(job));
            m_AsyncPrintDataQueue.AddHead(job);
            InterlockedExchange(&m_nPassPhase, PhaseNone);
            UnlockQueue("5(end)");
            continue;
        }
        BOOL ok = P_DoPrintData(TRUE, job);
        if (!ok && PassCut() && (job->delivery == CPrintData::Writing || m_nPassEnd != PassEndDisable)) {
            SettleEndedJob(job);
            UpdateQueueState();
            InterlockedExchange(&m_nPassPhase, PhaseNone);
            UnlockQueue("5(end)");
            continue;
        }
        InterlockedExchange(&m_nPassPhase, PhaseNone);
        if (!ok && job->ResultCode == OPOS_E_NOTCLAIMED && !m_Claimed) {
            // Not written: no completion and no error, as for a cleared job.
            m_AsyncPDQInProgress.RemoveAt(m_AsyncPDQInProgress.Find(job));
            DeleteJob(job);
            UpdateQueueState();
            UnlockQueue("5(end)");
            continue;
        }
        if (m_bStop) {
            UnlockQueue("5(end)");
            break;
        }
        if (ok) {
            if (m_AsyncPrintDataQueue.IsEmpty() || m_AsyncPDQInProgress.GetCount() > 2) {
                // A ClearOutput or an enqueue waiting for the lock gets its turn; the job held
                // outside the list completes whatever the clear did.
                CPrintData* newest = static_cast<CPrintData*>(m_AsyncPDQInProgress.RemoveTail());
                if (!m_bCleared) {
                    UnlockQueue("3(normal-GSI)");
                    if (!LockQueue("3(normal-GSI)")) {
                        DeleteJob(newest);
                        break;
                    }
                }
                m_AsyncPDQInProgress.AddTail(newest);
                while (!m_AsyncPDQInProgress.IsEmpty()) {
                    CPrintData* done = static_cast<CPrintData*>(m_AsyncPDQInProgress.RemoveHead());
                    // Only the application's jobs: the retry's line feed is ours.
                    if (!done->internal)
                        QueueEvent(new COutputCompleteEvent(done->OutputID));
                    DeleteJob(done);
                }
                m_bLineFeedAdded = FALSE;
            }
        } else {
            // The job stays in the in-progress list, which a ClearOutput or a release on the
            // application's thread may empty once the lock is given up: its codes are copied.
            job->delivery = CPrintData::Failed;
            long jobRc = job->ResultCode, jobRce = job->ResultCodeExtended;
            job = nullptr;
            UnlockQueue("4(error-GSI)");
            SetErrorState(2, 2, GetResultCodeText(jobRc, jobRce));
            if (!LockQueue(nullptr))
                break;
            UpdateQueueState();
            UnlockQueue(nullptr);
            CErrorEvent* error = new CErrorEvent(jobRc, jobRce, kLocusOutput, kResponseRetry);
            LONG sequence = InterlockedIncrement(&m_nErrorSequence);
            error->Sequence = sequence;
            ResetEvent(m_hErrorResponseEvent);
            InterlockedExchange(&m_nErrorWait, sequence);
            DWORD queuedAt = GetTickCount();
            QueueEvent(error);
            Log(0, "*AsyncPrint: Wait for delivery to app's response.");
            long response = WaitErrorAnswer(sequence);
            if (response < 0)
                break;
            SetErrorState(1, 0, CString());
            if (response == kResponseClear) {
                Log(0, "*AsyncPrint: Error response = CLEAR");
                DropAllJobs();
                if (!LockQueue("4(error-Clear)"))
                    break;
            } else {
                if (!LockQueue("4(error-Retry)"))
                    break;
                Log(0, "*AsyncPrint: Error response = RETRY");
                // At least the pause by the tick count: a wait may end a tick early.
                BOOL stopping = FALSE;
                for (DWORD passed; !stopping && (passed = GetTickCount() - queuedAt) < kRetryPauseMs;)
                    stopping = WaitOrStop(kRetryPauseMs - passed);
                if (stopping) {
                    UnlockQueue(nullptr);
                    break;
                }
                // Every job not yet completed goes back to the head, in its order.
                while (!m_AsyncPDQInProgress.IsEmpty()) {
                    CPrintData* back = static_cast<CPrintData*>(m_AsyncPDQInProgress.RemoveTail());
                    back->delivery = CPrintData::Queued;
                    m_AsyncPrintDataQueue.AddHead(back);
                }
                if (!m_bLineFeedAdded) {
                    Log(0, "*AsyncPrint: Add LF Command");
                    CPrintData* lf = new CPrintData;
                    lf->internal = TRUE;
                    COPOSData* feed = new COPOSData(1);
                    feed->AppendByte(0x0A);
                    lf->chunks.AddTail(feed);
                    m_AsyncPrintDataQueue.AddHead(lf);
                    m_bLineFeedAdded = TRUE;
                } else {
                    Log(0, "*AsyncPrint: Skip add LF Command");
                }
            }
        }
        UpdateQueueState();
        UnlockQueue("5(end)");
        WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    }
    InterlockedExchange(&m_nPassPhase, PhaseNone);
    Log(0, "End AsyncPrintHandlerWorker");
}

// ---- text in the selected code page

int CLABELPrinter::ConvertCodePage(UINT codePage, const char* text, int length, char* output)
{
    if (!text || length <= 0)
        return 0;
    int wide = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    if (wide <= 0)
        return 0;
    std::vector<wchar_t> w(static_cast<size_t>(wide));
    MultiByteToWideChar(CP_ACP, 0, text, length, w.data(), wide);
    int n = WideCharToMultiByte(codePage, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    if (output && n > 0)
        n = WideCharToMultiByte(codePage, 0, w.data(), wide, output, n, nullptr, nullptr);
    return n > 0 ? n : 0;
}
