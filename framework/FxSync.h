// The framework's synchronisation objects over Win32 kernel objects.
#pragma once

#ifdef _WIN32
#include <windows.h>

class CSyncObject
{
public:
    virtual ~CSyncObject()
    {
        if (m_hObject)
            CloseHandle(m_hObject);
    }
    CSyncObject(const CSyncObject&) = delete;
    CSyncObject& operator=(const CSyncObject&) = delete;

    // TRUE only when the wait ends with the object signalled.
    virtual BOOL Lock(DWORD timeout = INFINITE)
    {
        return m_hObject && WaitForSingleObject(m_hObject, timeout) == WAIT_OBJECT_0;
    }
    virtual BOOL Unlock() = 0;
    operator HANDLE() const { return m_hObject; }

    HANDLE m_hObject = nullptr;

protected:
    CSyncObject() {}
};

class CMutex : public CSyncObject
{
public:
    explicit CMutex(BOOL initiallyOwn = FALSE, LPCSTR name = nullptr)
    {
        m_hObject = CreateMutexA(nullptr, initiallyOwn, name);
    }
    BOOL Unlock() override { return m_hObject && ReleaseMutex(m_hObject); }
};

class CEvent : public CSyncObject
{
public:
    explicit CEvent(BOOL initiallyOwn = FALSE, BOOL manualReset = FALSE, LPCSTR name = nullptr)
    {
        m_hObject = CreateEventA(nullptr, manualReset, initiallyOwn, name);
    }
    BOOL SetEvent() { return m_hObject && ::SetEvent(m_hObject); }
    BOOL ResetEvent() { return m_hObject && ::ResetEvent(m_hObject); }
    BOOL PulseEvent() { return m_hObject && ::PulseEvent(m_hObject); }
    BOOL Unlock() override { return TRUE; }
};

class CSemaphore : public CSyncObject
{
public:
    explicit CSemaphore(LONG initialCount = 1, LONG maxCount = 1, LPCSTR name = nullptr)
    {
        m_hObject = CreateSemaphoreA(nullptr, initialCount, maxCount, name);
    }
    BOOL Unlock() override { return m_hObject && ReleaseSemaphore(m_hObject, 1, nullptr); }
};

// A critical section with the same Lock/Unlock surface (no kernel handle).
class CCriticalSection
{
public:
    CCriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    BOOL Lock()
    {
        EnterCriticalSection(&m_cs);
        return TRUE;
    }
    BOOL Unlock()
    {
        LeaveCriticalSection(&m_cs);
        return TRUE;
    }

private:
    CRITICAL_SECTION m_cs;
};

// Holds a lock for a scope; Unlock early is allowed.
template <class L>
class CFxScopedLock
{
public:
    explicit CFxScopedLock(L& l) : m_l(l) { m_locked = m_l.Lock(); }
    ~CFxScopedLock() { Unlock(); }
    void Unlock()
    {
        if (m_locked)
            m_l.Unlock();
        m_locked = false;
    }
    bool IsLocked() const { return m_locked; }

private:
    L& m_l;
    bool m_locked;
};

class CSingleLock
{
public:
    explicit CSingleLock(CSyncObject* obj, BOOL initialLock = FALSE) : m_obj(obj)
    {
        if (initialLock)
            Lock();
    }
    ~CSingleLock() { Unlock(); }
    BOOL Lock(DWORD timeout = INFINITE)
    {
        if (!m_locked && m_obj)
            m_locked = m_obj->Lock(timeout);
        return m_locked;
    }
    BOOL Unlock()
    {
        if (m_locked && m_obj)
            m_obj->Unlock();
        m_locked = FALSE;
        return TRUE;
    }
    BOOL IsLocked() const { return m_locked; }

private:
    CSyncObject* m_obj;
    BOOL m_locked = FALSE;
};
#endif
