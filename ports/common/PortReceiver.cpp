#include "PortReceiver.h"
#include "PortLog.h"

CPortReceiver::CPortReceiver(bool bytesLineNeedsTrace)
    : m_dataArrived(CreateEventA(nullptr, FALSE, FALSE, nullptr)), m_bytesLineNeedsTrace(bytesLineNeedsTrace)
{
}

CPortReceiver::~CPortReceiver()
{
    Close();
    if (m_dataArrived)
        CloseHandle(m_dataArrived);
}

void CPortReceiver::Open(DWORD inBufSize)
{
    {
        CMutexExLock q(m_QueueLock);
        if (!m_pInputQ)
            m_pInputQ = new CKVTQueue(int(inBufSize > 0x100000 ? 0x100000 : inBufSize));
    }
    CMutexExLock s(m_StatusLock);
    if (!m_asb)
        m_asb = new CStatusFrameBuffer(inBufSize);
    m_filter.Reset();
}

void CPortReceiver::Close()
{
    {
        CMutexExLock q(m_QueueLock);
        delete m_pInputQ;
        m_pInputQ = nullptr;
        SetQueued(0);
    }
    CMutexExLock s(m_StatusLock);
    delete m_asb;
    m_asb = nullptr;
}

void CPortReceiver::Feed(const BYTE* block, int length) { m_filter.Process(block, length, *this); }

void CPortReceiver::FlushCandidate() { m_filter.Flush(*this); }

void CPortReceiver::OnFilterData(const BYTE* bytes, int n)
{
    int size = 0;
    {
        CMutexExLock q(m_QueueLock);
        if (!q.Held() || !m_pInputQ)
            return;
        m_pInputQ->Put(bytes, n);
        size = m_pInputQ->Size();
        SetQueued(size);
    }
    SetEvent(m_dataArrived);
    if (m_log) {
        PortLogWritePlain(0, "m_pInputQ->Size() : %d", size);
        if (!m_bytesLineNeedsTrace || m_trace) {
            std::string head = PortLogFormat("Input %dbytes :", n);
            PortLogWritePlain(0, "%s", FormatByteLine(head.c_str(), bytes, n).c_str());
        }
    }
}

void CPortReceiver::OnFilterFrame(const BYTE frame[4], bool)
{
    {
        CMutexExLock s(m_StatusLock);
        if (!s.Held() || !m_asb)
            return;
        m_asb->Store(frame);
    }
    NotifyStatus();
}

void CPortReceiver::SetStatusEvent(HANDLE event)
{
    // Bounded like every port lock. The holder only ever signals the event, so the bound is not
    // met in practice; the handle is replaced either way.
    CMutexExLock lock(m_notifyLock);
    m_statusEvent = event;
}

void CPortReceiver::NotifyStatus()
{
    // Under the lock: once SetStatusEvent(nullptr) has returned, the old handle is not touched.
    // Without the lock the signal is dropped; the caller's status thread also looks on its own.
    CMutexExLock lock(m_notifyLock);
    if (lock.Held() && m_statusEvent)
        SetEvent(m_statusEvent);
}

void CPortReceiver::OnFilterTrace(const char* line) { PortLogWritePlain(0, "%s", line); }

int CPortReceiver::Read(BYTE* out, int n)
{
    if (QueueEmpty())
        return 0;
    CMutexExLock q(m_QueueLock);
    if (!q.Held() || !m_pInputQ)
        return 0;
    int got = m_pInputQ->Get(out, n);
    SetQueued(m_pInputQ->Size());
    return got;
}

int CPortReceiver::Available()
{
    if (QueueEmpty())
        return 0;
    CMutexExLock q(m_QueueLock);
    return q.Held() && m_pInputQ ? m_pInputQ->Size() : 0;
}

void CPortReceiver::Clear()
{
    if (QueueEmpty())
        return;
    CMutexExLock q(m_QueueLock);
    if (q.Held() && m_pInputQ) {
        m_pInputQ->Clear();
        SetQueued(0);
    }
}

CPortReceiver::AsbResult CPortReceiver::PopStatusFrame(int* asb)
{
    CMutexExLock s(m_StatusLock);
    if (!s.Held())
        return ASB_EMPTY;
    if (!m_asb)
        return ASB_NO_BUFFER;
    return m_asb->Pop(asb) ? ASB_DELIVERED : ASB_EMPTY;
}
