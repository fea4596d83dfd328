// A port library over CTestPort: the same front end and exports as the transports.
#include "PortTable.h"
#include "TestPort.h"

#include "FxApp.h"

#include <cstring>

CTestPort::CTestPort() {}

CTestPort::~CTestPort()
{
    if (m_journal) {
        InterlockedIncrement(&m_journal->destroyed);
        if (m_reading)
            InterlockedIncrement(&m_journal->destroyedUnderCall);
    }
}

int CTestPort::SetDeviceOption(const DeviceOption& dop, DWORD devType)
{
    InterlockedIncrement(&m_calls);
    m_lastDevType = devType;
    m_dop = dop;
    m_nameRefsInCall = dop.strPortName ? CString::DataOf(dop.strPortName)->nRefs : 0;
    m_portName = DeviceOptionPortName(dop);
    return m_portName.IsEmpty() ? 0 : 1;
}

void CTestPort::SetLog(DWORD useBinary, DWORD usePortLog, const CString& installPath)
{
    m_useBinary = useBinary;
    m_usePortLog = usePortLog;
    m_installPath = installPath;
}

void CTestPort::SetPortIndex(int id) { m_portIndex = id; }

int CTestPort::OpenPort(DWORD devType)
{
    InterlockedIncrement(&m_calls);
    m_lastDevType = devType;
    m_open = true;
    return 1;
}

void CTestPort::ClosePort(DWORD devType)
{
    InterlockedIncrement(&m_calls);
    m_lastDevType = devType;
    m_open = false;
}

void CTestPort::CloseIfOpen()
{
    if (m_open && m_journal)
        InterlockedIncrement(&m_journal->closedWhileOpen);
    m_open = false;
}

int CTestPort::writePort(const BYTE* buf, int len, DWORD devType)
{
    InterlockedIncrement(&m_calls);
    InterlockedIncrement(&m_writes);
    m_lastDevType = devType;
    int at = m_written;
    int n = len < WRITTEN_MAX - at ? len : WRITTEN_MAX - at;
    if (n > 0) {
        std::memcpy(m_bytes + at, buf, size_t(n));
        InterlockedExchangeAdd(&m_written, n);
    }
    return len;
}

int CTestPort::readPort(BYTE* buf, int len, DWORD timeout, DWORD devType)
{
    InterlockedIncrement(&m_calls);
    m_lastDevType = devType;
    m_lastTimeout = timeout;
    InterlockedExchange(&m_reading, 1);
    if (m_readGate)
        WaitForSingleObject(m_readGate, 60000);
    InterlockedExchange(&m_reading, 0);
    int n = len < 3 ? len : 3;
    std::memset(buf, 'r', size_t(n));
    return n;
}

int CTestPort::ReadAvailable(DWORD devType)
{
    InterlockedIncrement(&m_calls);
    m_lastDevType = devType;
    return 7;
}

void CTestPort::Clear(DWORD devType)
{
    InterlockedIncrement(&m_calls);
    m_lastDevType = devType;
}

int CTestPort::IsPowerState(DWORD devType)
{
    InterlockedIncrement(&m_calls);
    m_lastDevType = devType;
    return PS_ONLINE;
}

int CTestPort::GetASBState(int* asb, DWORD devType)
{
    InterlockedIncrement(&m_calls);
    m_lastDevType = devType;
    *asb = 0x10;
    return 1;
}

int CTestPort::SetStatusEvent(HANDLE event, DWORD devType)
{
    InterlockedIncrement(&m_calls);
    m_lastDevType = devType;
    return event ? 1 : 0;
}

void CTestPort::CancelWrites(DWORD devType)
{
    InterlockedIncrement(&m_calls);
    m_lastDevType = devType;
}

int CTestPort::SetWrite(int isWrite, DWORD devType)
{
    InterlockedIncrement(&m_calls);
    m_isWrite = isWrite;
    return m_open ? 1 : 0;
}

namespace {
class CTestPortApp : public CWinApp
{
public:
    CTestPortApp() : m_Ports(TESTPORT_FIRST_ID) {}
    CPortTable<CTestPort> m_Ports;
};
CTestPortApp theApp;
}

VESK_PORT_EXPORTS(theApp.m_Ports)
