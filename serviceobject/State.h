// The service object's port connection: Quillan loaded by path and bound by name, one port id,
// the device classes that hold the port open, the port lock, and the status thread that hands
// status frames and power states to the device. Connections are shared per port name by every
// object of the process (CreateState, DeleteState).
#pragma once

#include "DeviceOption.h"
#include "PortManagerApi.h"
#include "FxString.h"
#include "FxThread.h"
#include "SyncEx.h"

#include <windows.h>

#include <atomic>

// Who gets what the status thread reads: the label printer object.
class IStatusReceiver
{
public:
    virtual ~IStatusReceiver() {}
    virtual void ProcessStatusBytes(const BYTE* frame) = 0;  // one 4-byte status frame
    virtual void OnPortPowerState(int powerState) = 0;  // what the port reports
    // The device's port settings: the status thread takes the port kind from the port name,
    // Close the Bluetooth flag.
    virtual const DeviceOption& GetStatusDeviceOption() const = 0;
};

class CStateCommon : public QlnApi
{
public:

    CStateCommon() = default;
    virtual ~CStateCommon();
    virtual BOOL Open(DWORD devType, const DeviceOption& dop);
    virtual BOOL Close(DWORD devType);
    CStateCommon(const CStateCommon&) = delete;
    CStateCommon& operator=(const CStateCommon&) = delete;

    // Loads Quillan by full path and binds its exports; FALSE (with nothing kept loaded) when
    // the library or one of the eleven required exports is missing.
    BOOL LoadPortManager(const CString& path);
    // Clears the entry points and frees the library.
    void FreePortManager();

    int Write(const BYTE* buf, DWORD len, DWORD devType);
    // Up to len bytes that arrive within timeoutMs (the transport waits for their arrival).
    int Read(BYTE* buf, DWORD len, DWORD devType, DWORD timeoutMs);
    void Clear(DWORD devType);
    int SetWrite(BOOL isWrite, DWORD devType);
    BOOL Lock(DWORD timeoutMs);
    void Unlock();
    int LoadChildDll();
    int FreeChildDll();

    bool IsOpen() const { return m_openClasses != 0; }
    DWORD OpenClasses() const { return m_openClasses; }
    int PortId() const { return m_id; }
    void SetPortId(int id) { m_id = id; }
    LONG LockHolders() const { return m_lockHolders; }

    FnSetDeviceOption m_pSetDeviceOption = nullptr;
    FnOpenPort m_pOpenPort = nullptr;
    FnClosePort m_pClosePort = nullptr;
    FnRead m_pRead = nullptr;
    FnIdDev m_pReadAvailable = nullptr;
    FnWrite m_pWrite = nullptr;
    FnClear m_pClear = nullptr;
    FnIdDev m_pIsPowerState = nullptr;
    FnGetASBState m_pGetASBState = nullptr;
    FnCreatePort m_pCreatePort = nullptr;
    FnRemovePort m_pRemovePort = nullptr;
    FnNoArgs m_pFreeChildDll = nullptr;
    FnNoArgs m_pLoadChildDll = nullptr;
    FnSetWrite m_pSetWrite = nullptr;
    // Optional: a port manager without it has its status polled.
    FnSetStatusEvent m_pSetStatusEvent = nullptr;

protected:
    int m_id = 0;
    HMODULE m_module = nullptr;
    std::atomic<DWORD> m_openClasses{0};
    CMutexEx m_portLock;
    LONG m_lockHolders = 0;
};

class CState : public CStateCommon
{
public:
    CState();
    ~CState() override;
    BOOL Open(DWORD devType, const DeviceOption& dop) override;
    BOOL Close(DWORD devType) override;

    // Set by the device before its port is opened and cleared after it is closed. Clearing it
    // waits (bounded) for a call the status thread is making into the old receiver: another
    // class may keep the port, and its thread, running after this device has gone.
    void SetStatusReceiver(IStatusReceiver* r);
    IStatusReceiver* StatusReceiver() const { return m_receiver; }
    enum { ReceiverDetachWaitMs = 5000 };
    bool StatusThreadRunning() const { return m_thread != nullptr; }

    // Poll periods of the status thread. A port that signals its status news is looked at
    // when they come and otherwise once per PeriodNotifiedMs.
    enum { PeriodClosedMs = 500, PeriodNetworkMs = 20, PeriodOtherMs = 80, PeriodNotifiedMs = 1000 };
    // Whether the open port signals its status news (the status thread waits for them).
    bool StatusNotified() const { return m_notified != 0; }

private:
    static UINT __cdecl StatusThreadProc(LPVOID self);
    void StatusLoop();
    // Calls call(receiver) under the receiver lock when a receiver is set.
    template <class Call>
    void WithReceiver(Call call);
    void StopStatusThread();

    std::atomic<IStatusReceiver*> m_receiver{nullptr};
    // Held by the status thread while it calls the receiver, and by SetStatusReceiver.
    CMutexEx m_receiverLock;
    std::atomic<LONG> m_stop{0};
    CEventEx m_stopEvent{FALSE, TRUE};
    CEventEx m_statusEvent{FALSE, FALSE};  // auto-reset: the port's status news
    std::atomic<LONG> m_notified{0};
    CWinThread* m_thread = nullptr;
    std::atomic<LONG> m_threadEnded{1};
};

struct ConnectionEntry
{
    CState* pState = nullptr;  // owned
    CString strPortName;
    DWORD dwDevTypes = 0;
};

// The port id of a connection for DeviceName on PortName for one device class (0 on failure):
// shares the entry of the port name when another class made it.
int CreateState(const CString& deviceName, const CString& portName, DWORD devType);
// Releases the class's hold on the connection with this id; 1 when it did.
int DeleteState(DWORD devType, int id);
ConnectionEntry* FindConnection(int id);
// Number of entries (for the tests and the log).
int ConnectionCount();
