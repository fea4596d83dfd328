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

    // The read of every port: up to len bytes that arrive within timeout ms. When fewer are
    // waiting it first waits 30 ms, then takes what is there and waits 100 ms when nothing is.
    // The waits are on wake (the port's terminate event, signalled while it closes), and the
    // loop ends once isOpen() is false. A timeout of 0 makes one pass.
    template <class IsOpen>
    int ReadWithTimeout(BYTE* buf, int len, DWORD timeout, HANDLE wake, IsOpen isOpen)
    {
        if (Available() < len)
            WaitForSingleObject(wake, 30);
        DWORD start = GetTickCount();
        int remaining = len;
        while (remaining > 0) {
            int got = Read(buf + (len - remaining), remaining);
            if (got > 0)
                remaining -= got;
            else
                WaitForSingleObject(wake, 100);
            if (GetTickCount() - start >= timeout || !isOpen())
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

    CStatusFrameBuffer* m_asb = nullptr;
    CReceiveFilter m_filter;
    bool m_bytesLineNeedsTrace;
    volatile bool m_log = false;
    volatile bool m_trace = false;
};
