// The ports' lock and event classes.
#pragma once

#include "FxSync.h"

// A mutex whose Lock also succeeds when the previous owner thread ended without releasing it:
// a consumer that died holding the lock must not block the port for ever.
class CMutexEx : public CMutex
{
public:
    CMutexEx() : CMutex(FALSE, nullptr) {}
    BOOL Lock(DWORD timeout = INFINITE) override
    {
        if (!m_hObject)
            return FALSE;
        DWORD r = WaitForSingleObject(m_hObject, timeout);
        return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
};

class CEventEx : public CEvent
{
public:
    explicit CEventEx(BOOL initiallyOwn = FALSE, BOOL manualReset = FALSE) : CEvent(initiallyOwn, manualReset) {}
};

// The longest any port thread waits for one of its locks. A thread ended by force releases a
// CMutexEx it held (the next owner gets it abandoned), so this bound only matters when a live
// holder stalls; the waiter then goes on without the lock instead of hanging the port.
const DWORD kPortLockWaitMs = 10000;

// Scope guard over a CMutexEx with a bounded wait; Held() says whether it got the lock.
class CMutexExLock
{
public:
    explicit CMutexExLock(CMutexEx& m, DWORD timeout = kPortLockWaitMs) : m_m(m), m_locked(m.Lock(timeout)) {}
    bool Held() const { return m_locked != FALSE; }
    ~CMutexExLock()
    {
        if (m_locked)
            m_m.Unlock();
    }
    CMutexExLock(const CMutexExLock&) = delete;
    CMutexExLock& operator=(const CMutexExLock&) = delete;

private:
    CMutexEx& m_m;
    BOOL m_locked;
};
