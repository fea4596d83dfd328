#include "ScriptQln.h"

#include "DeviceOption.h"
#include "FxString.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Script
{
    // By port id: each port answers, stalls and loses power on its own. Id 0 holds the results
    // of the calls that name no port (CreatePort, LoadChildDll, FreeChildDll), id -1 the
    // defaults of every port that has none of its own.
    std::map<int, std::shared_ptr<CPortScript>> ports;
    std::vector<std::string> calls;
    std::vector<DWORD> ticks;  // GetTickCount at each call
    std::vector<BYTE> written;
    int nextId = 40000;
    DWORD lastOption[19] = {};  // the settings of the last SetDeviceOption, after the port name
};

CRITICAL_SECTION g_cs;
Script* g_script = nullptr;

struct Init
{
    Init()
    {
        InitializeCriticalSection(&g_cs);
        g_script = new Script;
    }
    ~Init()
    {
        delete g_script;
        DeleteCriticalSection(&g_cs);
    }
} g_init;

struct Locked
{
    Locked() { EnterCriticalSection(&g_cs); }
    ~Locked() { LeaveCriticalSection(&g_cs); }
};

// A port's script (caller holds the lock). Shared, so a call still waiting on a port outlives
// a reset of the script.
std::shared_ptr<CPortScript> PortOf(int id)
{
    std::shared_ptr<CPortScript>& p = g_script->ports[id];
    if (!p)
        p = std::make_shared<CPortScript>(id);
    return p;
}

// A port's script and the defaults of all ports, taken under the lock.
struct Port
{
    explicit Port(int id)
    {
        Locked l;
        self = PortOf(id);
        others = PortOf(SCRIPT_ANY_PORT);
    }
    CPortScript* operator->() const { return self.get(); }
    int Take(const char* call, int fallback) { return self->Take(call, fallback, others.get()); }
    std::shared_ptr<CPortScript> self, others;
};

void Record(const char* fmt, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    g_script->calls.push_back(buf);
    g_script->ticks.push_back(GetTickCount());
}

} // namespace

extern "C" {

// ---- Script and record

void WINAPI ScriptReset()
{
    Locked l;
    delete g_script;
    g_script = new Script;
}

void WINAPI ScriptResult(int id, const char* call, int value)
{
    Port(id)->Once(call, value);
}

void WINAPI ScriptDefault(int id, const char* call, int value)
{
    Port(id)->SetDefault(call, value);
}

void WINAPI ScriptReadBytes(int id, const BYTE* data, int length)
{
    if (data && length > 0)
        Port(id)->Arrive(data, length);
}

void WINAPI ScriptStatusFrame(int id, int frame)
{
    Port(id)->AddFrame(frame);
}

void WINAPI ScriptLateAnswer(int id, int request, int answer, DWORD delayMs)
{
    Port(id)->LateAnswer(request, answer, delayMs);
}

void WINAPI ScriptHook(int id, const char* call, ScriptHookProc proc, void* context)
{
    Port(id)->SetHook(call, proc, context);
}

int WINAPI ScriptCallCount()
{
    Locked l;
    return int(g_script->calls.size());
}

BOOL WINAPI ScriptCall(int index, char* text, int size)
{
    Locked l;
    if (index < 0 || index >= int(g_script->calls.size()) || !text || size <= 0)
        return FALSE;
    std::snprintf(text, size_t(size), "%s", g_script->calls[size_t(index)].c_str());
    return TRUE;
}

DWORD WINAPI ScriptCallTick(int index)
{
    Locked l;
    if (index < 0 || index >= int(g_script->ticks.size()))
        return 0;
    return g_script->ticks[size_t(index)];
}

int WINAPI ScriptDeviceOption(DWORD* fields, int count)
{
    Locked l;
    for (int i = 0; i < count && i < 19 && fields; ++i)
        fields[i] = g_script->lastOption[i];
    return 19;
}

int WINAPI ScriptWritten(BYTE* data, int size)
{
    Locked l;
    int n = int(g_script->written.size());
    for (int i = 0; i < n && i < size && data; ++i)
        data[i] = g_script->written[size_t(i)];
    return n;
}

// ---- The port manager's exports (argument orders as the real one has them). Each call on a
// port runs that port's hook for it first.

int WINAPI CreatePort(char* devNameHandle, char* portHandle, DWORD devType)
{
    // Both strings come by value: the receiver drops their references.
    CString dev = CString::FromHandle(devNameHandle);
    CString port = CString::FromHandle(portHandle);
    CString::ReleaseHandle(devNameHandle);
    CString::ReleaseHandle(portHandle);
    Port manager(SCRIPT_MANAGER);
    Locked l;
    int id = manager.Take("CreatePort", g_script->nextId);
    if (id == g_script->nextId)
        ++g_script->nextId;
    Record("CreatePort(%s, %s, %lu) = %d", dev.GetString(), port.GetString(), (unsigned long)devType, id);
    return id;
}

int WINAPI RemovePort(DWORD devType, int id)
{
    Port p(id);
    p->RunHook("RemovePort");
    int r = p.Take("RemovePort", 0);
    Locked l;
    Record("RemovePort(%lu, %d) = %d", (unsigned long)devType, id, r);
    return r;
}

int WINAPI SetDeviceOption(DeviceOption dop, int id, DWORD devType)
{
    CString port = DeviceOptionPortName(dop);
    DeviceOptionRelease(dop);
    Port p(id);
    p->RunHook("SetDeviceOption");
    int r = p.Take("SetDeviceOption", 1);
    Locked l;
    const DWORD* fields = &dop.dwReserved;
    for (int i = 0; i < 19; ++i)
        g_script->lastOption[i] = fields[i];
    Record("SetDeviceOption(%s, %lu, %lu, %lu, %lu, %lu, %lu, %d, %lu) = %d", port.GetString(),
           (unsigned long)dop.dwBaudRate, (unsigned long)dop.dwByteSize, (unsigned long)dop.dwStopBits,
           (unsigned long)dop.dwParity, (unsigned long)dop.dwFlowControl, (unsigned long)dop.dwUsingBT, id,
           (unsigned long)devType, r);
    return r;
}

int WINAPI OpenPort(int id, DWORD devType)
{
    Port p(id);
    p->RunHook("OpenPort");
    int r = p.Take("OpenPort", 1);
    if (r)
        p->Opened(devType);
    Locked l;
    Record("OpenPort(%d, %lu) = %d", id, (unsigned long)devType, r);
    return r;
}

void WINAPI ClosePort(int id, DWORD devType)
{
    Port p(id);
    p->RunHook("ClosePort");
    p->Closed(devType);
    Locked l;
    Record("ClosePort(%d, %lu)", id, (unsigned long)devType);
}

int WINAPI Write(const BYTE* buf, DWORD len, int id, DWORD devType)
{
    Port p(id);
    p->RunHook("Write");
    int closes = p->Closes();
    int classCloses = p->ClassCloses(devType);
    CPortScript::WriteScript w = p->OnWrite(buf, len, p.others.get());
    {
        Locked l;
        for (int i = 0; i < w.count && buf; ++i)
            g_script->written.push_back(buf[i]);
        Record("Write(%lu, %d, %lu) = %d", (unsigned long)len, id, (unsigned long)devType, w.count);
    }
    // A transport whose write waits for room that does not come; the other calls go on. A close
    // of the port, or of the write's class while another keeps the port open, cancels the
    // write, unless it is stuck past the close.
    for (DWORD start = GetTickCount(); w.stallMs > 0 && GetTickCount() - start < w.stallMs; Sleep(5)) {
        if (p->Closes() != closes || p->ClassCloses(devType) != classCloses) {
            Locked l;
            Record("Write(%lu, %d, %lu) ended by ClosePort", (unsigned long)len, id, (unsigned long)devType);
            return 0;
        }
    }
    for (DWORD start = GetTickCount(); w.stuckMs > 0 && GetTickCount() - start < w.stuckMs;)
        Sleep(5);
    return w.count;
}

int WINAPI Read(BYTE* buf, DWORD len, DWORD timeout, int id, DWORD devType)
{
    Port p(id);
    p->RunHook("Read");
    int closes = p->Closes();
    // What has arrived at once; an answer still on its way is waited for within the read's
    // time, as a port does, unless the port is closed meanwhile.
    int n = p->TakeBytes(buf, int(len));
    for (DWORD start = GetTickCount(); n == 0 && buf && len && p->Pending() && GetTickCount() - start < timeout;) {
        if (p->Closes() != closes)
            break;
        Sleep(2);
        n = p->TakeBytes(buf, int(len));
    }
    Locked l;
    Record("Read(%lu, %lu, %d, %lu) = %d", (unsigned long)len, (unsigned long)timeout, id, (unsigned long)devType, n);
    return n;
}

int WINAPI ReadAvailable(int id, DWORD devType)
{
    Port p(id);
    p->RunHook("ReadAvailable");
    int r = p->Available();
    Locked l;
    Record("ReadAvailable(%d, %lu) = %d", id, (unsigned long)devType, r);
    return r;
}

void WINAPI Clear(int id, DWORD devType)
{
    Port p(id);
    p->RunHook("Clear");
    p->ClearArrived();
    Locked l;
    Record("Clear(%d, %lu)", id, (unsigned long)devType);
}

int WINAPI IsPowerState(int id, DWORD devType)
{
    Port p(id);
    p->RunHook("IsPowerState");
    int r = p->Power(p.others.get());
    Locked l;
    Record("IsPowerState(%d, %lu) = %d", id, (unsigned long)devType, r);
    return r;
}

int WINAPI GetASBState(int* asb, int id, DWORD devType)
{
    Port p(id);
    p->RunHook("GetASBState");
    int frame = 0;
    int r = p->TakeFrame(&frame) ? 1 : 0;
    if (r && asb)
        *asb = frame;
    Locked l;
    Record("GetASBState(%d, %lu) = %d", id, (unsigned long)devType, r);
    return r;
}

int WINAPI SetWrite(BOOL isWrite, int id, DWORD devType)
{
    Port p(id);
    p->RunHook("SetWrite");
    int r = p.Take("SetWrite", 1);
    Locked l;
    Record("SetWrite(%d, %d, %lu) = %d", int(isWrite), id, (unsigned long)devType, r);
    return r;
}

int WINAPI LoadChildDll()
{
    Port manager(SCRIPT_MANAGER);
    int r = manager.Take("LoadChildDll", 0);
    Locked l;
    Record("LoadChildDll() = %d", r);
    return r;
}

int WINAPI FreeChildDll()
{
    Port manager(SCRIPT_MANAGER);
    int r = manager.Take("FreeChildDll", 0);
    Locked l;
    Record("FreeChildDll() = %d", r);
    return r;
}

} // extern "C"
