#include "FxThread.h"

#include <new>

DWORD WINAPI CWinThread::Start(LPVOID self)
{
    CWinThread* t = static_cast<CWinThread*>(self);
    return t->m_proc(t->m_param);
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize, DWORD createFlags,
                           LPSECURITY_ATTRIBUTES sa)
{
    if (!proc)
        return nullptr;
    CWinThread* t = new (std::nothrow) CWinThread;
    if (!t)
        return nullptr;
    t->m_proc = proc;
    t->m_param = param;
    t->m_hThread = CreateThread(sa, stackSize, &CWinThread::Start, t, CREATE_SUSPENDED, &t->m_nThreadID);
    if (!t->m_hThread) {
        delete t;
        return nullptr;
    }
    if (priority != THREAD_PRIORITY_NORMAL)
        ::SetThreadPriority(t->m_hThread, priority);
    if (!(createFlags & CREATE_SUSPENDED))
        ::ResumeThread(t->m_hThread);
    return t;
}
