// Quillan, the port manager: one port record per transport port, shared by the device classes
// that name the same port string; every port call is routed by port id to the transport library
// that holds the port.
#pragma once

#include "DeviceOption.h"
#include "FxApp.h"
#include "FxColl.h"
#include "PortDll.h"
#include "SyncEx.h"

#include <windows.h>

class CQUILLANApp : public CWinApp
{
public:
    CQUILLANApp();
    ~CQUILLANApp() override;
    BOOL InitInstance() override;
    int ExitInstance() override;

    // Off until a CreatePort turns logging on; then kept for the life of the library.
    volatile LONG m_bErrorLog;
    volatile LONG m_bTrace;
};

extern CQUILLANApp theApp;

// A printer queue moved off a port while the port is open.
struct SavedPrinter
{
    CString strName;
    CString strOldPort;
    DWORD dwOldAttributes = 0;
    BOOL bHasAttributes = FALSE;
};

struct PortEntry
{
    PortEntry() {}
    ~PortEntry();
    PortEntry(const PortEntry&) = delete;
    PortEntry& operator=(const PortEntry&) = delete;

    int dwId = 0;
    CString strDevName[6];   // by class bit 1, 2, 4, 8, 16, 32; empty: the class holds no share
    CString strPort;
    DWORD dwDevTypes = 0;
    CPortDll* pPortDll = nullptr;  // not owned
    CPtrList savedPrinters;        // SavedPrinter*, owned
    int dwOpenResult = 0;
    DWORD dwOpenDevTypes = 0;

    // Opening, closing and removing hold openLock, a kernel mutex taken with a bounded wait: a
    // thread ended by force inside one leaves it abandoned, never held. The other calls hold no
    // lock while they run in the transport, so a close from another thread reaches a write
    // stalled at the printer and ends it. refs keeps the record alive while a call holds it (one
    // reference belongs to PortList); bRemoved is set once it has left PortList.
    CMutexEx openLock;
    volatile LONG refs = 1;
    bool bRemoved = false;
    // The class whose transport OpenPort or ClosePort runs under openLock now (0: none).
    volatile LONG busyClass = 0;
    // The transport's ClosePort may run beside its own OpenPort or ClosePort and ends them early
    // (com), so a close or remove of the busy class asks it to stop before it waits for openLock.
    bool bCloseStops = false;
};

// The longest an open, close, remove or settings change of a port waits for another one on the
// same port. Shorter than the longest com holds it: a Bluetooth open runs the device enable tool
// twice (30 s each) plus its waits, about 63 s, and a close drains the driver's output queue for
// the line time of what is queued (4096 bytes at 300 baud: about 140 s). A ClosePort or
// RemovePort of the class that runs them ends them early instead of waiting that long; an open
// or settings change behind them gives up with "port busy".
const DWORD kPortOpenLockWaitMs = 60000;
// How often a close or remove waiting for the lock asks the busy transport again to stop (a stop
// that came before the transport began its open is not seen by it).
const DWORD kPortStopRetryMs = 1000;

// The class bits a port call may carry.
inline bool IsDevTypeValid(DWORD devType)
{
    return devType == 1 || devType == 2 || devType == 4 || devType == 8 || devType == 16 || devType == 32;
}

// True when the first three characters of the port string are "COM" or "LPT" (a port a Windows
// printer queue can also use).
bool IsSpoolerPort(const CString& port);

// Log lines of Quillan's port log: Line and Error need the error-log flag, Trace the trace flag.
void QlnLine(DWORD devType, const char* fmt, ...);
void QlnError(DWORD devType, const char* fmt, ...);
void QlnTrace(DWORD devType, const char* fmt, ...);
void QlnPlain(const char* fmt, ...);

// Printer queue moves (the caller holds the record exclusively and passes it). A queue whose
// restore fails stays in the record's saved printers and is tried again by the next restore;
// ReportUnrestoredPrinters logs and forgets those still left when the record goes.
BOOL ExistWindowsDriverFilePort(int id, DWORD devType);
BOOL AddNewWindowsDriverPort(int id, DWORD devType);
void MoveWindowsDriverPort(PortEntry* entry, int id, DWORD devType, BOOL bExistFilePort);
void RestoreWindowsDriverPort(PortEntry* entry, int id, DWORD devType);
void ReportUnrestoredPrinters(PortEntry* entry, int id, DWORD devType);
void FreeSavedPrinters(PortEntry* entry);

// Bluetooth stack of a COM port from its "Ports" class device: 0 other, 1 Microsoft, 2 TOSHIBA, 3 IVT.
int GetBluetoothStackType(int id, const CString& portName, DWORD devType);
int BtStackTypeFromProvider(const char* provider);
