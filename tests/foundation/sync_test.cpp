// CMutexEx and CEventEx as the ports use them; the thread helper.
#include "SyncEx.h"
#include "FxThread.h"

#include <gtest/gtest.h>

namespace {
struct Holder
{
    CMutex* mutex;
    CEvent* locked;
    CEvent* release;
};

UINT __cdecl LockAndEnd(LPVOID p)
{
    Holder* h = static_cast<Holder*>(p);
    h->mutex->Lock(INFINITE);
    h->locked->SetEvent();
    if (h->release)
        h->release->Lock(INFINITE);  // hold the mutex until told
    return 0;  // ends without Unlock: the mutex is abandoned
}

void AbandonBy(CMutex& m)
{
    CEvent locked(FALSE, TRUE);
    Holder h = {&m, &locked, nullptr};
    CWinThread* t = AfxBeginThread(LockAndEnd, &h);
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(t->Join(30000));
    delete t;
}
}

TEST(CMutexEx, LockSucceedsOnAnAbandonedMutex)
{
    CMutexEx m;
    AbandonBy(m);
    EXPECT_TRUE(m.Lock(5000));
    EXPECT_TRUE(m.Unlock());
    EXPECT_TRUE(m.Lock(5000));  // and it works normally afterwards
    m.Unlock();
    CMutexEx again;
    AbandonBy(again);
    {
        CMutexExLock guard(again);  // the scope guard takes it too
    }
    EXPECT_TRUE(again.Lock(0));
    again.Unlock();
}

TEST(CMutexEx, TheBaseMutexRefusesAnAbandonedOne)
{
    CMutex m;
    AbandonBy(m);
    EXPECT_FALSE(m.Lock(5000));  // the wait reports the abandonment, the base class calls it a failure
}

TEST(CMutexEx, LockTimesOutWhileAnotherThreadHoldsIt)
{
    CMutexEx m;
    CEvent locked(FALSE, TRUE), release(FALSE, TRUE);
    Holder h = {&m, &locked, &release};
    CWinThread* t = AfxBeginThread(LockAndEnd, &h);
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(locked.Lock(30000));
    EXPECT_FALSE(m.Lock(20));
    release.SetEvent();
    ASSERT_TRUE(t->Join(30000));
    delete t;
    EXPECT_TRUE(m.Lock(5000));  // abandoned by the thread's end: still ours
    m.Unlock();
}

TEST(CEventEx, ManualAndAutoReset)
{
    CEventEx manual(FALSE, TRUE);
    EXPECT_FALSE(manual.Lock(0));
    manual.SetEvent();
    EXPECT_TRUE(manual.Lock(0));
    EXPECT_TRUE(manual.Lock(0));  // stays signalled
    manual.ResetEvent();
    EXPECT_FALSE(manual.Lock(0));
    CEventEx automatic;
    automatic.SetEvent();
    EXPECT_TRUE(automatic.Lock(0));
    EXPECT_FALSE(automatic.Lock(0));
}

namespace {
UINT __cdecl Spin(LPVOID p)
{
    CEvent* stop = static_cast<CEvent*>(p);
    stop->Lock(INFINITE);
    return 7;
}
}

TEST(FxThread, JoinStopAndExitCode)
{
    CEvent stop(FALSE, TRUE);
    CWinThread* t = AfxBeginThread(Spin, &stop);
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(t->Join(0));
    stop.SetEvent();
    EXPECT_TRUE(t->Stop(30000));  // ended by itself
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t->m_hThread, &code));
    EXPECT_EQ(code, 7u);
    delete t;

    CEvent never(FALSE, TRUE);
    t = AfxBeginThread(Spin, &never);
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(t->Stop(10));  // forced: the last resort
    EXPECT_TRUE(t->Join(0));
    delete t;
    EXPECT_EQ(AfxBeginThread(nullptr, nullptr), nullptr);
}
