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
    CMutexExLock lock(m_statusLock);
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
    CMutexExLock lock(m_statusLock);
    if (!m_nQueued && !m_nInProgress && State != OPOS_S_CLOSED)
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
        if (m_bStop || m_bCutPass)
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
        // A closing object, or a release that cuts the pass: between two writes.
        if (m_bStop || m_bCutPass)
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

BOOL CLABELPrinter::P_WriteWithStateCheck(const BYTE* bytes, int length, long* rc, long* rce)
{
    if (!P_PrintStateToRC(rc, rce))
        return FALSE;
    long writeRc = 0, writeRce = 0;
    int n = P_WriteBuf(bytes, length, &writeRc, &writeRce);
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
    if (ok && m_bFragment) {
        // The last label was cut at the printer: a line feed makes it drop the fragment.
        static const BYTE kFeed = 0x0A;
        if (P_WriteWithStateCheck(&kFeed, 1, &rc, &rce))
            InterlockedExchange(&m_bFragment, 0);
        else
            ok = FALSE;
    }
    for (POSITION pos = job->chunks.GetHeadPosition(); ok && pos;) {
        COPOSData* chunk = static_cast<COPOSData*>(job->chunks.GetNext(pos));
        int length = int(chunk->GetLength());
        if (length == 0)
            continue;
        attempted += length;
        if (!P_WriteWithStateCheck(chunk->GetData(), length, &rc, &rce)) {
            ok = FALSE;
            break;
        }
        written += length;
        if (m_config.Type == 1 || m_config.Type == 3)
            WaitOrStop(100);
        if (m_bStop || m_bCutPass) {
            ok = FALSE;
            break;
        }
    }
    if (m_bCutPass && attempted > 0)
        InterlockedExchange(&m_bFragment, 1);
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
    static_cast<CLABELPrinter*>(param)->AsyncPrintHandlerWorker();
    return 0;
}

int CLABELPrinter::PortWrite(const BYTE* bytes, DWORD length)
{
    bool mark = GetCurrentThreadId() == m_dwPrintThreadId;
    if (mark)
        InterlockedExchange(&m_bPrintThreadInPortCall, 1);
    int n = m_pPort->Write(bytes, length, DEVTYPE_LABEL);
    if (mark)
        InterlockedExchange(&m_bPrintThreadInPortCall, 0);
    return n;
}

int CLABELPrinter::PortRead(BYTE* bytes, DWORD length, DWORD timeoutMs)
{
    bool mark = GetCurrentThreadId() == m_dwPrintThreadId;
    if (mark)
        InterlockedExchange(&m_bPrintThreadInPortCall, 1);
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

void CLABELPrinter::CutPrintPass()
{
    // Held first: a pass about to start sees it, a pass under way is cut.
    InterlockedExchange(&m_bOutputHeld, 1);
    InterlockedExchange(&m_bCutPass, 1);
    if (m_bInPass)
        Log(0, "the print pass is cut");
    for (DWORD start = GetTickCount(); m_bInPass && !m_bStop && GetTickCount() - start < kClearWaitMs;)
        Sleep(5);
    InterlockedExchange(&m_bCutPass, 0);
}

void CLABELPrinter::AsyncPrintHandlerWorker()
{
    m_dwPrintThreadId = GetCurrentThreadId();
    Log(0, "Start AsyncPrintHandlerWorker");
    HANDLE waits[2] = {m_hPrintStopEvent, m_hWakeEvent};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    while (!m_bStop) {
        if (m_bOutputHeld) {
            // A pass was cut: the queue waits for the device to be enabled again.
            WaitOrStop(50);
            continue;
        }
        if (!LockQueue("1(start)"))
            break;
        UpdateQueueState();
        if (m_AsyncPrintDataQueue.IsEmpty()) {
            UnlockQueue("5(end)");
            WaitOrStop(1);
            WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            continue;
        }
        CPrintData* job = static_cast<CPrintData*>(m_AsyncPrintDataQueue.RemoveHead());
        InterlockedExchange(&m_bCleared, 0);
        InterlockedExchange(&m_bInPass, 1);
        BOOL ok = !m_bOutputHeld && P_DoPrintData(TRUE, job);
        if (!ok && (m_bOutputHeld || m_bCutPass)) {
            // Cut between writes, or held before the first: the job goes back to the head and is
            // written again, whole, after the next enable.
            m_AsyncPrintDataQueue.AddHead(job);
            UpdateQueueState();
            InterlockedExchange(&m_bInPass, 0);
            UnlockQueue("5(end)");
            continue;
        }
        if (!ok && job->ResultCode == OPOS_E_NOTCLAIMED && !m_Claimed) {
            // Not written: no completion and no error, as for a cleared job.
            DeleteJob(job);
            UpdateQueueState();
            InterlockedExchange(&m_bInPass, 0);
            UnlockQueue("5(end)");
            continue;
        }
        m_AsyncPDQInProgress.AddTail(job);
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
                    QueueEvent(new COutputCompleteEvent(done->OutputID));
                    DeleteJob(done);
                }
                m_bLineFeedAdded = FALSE;
            }
        } else {
            // The job stays in the in-progress list, which a ClearOutput or a release on the
            // application's thread may empty once the lock is given up: its codes are copied.
            long jobRc = job->ResultCode, jobRce = job->ResultCodeExtended;
            job = nullptr;
            InterlockedExchange(&m_bInPass, 0);
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
                while (!m_AsyncPDQInProgress.IsEmpty())
                    m_AsyncPrintDataQueue.AddHead(m_AsyncPDQInProgress.RemoveTail());
                if (!m_bLineFeedAdded) {
                    Log(0, "*AsyncPrint: Add LF Command");
                    CPrintData* lf = new CPrintData;
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
        InterlockedExchange(&m_bInPass, 0);
        UnlockQueue("5(end)");
        WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    }
    InterlockedExchange(&m_bInPass, 0);
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
