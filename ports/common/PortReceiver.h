// The receive side every transport port shares: the receive filter with its state kept from
// block to block, the receive queue m_pInputQ under the queue lock and the status-frame buffer
// under the status lock. The port's read thread is the only producer.
#pragma once

#include "KVTQueue.h"
#include "StatusFrame.h"
#include "SyncEx.h"

class CPortReceiver : private IReceiveSink
{
public:
    // bytesLineNeedsTrace: whether the "Input %dbytes :" line needs the trace bit (it needs only
    // the log bit on the serial port).
    explicit CPortReceiver(bool bytesLineNeedsTrace);
    ~CPortReceiver();

    // The port's log gates, read on every line.
    void SetLogGates(bool log, bool trace) { m_log = log; m_trace = trace; }

    // Queue and status buffer live from the port's open to its close.
    void Open(DWORD inBufSize);
    void Close();
    bool IsOpen() const { return m_pInputQ != nullptr; }

    // Read thread side.
    void Feed(const BYTE* block, int length);
    void FlushCandidate();
    void ResetFilter() { m_filter.Reset(); }

    // Consumer side.
    int Read(BYTE* out, int n);
    int Available();
    void Clear();
    enum AsbResult { ASB_DELIVERED, ASB_EMPTY, ASB_NO_BUFFER };
    AsbResult PopStatusFrame(int* asb);

    // The caller's event for news of the status: set when a status frame is stored and when
    // the port calls NotifyStatus (its power state changed). The caller's status thread then
    // waits on it instead of polling. Null stops the signals; the caller clears it before it
    // closes the handle.
    void SetStatusEvent(HANDLE event);
    void NotifyStatus();

    // The read of every port: up to len bytes that arrive within timeout ms. It waits on the
    // arrival of data (signalled by the read thread as it queues bytes) or on wake (the port's
    // terminate event, signalled while it closes), and ends once isOpen() is false. A timeout
    // of 0 makes one pass.
    template <class IsOpen>
    int ReadWithTimeout(BYTE* buf, int len, DWORD timeout, HANDLE wake, IsOpen isOpen)
    {
        DWORD start = GetTickCount();
        int remaining = len;
        for (;;) {
            int got = Read(buf + (len - remaining), remaining);
            if (got > 0)
                remaining -= got;
            if (remaining == 0 || !isOpen())
                break;
            DWORD spent = GetTickCount() - start;
            if (spent >= timeout)
                break;
            HANDLE waits[2] = {wake, m_dataArrived};
            if (WaitForMultipleObjects(2, waits, FALSE, timeout - spent) == WAIT_OBJECT_0)
                break;
        }
        return len - remaining;
    }

    CKVTQueue* m_pInputQ = nullptr;
    CMutexEx m_QueueLock;
    CMutexEx m_StatusLock;

private:
    void OnFilterData(const BYTE* bytes, int n) override;
    void OnFilterFrame(const BYTE frame[4], bool iasb) override;
    void OnFilterTrace(const char* line) override;
    bool FilterTracing() const override { return m_log && m_trace; }

    // Queued byte count, set under the queue lock as it changes: a look at an empty queue (the
    // common case of a status read before its answer, and of a clear) takes no lock. Bytes
    // queued after such a look still signal m_dataArrived.
    void SetQueued(LONG n) { InterlockedExchange(&m_queued, n); }
    bool QueueEmpty() { return InterlockedCompareExchange(&m_queued, 0, 0) == 0; }
    volatile LONG m_queued = 0;
    CStatusFrameBuffer* m_asb = nullptr;
    // Auto-reset: set each time data bytes reach the queue. A wake-up that finds them read
    // already only costs one more look at the queue.
    HANDLE m_dataArrived;
    // A kernel mutex, not a slim lock: the read threads take it in NotifyStatus, and one ended by
    // force leaves it abandoned, so ClosePort's SetStatusEvent(nullptr) never waits on it for ever.
    // The event is the caller's, closed after it cleared it here: it is signalled only under this
    // lock.
    CMutexEx m_notifyLock;
    HANDLE volatile m_statusEvent = nullptr;
    CReceiveFilter m_filter;
    bool m_bytesLineNeedsTrace;
    volatile bool m_log = false;
    volatile bool m_trace = false;
};
