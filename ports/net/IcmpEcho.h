// The ICMP echo behind the net port's liveness probe. The production form calls the platform's
// ICMP helper functions; tests script the answers, since sending echo requests needs rights a
// test account does not have.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

class IIcmpEcho
{
public:
    // IcmpCreateFile: INVALID_HANDLE_VALUE on failure (the reason in GetLastError).
    virtual HANDLE Create() = 0;
    // IcmpSendEcho without request data: the number of replies written into reply, or 0 with
    // the reason in GetLastError.
    virtual DWORD SendEcho(HANDLE icmp, IPAddr destination, void* reply, DWORD replySize, DWORD timeoutMs) = 0;
    virtual void Close(HANDLE icmp) = 0;

protected:
    ~IIcmpEcho() {}
};

// The platform's ICMP echo (iphlpapi).
IIcmpEcho& PlatformIcmpEcho();
