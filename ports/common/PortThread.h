// Start and bounded stop of a port's worker thread (read thread, connection check).
//
// A thread is asked to end by its flag and event (set by the caller before the stop); the stop
// then waits in steps while the thread's ended flag is clear, waits once more for the thread to
// end, and terminates it only as the logged last resort. No step waits without bound.
#pragma once

#include "FxThread.h"

#include <windows.h>

// Starts proc(self) at priority; the ended flag is cleared first (the thread sets it when it
// leaves its loop) and set again when the thread cannot be started (NULL then).
inline CWinThread* StartPortThread(AFX_THREADPROC proc, void* self, int priority, volatile LONG& ended)
{
    ended = FALSE;
    CWinThread* t = AfxBeginThread(proc, self, priority);
    if (!t)
        ended = TRUE;
    return t;
}

// How long a stop waits: polls steps of pollMs while the ended flag is clear, then up to joinMs
// for the thread itself.
struct PortThreadStop
{
    int polls;
    DWORD pollMs;
    DWORD joinMs;
};

// Stops and deletes the thread (thread becomes NULL). onPoll() runs before each poll step (its
// wait line), onTerminate() just before the forced termination. TRUE when the thread ended by
// itself (or there was none).
template <class OnPoll, class OnTerminate>
BOOL StopPortThread(CWinThread*& thread, const volatile LONG& ended, const PortThreadStop& stop, OnPoll onPoll,
                    OnTerminate onTerminate)
{
    if (!thread)
        return TRUE;
    for (int i = 0; i < stop.polls && !ended; ++i) {
        onPoll();
        if (thread->Join(stop.pollMs))
            break;
    }
    BOOL byItself = thread->Join(stop.joinMs);
    if (!byItself) {
        onTerminate();
        thread->Stop(0);
    }
    delete thread;
    thread = nullptr;
    return byItself;
}
