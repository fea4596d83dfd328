// The table of ports of one transport library and the exported port functions.
//
// Each transport instantiates CPortTable with its port class and expands VESK_PORT_EXPORTS once.
// A port call looks up its id under the table lock and pins the entry found; the call itself
// runs outside the lock, so a slow call (a long read, a big label on a slow line) holds up no
// other port and no CreatePort. DeletePort unlinks the entry, closes the port (which ends a call
// still waiting at the printer) and waits, bounded, until its last running call has returned
// before it destroys the port; a port whose call never returns (its thread was ended by force)
// is left undestroyed rather than freed under it. An unknown id fails with the export's failure
// value and touches no port: a label must never reach another printer.
#pragma once

#include "DeviceOption.h"
#include "FxColl.h"

#include <windows.h>

// The spooler header maps DeletePort to its own function; the port API's name wins here.
#ifdef DeletePort
#undef DeletePort
#endif

// What the table needs of a port class (CPortCom, CPortUsb, CPortNet and test ports):
//   int  SetDeviceOption(const DeviceOption& dop, DWORD devType);
//   void SetLog(DWORD useBinary, DWORD usePortLog, const CString& installPath);
//   void SetPortIndex(int id);
//   int  OpenPort(DWORD devType);
//   void ClosePort(DWORD devType);
//   void CloseIfOpen();                 // DeletePort of a port still open closes it first
//   int  writePort(const BYTE* buf, int len, DWORD devType);
//   int  readPort(BYTE* buf, int len, DWORD timeout, DWORD devType);
//   int  ReadAvailable(DWORD devType);
//   void Clear(DWORD devType);
//   int  IsPowerState(DWORD devType);
//   int  GetASBState(int* asb, DWORD devType);
//   int  SetWrite(int isWrite, DWORD devType);
//   int  SetStatusEvent(HANDLE event, DWORD devType);   // 1 when the port signals status news
//   void CancelWrites(DWORD devType);   // ends that class's writes in flight, no other's
template <class TPort>
class CPortTable
{
public:
    struct PortIdEntry
    {
        int id;
        TPort* port;
        LONG users;  // calls running on the port; changed under the table lock
    };

    explicit CPortTable(int firstId) : m_nextId(firstId), m_list(10)
    {
        InitializeSRWLock(&m_lock);
        InitializeConditionVariable(&m_idle);
    }

    // Ports are deleted by their owner through DeletePort, not at library unload.
    ~CPortTable() {}

    int CreatePort()
    {
        AcquireSRWLockExclusive(&m_lock);
        int id = m_nextId++;
        TPort* port = new TPort;
        m_list.AddHead(new PortIdEntry{id, port, 0});
        __atomic_store_n(&m_current, port, __ATOMIC_RELAXED);
        ReleaseSRWLockExclusive(&m_lock);
        return id;
    }

    int CreatePort4Log(DWORD useBinary, DWORD usePortLog, char* installPath)
    {
        CString path = CString::FromHandle(installPath);
        CString::ReleaseHandle(installPath);
        AcquireSRWLockExclusive(&m_lock);
        int id = m_nextId++;
        TPort* port = new TPort;
        port->SetPortIndex(id);
        m_list.AddHead(new PortIdEntry{id, port, 0});
        __atomic_store_n(&m_current, port, __ATOMIC_RELAXED);
        ReleaseSRWLockExclusive(&m_lock);
        port->SetLog(useBinary, usePortLog, path);
        return id;
    }

    int DeletePort(int id)
    {
        AcquireSRWLockExclusive(&m_lock);
        PortIdEntry* found = nullptr;
        for (POSITION pos = m_list.GetHeadPosition(); pos;) {
            POSITION at = pos;
            PortIdEntry* e = static_cast<PortIdEntry*>(m_list.GetNext(pos));
            if (e->id == id) {
                found = e;
                m_list.RemoveAt(at);
                break;
            }
        }
        if (found && __atomic_load_n(&m_current, __ATOMIC_RELAXED) == found->port)
            __atomic_store_n(&m_current, nullptr, __ATOMIC_RELAXED);
        ReleaseSRWLockExclusive(&m_lock);
        if (!found)
            return 0;
        // Unlinked, so no new call can reach it; the close ends the calls still running on it.
        found->port->CloseIfOpen();
        DWORD start = GetTickCount();
        AcquireSRWLockExclusive(&m_lock);
        for (;;) {
            if (__atomic_load_n(&found->users, __ATOMIC_ACQUIRE) == 0)
                break;
            DWORD spent = GetTickCount() - start;
            if (spent >= kDeleteWaitMs)
                break;
            SleepConditionVariableSRW(&m_idle, &m_lock, kDeleteWaitMs - spent, 0);
        }
        bool idle = __atomic_load_n(&found->users, __ATOMIC_ACQUIRE) == 0;
        ReleaseSRWLockExclusive(&m_lock);
        if (idle) {
            delete found->port;
            delete found;
        }
        return 1;
    }

    // How long DeletePort waits for the calls on a closed port to return.
    static const DWORD kDeleteWaitMs = 10000;

    // Runs f(port) on the port with this id; failValue when there is none.
    template <class R, class F>
    R Call(int id, R failValue, F f)
    {
        AcquireSRWLockShared(&m_lock);
        PortIdEntry* e = Lookup(id);
        if (e)
            __atomic_add_fetch(&e->users, 1, __ATOMIC_ACQ_REL);
        ReleaseSRWLockShared(&m_lock);
        if (!e)
            return failValue;
        R r = f(e->port);
        // Under the lock: a DeletePort waiting for this entry is asleep on m_idle, not between
        // its check and its sleep, so the wake-up cannot be lost.
        AcquireSRWLockShared(&m_lock);
        if (__atomic_sub_fetch(&e->users, 1, __ATOMIC_ACQ_REL) == 0)
            WakeAllConditionVariable(&m_idle);
        ReleaseSRWLockShared(&m_lock);
        return r;
    }

    TPort* SetObject(int id)
    {
        AcquireSRWLockShared(&m_lock);
        PortIdEntry* e = Lookup(id);
        ReleaseSRWLockShared(&m_lock);
        return e ? e->port : nullptr;
    }

    int Count()
    {
        AcquireSRWLockShared(&m_lock);
        int n = m_list.GetCount();
        ReleaseSRWLockShared(&m_lock);
        return n;
    }

private:
    PortIdEntry* Lookup(int id)
    {
        for (POSITION pos = m_list.GetHeadPosition(); pos;) {
            PortIdEntry* e = static_cast<PortIdEntry*>(m_list.GetNext(pos));
            if (e->id == id) {
                __atomic_store_n(&m_current, e->port, __ATOMIC_RELAXED);
                return e;
            }
        }
        return nullptr;
    }

    SRWLOCK m_lock;
    CONDITION_VARIABLE m_idle;  // signalled when a port's last running call returns
    int m_nextId;
    CPtrList m_list;
    TPort* m_current = nullptr;  // the port of the last successful lookup
};

// The exported port API over the table expression TABLE (e.g. theApp.m_Ports).
#define VESK_PORT_EXPORTS(TABLE)                                                                       \
    extern "C" {                                                                                      \
    int WINAPI CreatePort() { return (TABLE).CreatePort(); }                    \
    int WINAPI CreatePort4Log(DWORD useBinary, DWORD usePortLog, char* path)    \
    {                                                                                                 \
        return (TABLE).CreatePort4Log(useBinary, usePortLog, path);                                   \
    }                                                                                                 \
    int WINAPI SetDeviceOption(int id, DeviceOption dop, DWORD devType)         \
    {                                                                                                 \
        int r = (TABLE).Call(id, 0, [&](auto* p) { return p->SetDeviceOption(dop, devType); });        \
        DeviceOptionRelease(dop);                                                                     \
        return r;                                                                                     \
    }                                                                                                 \
    int WINAPI OpenPort(int id, DWORD devType)                                  \
    {                                                                                                 \
        return (TABLE).Call(id, 0, [&](auto* p) { return p->OpenPort(devType); });                    \
    }                                                                                                 \
    void WINAPI ClosePort(int id, DWORD devType)                                \
    {                                                                                                 \
        (TABLE).Call(id, 0, [&](auto* p) {                                                            \
            p->ClosePort(devType);                                                                    \
            return 0;                                                                                 \
        });                                                                                           \
    }                                                                                                 \
    int WINAPI DeletePort(int id) { return (TABLE).DeletePort(id); }            \
    int WINAPI Write(const BYTE* buf, int len, int id, DWORD devType)           \
    {                                                                                                 \
        if (!buf || len <= 0)                                                                         \
            return 0;                                                                                 \
        return (TABLE).Call(id, 0, [&](auto* p) { return p->writePort(buf, len, devType); });          \
    }                                                                                                 \
    int WINAPI Read(BYTE* buf, int len, DWORD timeout, int id, DWORD devType)   \
    {                                                                                                 \
        if (!buf || len <= 0)                                                                         \
            return 0;                                                                                 \
        return (TABLE).Call(id, 0, [&](auto* p) { return p->readPort(buf, len, timeout, devType); });  \
    }                                                                                                 \
    int WINAPI ReadAvailable(int id, DWORD devType)                             \
    {                                                                                                 \
        return (TABLE).Call(id, 0, [&](auto* p) { return p->ReadAvailable(devType); });                      \
    }                                                                                                 \
    void WINAPI Clear(int id, DWORD devType)                                    \
    {                                                                                                 \
        (TABLE).Call(id, 0, [&](auto* p) {                                                            \
            p->Clear(devType);                                                                        \
            return 0;                                                                                 \
        });                                                                                           \
    }                                                                                                 \
    int WINAPI IsPowerState(int id, DWORD devType)                              \
    {                                                                                                 \
        return (TABLE).Call(id, 0, [&](auto* p) { return p->IsPowerState(devType); });                       \
    }                                                                                                 \
    int WINAPI GetASBState(int* asb, int id, DWORD devType)                     \
    {                                                                                                 \
        if (!asb)                                                                                     \
            return 0;                                                                                 \
        return (TABLE).Call(id, 0, [&](auto* p) { return p->GetASBState(asb, devType); });            \
    }                                                                                                 \
    int WINAPI SetWrite(int isWrite, int id, DWORD devType)                     \
    {                                                                                                 \
        return (TABLE).Call(id, 0, [&](auto* p) { return p->SetWrite(isWrite, devType); });           \
    }                                                                                                 \
    int WINAPI SetStatusEvent(HANDLE event, int id, DWORD devType)              \
    {                                                                                                 \
        return (TABLE).Call(id, 0, [&](auto* p) { return p->SetStatusEvent(event, devType); });       \
    }                                                                                                 \
    void WINAPI CancelWrites(int id, DWORD devType)                             \
    {                                                                                                 \
        (TABLE).Call(id, 0, [&](auto* p) {                                                            \
            p->CancelWrites(devType);                                                                 \
            return 0;                                                                                 \
        });                                                                                           \
    }                                                                                                 \
    void* WINAPI SetObject(int id) { return (TABLE).SetObject(id); }            \
    }
