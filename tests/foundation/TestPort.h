// A port class that records every call, for the export front end's tests. The test program
// reads the records through the pointer SetObject returns (plain members only).
#pragma once

#include "DeviceOption.h"
#include "FxString.h"

#include <windows.h>

// Kept by the test program: the port reports its closing and destruction here.
struct TestPortJournal
{
    volatile LONG closedWhileOpen;
    volatile LONG destroyed;
    volatile LONG destroyedUnderCall;  // destroyed while a read was still running on it
};

class CTestPort
{
public:
    CTestPort();
    ~CTestPort();

    int SetDeviceOption(const DeviceOption& dop, DWORD devType);
    void SetLog(DWORD useBinary, DWORD usePortLog, const CString& installPath);
    void SetPortIndex(int id);
    int OpenPort(DWORD devType);
    void ClosePort(DWORD devType);
    void CloseIfOpen();
    int writePort(const BYTE* buf, int len, DWORD devType);
    int readPort(BYTE* buf, int len, DWORD timeout, DWORD devType);
    int ReadAvailable(DWORD devType);
    void Clear(DWORD devType);
    int IsPowerState(DWORD devType);
    int GetASBState(int* asb, DWORD devType);
    int SetWrite(int isWrite, DWORD devType);
    int SetStatusEvent(HANDLE event, DWORD devType);
    void CancelWrites(DWORD devType);

    enum { WRITTEN_MAX = 1 << 16 };
    int m_portIndex = 0;
    bool m_open = false;
    DeviceOption m_dop = {};          // the record as it arrived (its handle value included)
    long m_nameRefsInCall = 0;        // the name's reference count while SetDeviceOption ran
    CString m_portName;
    CString m_installPath;
    DWORD m_useBinary = 0, m_usePortLog = 0;
    DWORD m_lastDevType = 0;
    DWORD m_lastTimeout = 0;
    int m_isWrite = -1;
    volatile LONG m_calls = 0;        // every call of any operation
    volatile LONG m_writes = 0;
    volatile LONG m_written = 0;
    BYTE m_bytes[WRITTEN_MAX] = {};
    TestPortJournal* m_journal = nullptr;
    HANDLE m_readGate = nullptr;      // when set, readPort waits for it (a long read)
    volatile LONG m_reading = 0;      // 1 while readPort runs
};
