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

// Scope guard over a CMutexEx (waits without limit).
class CMutexExLock
{
public:
    explicit CMutexExLock(CMutexEx& m) : m_m(m), m_locked(m.Lock(INFINITE)) {}
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
