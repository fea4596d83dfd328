#include "IcmpEcho.h"

namespace {

class CPlatformIcmpEcho : public IIcmpEcho
{
public:
    HANDLE Create() override { return IcmpCreateFile(); }

    DWORD SendEcho(HANDLE icmp, IPAddr destination, void* reply, DWORD replySize, DWORD timeoutMs) override
    {
        // No payload: the probe only asks whether the printer is there.
        static char noData[1];
        return IcmpSendEcho(icmp, destination, noData, 0, nullptr, reply, replySize, timeoutMs);
    }

    void Close(HANDLE icmp) override { IcmpCloseHandle(icmp); }
};

} // namespace

IIcmpEcho& PlatformIcmpEcho()
{
    static CPlatformIcmpEcho echo;
    return echo;
}
