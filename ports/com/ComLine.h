// The serial line calls that decide the power state and write the control block. Production
// uses the Win32 functions; a pseudo-terminal has no modem lines and no XOFF state, so tests put
// a scripted line in their place.
#pragma once

#include <windows.h>

class IComLine
{
public:
    virtual BOOL GetModemStatus(HANDLE h, DWORD* modemStat) = 0;
    virtual BOOL ClearError(HANDLE h, DWORD* errors, COMSTAT* stat) = 0;
    virtual BOOL SetState(HANDLE h, DCB* dcb) = 0;
    virtual BOOL Purge(HANDLE h, DWORD flags) = 0;

protected:
    ~IComLine() {}
};

// GetCommModemStatus, ClearCommError, SetCommState and PurgeComm.
IComLine& Win32ComLine();
