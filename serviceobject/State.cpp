#include "State.h"

#include "FxColl.h"
#include "Registry.h"

namespace {

// The connection list. Objects on several application threads may open and close at once, so
// list changes are serialised; no port I/O of a running connection takes this lock.
CPtrList& Connections()
{
    static CPtrList list(10);
    return list;
}

CRITICAL_SECTION* ListLock()
{
    static CRITICAL_SECTION cs;
    static bool init = (InitializeCriticalSection(&cs), true);
    (void)init;
    return &cs;
}

class CListGuard
{
public:
    CListGuard() { EnterCriticalSection(ListLock()); }
    ~CListGuard() { LeaveCriticalSection(ListLock()); }
    CListGuard(const CListGuard&) = delete;
    CListGuard& operator=(const CListGuard&) = delete;
};

template <class T>
bool Bind(HMODULE m, const char* name, T& fn)
{
    fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, name)));
    return fn != nullptr;
}

enum PortKind { KindSerial, KindParallel, KindUsb, KindNetwork };

PortKind KindOfPortName(const CString& name)
{
    CString head = name.Left(3);
    if (head == "COM")
        return KindSerial;
    if (head == "LPT")
        return KindParallel;
    if (head == "\\\\?")
        return KindUsb;
    return KindNetwork;
}

bool IsOneClass(DWORD devType)
{
    switch (devType) {
    case 1: case 2: case 4: case 8: case 16: case 32: return true;
    default: return false;
    }
}

POSITION FindPosition(int id)
{
    CPtrList& list = Connections();
    for (POSITION pos = list.GetHeadPosition(); pos;) {
        POSITION here = pos;
        auto* e = static_cast<ConnectionEntry*>(list.GetNext(pos));
        if (e->pState && e->pState->PortId() == id)
            return here;
    }
    return nullptr;
}

// Frees a connection that no class uses any more: Quillan's child libraries (it refuses while
// another caller's port records remain), the library reference and the entry.
void DestroyEntry(ConnectionEntry* e)
{
    if (e->pState) {
        e->pState->FreeChildDll();
        e->pState->FreePortManager();
        delete e->pState;
    }
    delete e;
}

}  // namespace

// ---- CStateCommon

CStateCommon::~CStateCommon() { FreePortManager(); }

BOOL CStateCommon::LoadPortManager(const CString& path)
{
    FreePortManager();
    if (path.IsEmpty())
        return FALSE;
    m_module = LoadLibraryA(path);
    if (!m_module)
        return FALSE;
    bool ok = true;
    ok &= Bind(m_module, "SetDeviceOption", m_pSetDeviceOption);
    ok &= Bind(m_module, "OpenPort", m_pOpenPort);
    ok &= Bind(m_module, "ClosePort", m_pClosePort);
    ok &= Bind(m_module, "Read", m_pRead);
    ok &= Bind(m_module, "ReadAvailable", m_pReadAvailable);
    ok &= Bind(m_module, "Write", m_pWrite);
    ok &= Bind(m_module, "Clear", m_pClear);
    ok &= Bind(m_module, "IsPowerState", m_pIsPowerState);
    ok &= Bind(m_module, "GetASBState", m_pGetASBState);
    Bind(m_module, "CreatePort", m_pCreatePort);
    Bind(m_module, "RemovePort", m_pRemovePort);
    ok &= Bind(m_module, "FreeChildDll", m_pFreeChildDll);
    ok &= Bind(m_module, "LoadChildDll", m_pLoadChildDll);
    Bind(m_module, "SetWrite", m_pSetWrite);
    Bind(m_module, "SetStatusEvent", m_pSetStatusEvent);
    if (!ok) {
        // A library that is not a complete port manager is not kept loaded.
        FreePortManager();
        return FALSE;
    }
    return TRUE;
}

void CStateCommon::FreePortManager()
{
    m_pSetDeviceOption = nullptr;
    m_pOpenPort = nullptr;
    m_pClosePort = nullptr;
    m_pRead = nullptr;
    m_pReadAvailable = nullptr;
    m_pWrite = nullptr;
    m_pClear = nullptr;
    m_pIsPowerState = nullptr;
    m_pGetASBState = nullptr;
    m_pCreatePort = nullptr;
    m_pRemovePort = nullptr;
    m_pFreeChildDll = nullptr;
    m_pLoadChildDll = nullptr;
    m_pSetWrite = nullptr;
    m_pSetStatusEvent = nullptr;
    if (m_module)
        FreeLibrary(m_module);
    m_module = nullptr;
}

BOOL CStateCommon::Open(DWORD devType, const DeviceOption& dop)
{
    if (m_openClasses != 0) {
        // Another class opened the port already; its settings stay. The port manager still
        // learns that this class holds the port, so that this class's close reaches its writes.
        if (!(m_openClasses & devType) && m_pOpenPort)
            m_pOpenPort(m_id, devType);
        m_openClasses |= devType;
        return TRUE;
    }
    if (!m_pSetDeviceOption || !m_pOpenPort)
        return FALSE;
    if (m_pSetDeviceOption(DeviceOptionCopy(dop), m_id, devType) == 0)
        return FALSE;
    if (m_pOpenPort(m_id, devType) == 0)
        return FALSE;
    m_openClasses |= devType;
    return TRUE;
}

BOOL CStateCommon::Close(DWORD devType)
{
    if (!(m_openClasses & devType))
        return FALSE;
    m_openClasses &= ~devType;
    return m_openClasses == 0;
}

int CStateCommon::Write(const BYTE* buf, DWORD len, DWORD devType)
{
    if (!IsOpen() || !m_pWrite)
        return 0;
    return m_pWrite(buf, len, m_id, devType);
}

int CStateCommon::Read(BYTE* buf, DWORD len, DWORD devType, DWORD timeoutMs)
{
    if (!IsOpen() || !m_pRead || !m_pReadAvailable)
        return 0;
    // The transports' read waits for the arrival of data itself, so an answer is taken the
    // moment it is queued. Polling ReadAvailable first would add up to a poll period to every
    // status answer.
    DWORD start = GetTickCount();
    int n = m_pRead(buf, len, timeoutMs, m_id, devType);
    // A port library whose read gives up at once on an empty queue is polled for the rest of
    // the time, so the caller still waits its time-out and does not spin.
    while (n <= 0 && IsOpen()) {
        DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs)
            break;
        if (m_pReadAvailable(m_id, devType) != 0) {
            n = m_pRead(buf, len, timeoutMs - spent, m_id, devType);
            if (n > 0)
                break;
        }
        Sleep(30);
    }
    return n > 0 ? n : 0;
}

void CStateCommon::Clear(DWORD devType)
{
    if (IsOpen() && m_pClear)
        m_pClear(m_id, devType);
}

int CStateCommon::SetWrite(BOOL isWrite, DWORD devType)
{
    if (!IsOpen() || !m_pSetWrite)
        return 0;
    return m_pSetWrite(isWrite, m_id, devType);
}

BOOL CStateCommon::Lock(DWORD timeoutMs)
{
    if (!m_portLock.Lock(timeoutMs))
        return FALSE;
    InterlockedIncrement(&m_lockHolders);
    return TRUE;
}

void CStateCommon::Unlock()
{
    InterlockedDecrement(&m_lockHolders);
    m_portLock.Unlock();
}

int CStateCommon::LoadChildDll() { return m_pLoadChildDll ? m_pLoadChildDll() : 0; }

int CStateCommon::FreeChildDll() { return m_pFreeChildDll ? m_pFreeChildDll() : 0; }

// ---- CState

CState::CState() = default;

CState::~CState()
{
    // A connection destroyed while its port is still open (the library unloading) must not
    // leave its thread polling freed memory.
    StopStatusThread();
}

void CState::SetStatusReceiver(IStatusReceiver* r)
{
    // Bounded: a status thread stuck in a call would otherwise hold a closing device for ever.
    CMutexExLock lock(m_receiverLock, ReceiverDetachWaitMs);
    m_receiver = r;
}

template <class Call>
void CState::WithReceiver(Call call)
{
    CMutexExLock lock(m_receiverLock, ReceiverDetachWaitMs);
    if (!lock.Held())
        return;
    if (IStatusReceiver* r = m_receiver.load())
        call(r);
}

BOOL CState::Open(DWORD devType, const DeviceOption& dop)
{
    bool wasOpen = IsOpen();
    if (!CStateCommon::Open(devType, dop))
        return FALSE;
    // One status thread per open port: a second class on an open port starts none.
    if (!wasOpen && !m_thread) {
        m_stop = 0;
        m_stopEvent.ResetEvent();
        m_statusEvent.ResetEvent();
        m_notified = m_pSetStatusEvent && m_pSetStatusEvent(m_statusEvent.m_hObject, m_id, 32) == 1;
        m_threadEnded = 0;
        m_thread = AfxBeginThread(StatusThreadProc, this);
        if (!m_thread)
            m_threadEnded = 1;
    }
    return TRUE;
}

BOOL CState::Close(DWORD devType)
{
    const bool held = (m_openClasses & devType) != 0;
    if (!CStateCommon::Close(devType)) {
        // Another class keeps the port open: the port manager ends only this class's writes.
        if (held && m_pClosePort)
            m_pClosePort(m_id, devType);
        return FALSE;
    }
    bool bluetoothSerial = false;
    WithReceiver([&](IStatusReceiver* r) {
        const DeviceOption& dop = r->GetStatusDeviceOption();
        bluetoothSerial = KindOfPortName(DeviceOptionPortName(dop)) == KindSerial && dop.dwUsingBT == 1;
    });
    // A Bluetooth serial link needs time to send what it holds before the port closes.
    if (bluetoothSerial)
        Sleep(3000);
    StopStatusThread();
    if (m_pClosePort)
        m_pClosePort(m_id, devType);
    return TRUE;
}

void CState::StopStatusThread()
{
    if (m_notified.exchange(0) && m_pSetStatusEvent)
        m_pSetStatusEvent(nullptr, m_id, 32);
    if (!m_thread)
        return;
    m_stop = 1;
    m_stopEvent.SetEvent();
    for (int i = 0; i < 30 && !m_threadEnded; ++i)
        Sleep(50);
    // The thread logs and queues events while it works. The locks it takes there are kernel
    // mutexes, so ending it by force leaves them abandoned, not held: the next waiter gets them.
    m_thread->Stop(2000);
    delete m_thread;
    m_thread = nullptr;
}

UINT __cdecl CState::StatusThreadProc(LPVOID self)
{
    static_cast<CState*>(self)->StatusLoop();
    return 0;
}

void CState::StatusLoop()
{
    PortKind kind = KindSerial;
    WithReceiver([&](IStatusReceiver* r) { kind = KindOfPortName(DeviceOptionPortName(r->GetStatusDeviceOption())); });
    int lastPower = -5;
    HANDLE waits[2] = {m_stopEvent.m_hObject, m_statusEvent.m_hObject};
    while (!m_stop) {
        // The thread runs only while the port is open: this period only paces the passes between
        // the last class's Close and the thread's stop, whose event cuts the wait short.
        DWORD period = PeriodClosedMs;
        if (IsOpen()) {
            period = m_notified ? PeriodNotifiedMs : kind == KindNetwork ? PeriodNetworkMs : PeriodOtherMs;
            // Every frame that is waiting: one notice may stand for several.
            int frame = 0;
            for (int n = 0; n < 8 && m_pGetASBState && m_pGetASBState(&frame, m_id, 32) != 0; ++n) {
                WithReceiver([&](IStatusReceiver* r) { r->ProcessStatusBytes(reinterpret_cast<const BYTE*>(&frame)); });
                if (!m_notified)
                    break;  // polled: one frame a pass, as the port expects
                frame = 0;
            }
            int power = m_pIsPowerState ? m_pIsPowerState(m_id, 32) : 0;
            if (power != lastPower) {
                lastPower = power;
                if (power == PS_ONLINE) {
                    if (kind == KindParallel)
                        Sleep(10);
                    WithReceiver([](IStatusReceiver* r) { r->OnPortPowerState(PS_ONLINE); });
                } else if (power != 0 && power != PS_UNKNOWN) {
                    // Not decided yet is not off-line; everything else is (2004 included).
                    WithReceiver([](IStatusReceiver* r) { r->OnPortPowerState(PS_OFFLINE); });
                }
            }
        }
        if (m_stop)
            break;
        if (WaitForMultipleObjects(2, waits, FALSE, period) == WAIT_OBJECT_0)
            break;
    }
    m_threadEnded = 1;
}

// ---- the connection list

int CreateState(const CString& deviceName, const CString& portName, DWORD devType)
{
    CListGuard guard;
    CPtrList& list = Connections();
    ConnectionEntry* entry = nullptr;
    for (POSITION pos = list.GetHeadPosition(); pos;) {
        auto* e = static_cast<ConnectionEntry*>(list.GetNext(pos));
        if (e->strPortName == portName) {
            if (e->dwDevTypes & devType)
                return 0;  // this class holds the port already
            entry = e;
            break;
        }
    }
    bool fresh = entry == nullptr;
    if (fresh) {
        CRegistry reg(HKEY_LOCAL_MACHINE);
        CString path;
        reg.GetString(VESK_SERVICEINFO_KEY, "qlnadir", path);
        if (path.IsEmpty())
            reg.GetString(VESK_SERVICEINFO_KEY, "qlndir", path);
        entry = new ConnectionEntry;
        entry->pState = new CState;
        if (!entry->pState->LoadPortManager(path)) {
            DestroyEntry(entry);
            return 0;
        }
        entry->pState->LoadChildDll();
    }
    CState* state = entry->pState;
    int id = 0;
    if (state->m_pCreatePort) {
        CString d(deviceName), p(portName);
        id = state->m_pCreatePort(d.AddRefHandle(), p.AddRefHandle(), devType);
    }
    if (id == 0 || (!fresh && id != state->PortId())) {
        // A class that got no port, or another port than the entry's, holds nothing here.
        if (id != 0 && state->m_pRemovePort)
            state->m_pRemovePort(devType, id);
        if (fresh)
            DestroyEntry(entry);
        return 0;
    }
    state->SetPortId(id);
    entry->dwDevTypes |= devType;
    entry->strPortName = portName;
    if (fresh)
        list.AddHead(entry);
    return id;
}

int DeleteState(DWORD devType, int id)
{
    if (!IsOneClass(devType))
        return 0;
    CListGuard guard;
    POSITION pos = FindPosition(id);
    if (!pos)
        return 0;
    auto* e = static_cast<ConnectionEntry*>(Connections().GetAt(pos));
    if (!(e->dwDevTypes & devType))
        return 0;
    int left = e->pState->m_pRemovePort ? e->pState->m_pRemovePort(devType, id) : 0;
    if (left == -1)
        return 0;
    e->dwDevTypes &= ~devType;
    if (e->dwDevTypes == 0) {
        // The last class of this process goes: the entry goes with its library reference,
        // whatever other callers still hold on Quillan's port record.
        Connections().RemoveAt(pos);
        DestroyEntry(e);
    }
    return 1;
}

ConnectionEntry* FindConnection(int id)
{
    CListGuard guard;
    POSITION pos = FindPosition(id);
    return pos ? static_cast<ConnectionEntry*>(Connections().GetAt(pos)) : nullptr;
}

int ConnectionCount()
{
    CListGuard guard;
    return Connections().GetCount();
}

