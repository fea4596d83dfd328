// The serial line calls that decide the power state and write the control block. Production
// uses the Win32 functions; a pseudo-terminal has no modem lines and no XOFF state, so tests put
// a scripted line in their place.
#pragma once

#include <windows.h>

// How a bounded wait for a received-character event ended.
enum ComCharWait
{
    COMWAIT_CHAR,       // a character event (or the wait completed at once)
    COMWAIT_FAILED,     // the wait could not be made
    COMWAIT_TIMEOUT,    // no event within the bound: cancelled
    COMWAIT_TERMINATE,  // the port is closing: cancelled
    COMWAIT_STUCK,      // the cancel did not complete: its block is left to the system
};

class IComLine
{
public:
    // Sets the event mask to received characters and waits up to ms for one, or until terminate
    // is signalled (the event-driven read of the IVT Bluetooth stack).
    virtual ComCharWait WaitCharEvent(HANDLE h, HANDLE terminate, DWORD ms) = 0;
    virtual BOOL GetModemStatus(HANDLE h, DWORD* modemStat) = 0;
    virtual BOOL ClearError(HANDLE h, DWORD* errors, COMSTAT* stat) = 0;
    virtual BOOL SetState(HANDLE h, DCB* dcb) = 0;
    virtual BOOL Purge(HANDLE h, DWORD flags) = 0;
    // Closes the device handle.
    virtual BOOL Close(HANDLE h) = 0;

protected:
    ~IComLine() {}
};

// GetCommModemStatus, ClearCommError, SetCommState, PurgeComm, CloseHandle and an overlapped
// WaitCommEvent.
IComLine& Win32ComLine();
