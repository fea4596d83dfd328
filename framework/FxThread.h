// Worker threads. The thread object owns its handle and is deleted by its owner after the
// thread has ended (never automatically), so the handle stays valid for waits and for the
// forced termination that is the last resort of a stop.
#pragma once

#ifdef _WIN32
#include <windows.h>

typedef UINT(__cdecl* AFX_THREADPROC)(LPVOID);

class CWinThread
{
public:
    ~CWinThread()
    {
        if (m_hThread)
            CloseHandle(m_hThread);
    }
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    DWORD ResumeThread() { return ::ResumeThread(m_hThread); }
    DWORD SuspendThread() { return ::SuspendThread(m_hThread); }
    BOOL SetThreadPriority(int priority) { return ::SetThreadPriority(m_hThread, priority); }
    int GetThreadPriority() const { return ::GetThreadPriority(m_hThread); }

    // Waits up to timeout ms for the thread to end; TRUE when it has ended.
    BOOL Join(DWORD timeout) const { return WaitForSingleObject(m_hThread, timeout) == WAIT_OBJECT_0; }
    // Stops the thread: wait up to timeout ms, then terminate it. TRUE when it ended by itself.
    BOOL Stop(DWORD timeout)
    {
        if (Join(timeout))
            return TRUE;
        TerminateThread(m_hThread, 1);
        WaitForSingleObject(m_hThread, 5000);
        return FALSE;
    }

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;

private:
    friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD, LPSECURITY_ATTRIBUTES);
    CWinThread() {}
    static DWORD WINAPI Start(LPVOID self);
    AFX_THREADPROC m_proc = nullptr;
    LPVOID m_param = nullptr;
};

// Starts proc(param) on a new thread; NULL when the thread cannot be created.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0, LPSECURITY_ATTRIBUTES sa = nullptr);
#endif
