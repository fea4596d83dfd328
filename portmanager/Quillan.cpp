#include "Quillan.h"

#include "PortLog.h"
#include "Registry.h"

#include <cstdarg>
#include <cstdio>
#include <type_traits>

CQUILLANApp theApp;

namespace {

// PortList and the four slots, held only for lookups and changes of the list, the records' class
// bits and the slots, never while a transport call runs: a slow call on one port must not hold
// up the others. Lock order: a record's openLock before g_listLock.
SRWLOCK g_listLock = SRWLOCK_INIT;
CPtrList PortList(10);  // PortEntry*, newest first

// Ports being made in a transport right now, outside the list lock: they hold their library as
// a record does, so FreeChildDll must not unload it under them. Raised under the list lock.
volatile LONG g_creating = 0;
// Calls holding a record, which may be running in its transport library: a call whose thread
// was ended by force never gives its share back, and the libraries then stay loaded. Raised
// under the list lock.
volatile LONG g_calls = 0;

// Opens Quillan's log once, with the settings of the first CreatePort that asks for it.
SRWLOCK g_logLock = SRWLOCK_INIT;

// Serialises the popping of status frames across all ports.
CMutexEx* AsbLock = nullptr;

enum { SLOT_COM, SLOT_LPT, SLOT_USB, SLOT_NET, SLOT_COUNT };
CPortDll* g_portDll[SLOT_COUNT] = {};
const char* const kSlotValue[SLOT_COUNT] = {"comdir", "lptdir", "usbdir", "netdir"};
const char* const kSlotLogName[SLOT_COUNT] = {"ComDLL", "LptDLL", "UsbDLL", "NetDLL"};

class CSharedList
{
public:
    CSharedList() { AcquireSRWLockShared(&g_listLock); }
    ~CSharedList() { ReleaseSRWLockShared(&g_listLock); }
    CSharedList(const CSharedList&) = delete;
    CSharedList& operator=(const CSharedList&) = delete;
};

class CExclusiveList
{
public:
    CExclusiveList() { AcquireSRWLockExclusive(&g_listLock); }
    ~CExclusiveList() { ReleaseSRWLockExclusive(&g_listLock); }
    CExclusiveList(const CExclusiveList&) = delete;
    CExclusiveList& operator=(const CExclusiveList&) = delete;
};

void ReleaseRef(PortEntry* e)
{
    if (InterlockedDecrement(&e->refs) == 0)
        delete e;
    InterlockedDecrement(&g_calls);
}

PortEntry* FindPort(int id);

// A record found by id and held for one call; with exclusive (opening, closing, removing,
// settings) also its openLock, waited for up to kPortOpenLockWaitMs. With stopClass, a transport
// open or close of that class running under the lock is asked to stop (the transport's own
// ClosePort) before and while the lock is waited for. Get() is null for an unknown or removed
// id, and TimedOut() says when the lock was not had in time.
class CPortRef
{
public:
    CPortRef(int id, bool exclusive, DWORD stopClass = 0) : m_exclusive(exclusive)
    {
        {
            CSharedList lock;
            m_e = FindPort(id);
            if (m_e) {
                InterlockedIncrement(&m_e->refs);
                InterlockedIncrement(&g_calls);
            }
        }
        if (!m_e)
            return;
        if (m_exclusive && !LockOpen(id, stopClass)) {
            m_exclusive = false;
            m_timedOut = true;
            Release();
            m_e = nullptr;
            return;
        }
        if (m_e->bRemoved) {
            Release();
            m_e = nullptr;
        }
    }
    ~CPortRef()
    {
        if (m_e)
            Release();
    }
    CPortRef(const CPortRef&) = delete;
    CPortRef& operator=(const CPortRef&) = delete;
    PortEntry* Get() const { return m_e; }
    bool TimedOut() const { return m_timedOut; }

private:
    bool LockOpen(int id, DWORD stopClass)
    {
        if (!stopClass || !m_e->bCloseStops)
            return m_e->openLock.Lock(kPortOpenLockWaitMs) != FALSE;
        DWORD start = GetTickCount();
        for (;;) {
            if (m_e->openLock.Lock(0))
                return true;
            if (DWORD(InterlockedCompareExchange(&m_e->busyClass, 0, 0)) == stopClass && m_e->pPortDll &&
                m_e->pPortDll->m_pClosePort) {
                QlnLine(stopClass, "ClosePort<dwId : %d> : stops the open or close in progress", id);
                m_e->pPortDll->m_pClosePort(id, stopClass);
            }
            DWORD spent = GetTickCount() - start;
            if (spent >= kPortOpenLockWaitMs)
                return false;
            DWORD slice = kPortOpenLockWaitMs - spent < kPortStopRetryMs ? kPortOpenLockWaitMs - spent : kPortStopRetryMs;
            if (m_e->openLock.Lock(slice))
                return true;
        }
    }

    void Release()
    {
        if (m_exclusive)
            m_e->openLock.Unlock();
        ReleaseRef(m_e);
    }

    PortEntry* m_e = nullptr;
    bool m_exclusive;
    bool m_timedOut = false;
};

bool ErrorLogOn() { return __atomic_load_n(&theApp.m_bErrorLog, __ATOMIC_ACQUIRE) != 0; }
bool TraceOn() { return ErrorLogOn() && __atomic_load_n(&theApp.m_bTrace, __ATOMIC_ACQUIRE) != 0; }

int ClassIndex(DWORD devType)
{
    switch (devType) {
    case 1: return 0;
    case 2: return 1;
    case 4: return 2;
    case 8: return 3;
    case 16: return 4;
    case 32: return 5;
    default: return -1;
    }
}

const char* DeviceKeyOf(DWORD devType)
{
    switch (devType) {
    case 1:
    case 32: return VESK_SERVICEOPOS_KEY "\\POSPrinter\\";
    case 2: return VESK_SERVICEOPOS_KEY "\\CashDrawer\\";
    case 4: return VESK_SERVICEOPOS_KEY "\\LineDisplay\\";
    case 8: return VESK_SERVICEOPOS_KEY "\\MSR\\";
    case 16: return VESK_SERVICEOPOS_KEY "\\SmartCardRW\\";
    default: return nullptr;
    }
}

PortEntry* FindPort(int id)
{
    for (POSITION pos = PortList.GetHeadPosition(); pos;) {
        PortEntry* e = static_cast<PortEntry*>(PortList.GetNext(pos));
        if (e->dwId == id && !e->bRemoved)
            return e;
    }
    return nullptr;
}

bool Unlink(PortEntry* entry)
{
    for (POSITION pos = PortList.GetHeadPosition(); pos;) {
        POSITION at = pos;
        if (PortList.GetNext(pos) == entry) {
            PortList.RemoveAt(at);
            return true;
        }
    }
    return false;
}

// A port string starting with a backslash is a device interface path, which may itself contain
// "COM" or "LPT": it goes to usb before the substring tests.
int ChooseSlot(const CString& port)
{
    if (port.IsEmpty())
        return -1;
    if (port[0] == '\\')
        return SLOT_USB;
    if (port.Find("COM") >= 0)
        return SLOT_COM;
    if (port.Find("LPT") >= 0)
        return SLOT_LPT;
    return SLOT_NET;
}

// Closes the transport for devType when devType is the last class holding the port open; a class
// that does not hold it open changes nothing. While another class keeps the port open, only
// devType's writes in flight are ended (a transport without CancelWrites leaves them). The
// caller holds the record's openLock (not the list lock: the transport's close may be slow).
void ClosePortLocked(PortEntry* e, int id, DWORD devType)
{
    if (!(e->dwOpenDevTypes & devType)) {
        QlnLine(devType, "-ClosePort<dwId : %d> : not opened by this device.", id);
        return;
    }
    if (e->dwOpenDevTypes != devType) {
        e->dwOpenDevTypes &= ~devType;
        if (e->pPortDll && e->pPortDll->m_pCancelWrites) {
            QlnLine(devType, "ClosePort<dwId : %d> : cancels the writes of this device", id);
            e->pPortDll->m_pCancelWrites(id, devType);
        }
        QlnLine(devType, "-ClosePort<dwId : %d> : another device using port.", id);
        return;
    }
    if (e->pPortDll && e->pPortDll->m_pClosePort) {
        InterlockedExchange(&e->busyClass, LONG(devType));
        e->pPortDll->m_pClosePort(id, devType);
        InterlockedExchange(&e->busyClass, 0);
    } else
        QlnError(devType, "ClosePort<dwId : %d> : ClosePort is not bound", id);
    e->dwOpenDevTypes &= ~devType;
    e->dwOpenResult = 0;
    if (IsSpoolerPort(e->strPort))
        RestoreWindowsDriverPort(e, id, devType);
    QlnLine(devType, "-ClosePort<dwId : %d>", id);
}

// One routed port call: the record by id held (no lock) while the transport's entry point runs,
// then the trace line with its result. head is the call's line head ("Write<dwId : %d> :"), the
// error lines of an unknown id or a missing entry point follow it; both give 0 and reach no
// transport.
template <typename Pfn, typename Call>
int Forward(const char* name, const char* head, int id, DWORD devType, Pfn CPortDll::*entry, Call call)
{
    CPortRef ref(id, false);
    PortEntry* e = ref.Get();
    Pfn fn = (e && e->pPortDll) ? e->pPortDll->*entry : nullptr;
    if (!fn) {
        char at[64];
        snprintf(at, sizeof at, head, id);
        if (!e)
            QlnError(devType, "%s pPortQln is NULL", at);
        else
            QlnError(devType, "%s %s is not bound", at, name);
        return 0;
    }
    if constexpr (std::is_void_v<decltype(call(fn))>) {
        call(fn);
        QlnTrace(devType, "-%s<dwId : %d>", name, id);
        return 0;
    } else {
        int r = call(fn);
        QlnTrace(devType, "-%s<dwId : %d, retVal : %d>", name, id, r);
        return r;
    }
}

// The record of port whose class cls is still free, so that class shares it; null when none.
// The caller holds the list.
PortEntry* FindShareable(const CString& port, int cls)
{
    for (POSITION pos = PortList.GetHeadPosition(); pos;) {
        PortEntry* e = static_cast<PortEntry*>(PortList.GetNext(pos));
        if (!e->bRemoved && e->strPort == port && e->strDevName[cls].IsEmpty())
            return e;
    }
    return nullptr;
}

void VLine(int level, DWORD devType, bool tagged, const char* fmt, va_list ap)
{
    PortLogWriteV(level, tagged ? PortLogTag(devType) : nullptr, fmt, ap);
}

} // namespace

bool IsSpoolerPort(const CString& port)
{
    CString head = port.Left(3);
    return head == "COM" || head == "LPT";
}

void QlnLine(DWORD devType, const char* fmt, ...)
{
    if (!ErrorLogOn())
        return;
    va_list ap;
    va_start(ap, fmt);
    VLine(0, devType, true, fmt, ap);
    va_end(ap);
}

void QlnError(DWORD devType, const char* fmt, ...)
{
    if (!ErrorLogOn())
        return;
    va_list ap;
    va_start(ap, fmt);
    VLine(PORTLOG_ERROR, devType, true, fmt, ap);
    va_end(ap);
}

void QlnTrace(DWORD devType, const char* fmt, ...)
{
    if (!TraceOn())
        return;
    va_list ap;
    va_start(ap, fmt);
    VLine(0, devType, true, fmt, ap);
    va_end(ap);
}

void QlnPlain(const char* fmt, ...)
{
    if (!ErrorLogOn())
        return;
    va_list ap;
    va_start(ap, fmt);
    VLine(0, 0, false, fmt, ap);
    va_end(ap);
}

CQUILLANApp::CQUILLANApp() : CWinApp(nullptr), m_bErrorLog(0), m_bTrace(0) {}

CQUILLANApp::~CQUILLANApp()
{
    if (m_bErrorLog) {
        PortLogWritePlain(0, "- ~CQUILLANApp()");
        PortLogClose();
        m_bErrorLog = 0;
    }
}

BOOL CQUILLANApp::InitInstance()
{
    if (!AsbLock)
        AsbLock = new CMutexEx;
    return CWinApp::InitInstance();
}

int CQUILLANApp::ExitInstance()
{
    delete AsbLock;
    AsbLock = nullptr;
    return CWinApp::ExitInstance();
}

PortEntry::~PortEntry() { FreeSavedPrinters(this); }

// ---------------------------------------------------------------------------------------------
// The exports. Quillan's argument orders differ from the transports' for SetDeviceOption
// (record first), RemovePort (class first) and CreatePort (names and class).

extern "C" {

int WINAPI CreatePort(char* devNameHandle, char* portHandle, DWORD devType)
{
    // Both strings come by value: take our own references and drop the caller's.
    CString devName = CString::FromHandle(devNameHandle);
    CString port = CString::FromHandle(portHandle);
    CString::ReleaseHandle(devNameHandle);
    CString::ReleaseHandle(portHandle);

    CString installPath;
    DWORD useBinary = 0, useLog = 0;
    int portLog = 0, encLog = 0;
    if (const char* key = DeviceKeyOf(devType)) {
        CRegistry reg(HKEY_LOCAL_MACHINE);
        CString keyPath = CString(key) + devName;
        CString inf;
        reg.GetString(keyPath, "inf", inf);
        int slash = inf.ReverseFind('\\');
        if (slash >= 0)
            installPath = inf.Left(slash);
        reg.GetDWORD(keyPath, "Binary", useBinary);
        reg.GetDWORD(keyPath, "Log", useLog);
    }
    if (!installPath.IsEmpty()) {
        CString setupInf = installPath + (devType == 32 ? "\\setup_label.inf" : "\\setup.inf");
        portLog = int(GetPrivateProfileIntA("SPECIAL", "PortLog", 0, setupInf));
        encLog = int(GetPrivateProfileIntA("SPECIAL", "EncLog", 0, setupInf));
    }
    if (encLog != 0)
        useBinary = 0;
    DWORD logFlags = useLog == 1 ? DWORD(2 * portLog + 1) : 0;

    {
        AcquireSRWLockExclusive(&g_logLock);
        if (!ErrorLogOn() && logFlags != 0) {
            __atomic_store_n(&theApp.m_bTrace, LONG((logFlags >> 1) & 1), __ATOMIC_RELEASE);
            PortLogOpen(TRUE, installPath, "Qln", 0);
            __atomic_store_n(&theApp.m_bErrorLog, 1, __ATOMIC_RELEASE);
        }
        ReleaseSRWLockExclusive(&g_logLock);
    }
    QlnLine(devType, "+CreatePort <DevName : %s, strPort : %s, DevType : %d>", devName.GetString(), port.GetString(),
            int(devType));

    int cls = ClassIndex(devType);
    if (cls < 0) {
        QlnError(devType, "-CreatePort: Invalid DevType<%d>", int(devType));
        return 0;
    }

    int slot = ChooseSlot(port);
    CPortDll* dll = nullptr;
    {
        CExclusiveList lock;
        if (PortEntry* e = FindShareable(port, cls)) {
            e->strDevName[cls] = devName;
            e->dwDevTypes |= devType;
            QlnLine(devType, "-CreatePort: existing portId used  <%d>", e->dwId);
            return e->dwId;
        }
        if (slot >= 0 && g_portDll[slot] && g_portDll[slot]->m_pCreatePort) {
            dll = g_portDll[slot];
            InterlockedIncrement(&g_creating);
        }
    }

    // The transport makes its port without the list lock: a slow CreatePort holds up no other port.
    int id = 0;
    if (slot < 0) {
        QlnError(devType, "strPort is empty string.");
    } else if (dll) {
        if (useBinary == 1 || logFlags == 1) {
            if (dll->m_pCreatePort4Log) {
                id = dll->m_pCreatePort4Log(useBinary, logFlags, installPath.AddRefHandle());
                QlnLine(devType, "CreatePort4Log<dwId : %d> in %s <dwUseBinary:%d, dwUsePortLog:%d, installPath:%s>", id,
                        kSlotLogName[slot], int(useBinary), int(logFlags), installPath.GetString());
            }
        } else {
            id = dll->m_pCreatePort();
            QlnLine(devType, "CreatePort in %s", kSlotLogName[slot]);
        }
    }

    int result = 0, spare = 0;
    if (id != 0) {
        CExclusiveList lock;
        // Another class of the same port string may have made its record meanwhile: this class
        // shares it as it would have before, and the port just made goes again.
        if (PortEntry* shared = FindShareable(port, cls)) {
            shared->strDevName[cls] = devName;
            shared->dwDevTypes |= devType;
            spare = id;
            result = shared->dwId;
        } else {
            PortEntry* e = new PortEntry;
            e->dwId = id;
            e->strDevName[cls] = devName;
            e->strPort = port;
            e->dwDevTypes = devType;
            e->pPortDll = dll;
            e->bCloseStops = slot == SLOT_COM;
            PortList.AddHead(e);
            result = id;
        }
    }
    if (spare != 0 && dll->m_pDeletePort)
        dll->m_pDeletePort(spare);
    if (dll)
        InterlockedDecrement(&g_creating);

    if (result == 0)
        QlnError(devType, "-CreatePort : fail to create portId : %d", 0);
    else if (spare != 0)
        QlnLine(devType, "-CreatePort: existing portId used  <%d>", result);
    else
        QlnLine(devType, "-CreatePort : new created portId : %d", result);
    return result;
}

int WINAPI RemovePort(DWORD devType, int id)
{
    QlnLine(devType, "+RemovePort <dwId : %d, DevType : %d>", id, int(devType));
    if (!IsDevTypeValid(devType)) {
        QlnError(devType, "-RemovePort : Invalid devcie type. <dwId : %d, DevType : %d>", id, int(devType));
        return -1;
    }
    CPortRef ref(id, true, devType);
    PortEntry* e = ref.Get();
    if (!e) {
        if (ref.TimedOut())
            QlnError(devType, "-RemovePort<dwId : %d> : port busy", id);
        return -1;
    }

    bool last;
    DWORD remaining;
    {
        CExclusiveList lock;
        last = e->dwDevTypes == devType;
        if (last) {
            // Found by no lookup and shared by no CreatePort from now on; it stays listed until
            // the transport port is gone, so FreeChildDll cannot free the library under it.
            e->bRemoved = true;
        } else {
            e->strDevName[ClassIndex(devType)].Empty();
            e->dwDevTypes &= ~devType;
        }
        remaining = e->dwDevTypes;
    }

    if (last) {
        // The port must not stay open (nor the printer queues on FILE:) once its record is gone.
        if (e->dwOpenDevTypes != 0) {
            e->dwOpenDevTypes = devType;
            ClosePortLocked(e, id, devType);
        } else if (!e->savedPrinters.IsEmpty()) {
            // Queues a restore could not put back before get their last try with the port.
            RestoreWindowsDriverPort(e, id, devType);
        }
        ReportUnrestoredPrinters(e, id, devType);
        QlnLine(devType, "RemovePort<dwId : %d> : All Remove. delete port.", id);
        if (e->pPortDll && e->pPortDll->m_pDeletePort)
            e->pPortDll->m_pDeletePort(id);
        {
            CExclusiveList lock;
            Unlink(e);
        }
        InterlockedDecrement(&e->refs);  // PortList's reference; ref still holds one
        QlnLine(devType, "-RemovePort<dwId : %d> : close port", id);
        return 0;
    }
    // A class that goes away stops holding the port open too.
    if (e->dwOpenDevTypes & devType)
        ClosePortLocked(e, id, devType);
    QlnLine(devType, "-RemovePort<dwId : %d> : partial remove. remain dev:%d", id, int(remaining));
    return int(remaining);
}

int WINAPI SetDeviceOption(DeviceOption dop, int id, DWORD devType)
{
    int result = 0;
    {
        QlnTrace(devType, "+SetDeviceOption <dwId : %d, DP Size : %d>", id, int(sizeof(DeviceOption)));
        // Exclusive: settings never change under an open or close of the same port.
        CPortRef ref(id, true);
        PortEntry* e = ref.Get();
        if (!e) {
            if (ref.TimedOut())
                QlnError(devType, "-SetDeviceOption<dwId : %d> : port busy", id);
            else
                QlnError(devType, "SetDeviceOption<dwId : %d> : pPortQln is NULL", id);
        } else if (!e->pPortDll || !e->pPortDll->m_pSetDeviceOption) {
            QlnError(devType, "SetDeviceOption<dwId : %d> : SetDeviceOption is not bound", id);
        } else {
            if (e->strPort.Left(3) == "COM") {
                dop.dwBtStackType = 0;
                if (dop.dwUsingBT == 1)
                    dop.dwBtStackType = DWORD(GetBluetoothStackType(id, e->strPort, devType));
            }
            // The transport releases the reference its copy carries.
            result = e->pPortDll->m_pSetDeviceOption(id, DeviceOptionCopy(dop), devType);
            QlnTrace(devType, "-SetDeviceOption<dwId : %d, retVal : %d>", id, result);
        }
    }
    DeviceOptionRelease(dop);
    return result;
}

int WINAPI OpenPort(int id, DWORD devType)
{
    QlnLine(devType, "+OpenPort <dwId : %d>", id);
    CPortRef ref(id, true);
    PortEntry* e = ref.Get();
    if (!e) {
        if (ref.TimedOut())
            QlnError(devType, "-OpenPort<dwId : %d> : port busy", id);
        else
            QlnError(devType, "OpenPort<dwId : %d> : pPortQln is NULL", id);
        return 0;
    }
    if (!IsDevTypeValid(devType)) {
        QlnError(devType, "-OpenPort : Invalid DevType<%d>", int(devType));
        return 0;
    }
    if (e->dwOpenDevTypes & 0x3F) {
        e->dwOpenDevTypes |= devType;
        QlnLine(devType, "-OpenPort<dwId : %d> : already port open.", id);
        return 1;
    }
    if (!e->pPortDll || !e->pPortDll->m_pOpenPort) {
        QlnError(devType, "OpenPort<dwId : %d> : OpenPort is not bound", id);
        return 0;
    }
    bool spooler = IsSpoolerPort(e->strPort);
    if (spooler)
        MoveWindowsDriverPort(e, id, devType, ExistWindowsDriverFilePort(id, devType));
    InterlockedExchange(&e->busyClass, LONG(devType));
    int result = e->pPortDll->m_pOpenPort(id, devType);
    InterlockedExchange(&e->busyClass, 0);
    if (result != 0) {
        e->dwOpenDevTypes |= devType;
        e->dwOpenResult = result;
    } else if (spooler) {
        // No ClosePort follows a failed open: the queues go back now.
        RestoreWindowsDriverPort(e, id, devType);
    }
    QlnLine(devType, "-OpenPort <dwId : %d, retVal : %d>", id, result);
    return result;
}

void WINAPI ClosePort(int id, DWORD devType)
{
    QlnLine(devType, "+ClosePort <dwId : %d>", id);
    CPortRef ref(id, true, IsDevTypeValid(devType) ? devType : 0);
    PortEntry* e = ref.Get();
    if (!e) {
        if (ref.TimedOut())
            QlnError(devType, "-ClosePort<dwId : %d> : port busy", id);
        else
            QlnError(devType, "ClosePort<dwId : %d> : pPortQln is NULL", id);
        return;
    }
    if (!IsDevTypeValid(devType)) {
        QlnError(devType, "-ClosePort : Invalid DevType<%d>", int(devType));
        return;
    }
    ClosePortLocked(e, id, devType);
}

int WINAPI Write(const BYTE* buf, DWORD len, int id, DWORD devType)
{
    QlnTrace(devType, "+Write <dwId : %d, length : %d>", id, int(len));
    return Forward("Write", "Write<dwId : %d> :", id, devType, &CPortDll::m_pWrite,
                   [&](PFN_WRITE fn) { return fn(buf, int(len), id, devType); });
}

int WINAPI Read(BYTE* buf, DWORD len, DWORD timeout, int id, DWORD devType)
{
    QlnTrace(devType, "+Read <dwId : %d, length : %d, timeout : %d>", id, int(len), int(timeout));
    return Forward("Read", "Read<dwId : %d> :", id, devType, &CPortDll::m_pRead,
                   [&](PFN_READ fn) { return fn(buf, int(len), timeout, id, devType); });
}

int WINAPI ReadAvailable(int id, DWORD devType)
{
    QlnTrace(devType, "+ReadAvailable <dwId : %d>", id);
    return Forward("ReadAvailable", "ReadAvailable<dwId : %d> :", id, devType, &CPortDll::m_pReadAvailable,
                   [&](PFN_READAVAILABLE fn) { return fn(id, devType); });
}

void WINAPI Clear(int id, DWORD devType)
{
    QlnTrace(devType, "+Clear <dwId : %d>", id);
    Forward("Clear", "Clear<dwId : %d> :", id, devType, &CPortDll::m_pClear, [&](PFN_CLEAR fn) { fn(id, devType); });
}

int WINAPI IsPowerState(int id, DWORD devType)
{
    QlnTrace(devType, "+IsPowerState <dwId : %d>", id);
    return Forward("IsPowerState", "IsPowerState<dwId : %d> :", id, devType, &CPortDll::m_pIsPowerState,
                   [&](PFN_ISPOWERSTATE fn) { return fn(id, devType); });
}

int WINAPI GetASBState(int* asb, int id, DWORD devType)
{
    QlnTrace(devType, "+GetASBState <dwId : %d>", id);
    return Forward("GetASBState", "GetASBState<dwId : %d> :", id, devType, &CPortDll::m_pGetASBState,
                   [&](PFN_GETASBSTATE fn) {
                       CMutexExLock asbLock(*AsbLock);
                       return fn(asb, id, devType);
                   });
}

int WINAPI SetWrite(BOOL isWrite, int id, DWORD devType)
{
    QlnTrace(devType, "+SetWrite <dwId : %d, isWrite : %d>", id, int(isWrite));
    return Forward("SetWrite", "SetWrite <dwId : %d>:", id, devType, &CPortDll::m_pSetWrite,
                   [&](PFN_SETWRITE fn) { return fn(isWrite, id, devType); });
}

// The caller's event for news of the port's status (a status frame stored, the power state
// changed); null ends the signals. 1 when the transport signals it, 0 when the caller must
// poll: an unknown id, or a transport without the notice (not an error, so no error line).
int WINAPI SetStatusEvent(HANDLE event, int id, DWORD devType)
{
    QlnTrace(devType, "+SetStatusEvent <dwId : %d>", id);
    CPortRef ref(id, false);
    PortEntry* e = ref.Get();
    PFN_SETSTATUSEVENT fn = (e && e->pPortDll) ? e->pPortDll->m_pSetStatusEvent : nullptr;
    int r = fn ? fn(event, id, devType) : 0;
    QlnTrace(devType, "-SetStatusEvent<dwId : %d, retVal : %d>", id, r);
    return r;
}

int WINAPI LoadChildDll()
{
    // The libraries load without the list lock (a library's start-up can take its time); the
    // slots are filled under it, and a slot another LoadChildDll filled meanwhile keeps its own.
    bool empty[SLOT_COUNT];
    {
        CSharedList lock;
        for (int i = 0; i < SLOT_COUNT; ++i)
            empty[i] = g_portDll[i] == nullptr;  // filled before, with or without a module: not retried
    }
    CPortDll* loaded[SLOT_COUNT] = {};
    CRegistry reg(HKEY_LOCAL_MACHINE);
    for (int i = 0; i < SLOT_COUNT; ++i) {
        if (!empty[i])
            continue;
        CString path;
        reg.GetString(VESK_SERVICEINFO_KEY, kSlotValue[i], path);
        loaded[i] = new CPortDll;
        loaded[i]->LoadDll(path);
    }
    {
        CExclusiveList lock;
        for (int i = 0; i < SLOT_COUNT; ++i) {
            if (loaded[i] && !g_portDll[i]) {
                g_portDll[i] = loaded[i];
                loaded[i] = nullptr;
            }
        }
    }
    for (CPortDll* spare : loaded) {
        if (spare) {
            spare->FreeDll();  // the slot's own load keeps the library
            delete spare;
        }
    }
    return 0;
}

int WINAPI FreeChildDll()
{
    CPortDll* freed[SLOT_COUNT] = {};
    int inUse;
    {
        CExclusiveList lock;
        // A port being made counts as a record, a call still in a transport too: its library
        // is in use.
        inUse = PortList.GetCount() + int(g_creating) + int(g_calls);
        if (inUse == 0) {
            for (int i = 0; i < SLOT_COUNT; ++i) {
                freed[i] = g_portDll[i];
                g_portDll[i] = nullptr;
            }
        }
    }
    if (inUse != 0) {
        QlnPlain("FreeChildDll : but now using communication port");
        return inUse;
    }
    for (CPortDll* dll : freed) {
        if (dll) {
            dll->FreeDll();
            delete dll;
        }
    }
    return 0;
}

} // extern "C"
