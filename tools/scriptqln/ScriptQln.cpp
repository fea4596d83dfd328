#include "ScriptQln.h"

#include "DeviceOption.h"
#include "FxString.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace {

struct Script
{
    std::map<std::string, std::deque<int>> once;
    std::map<std::string, int> defaults;
    // By port id: a frame or an answer reaches only the port it was scripted for.
    std::map<int, std::deque<BYTE>> readBytes;
    std::map<int, std::deque<int>> frames;
    std::vector<std::string> calls;
    std::vector<DWORD> ticks;  // GetTickCount at each call
    std::vector<BYTE> written;
    int nextId = 40000;
    int powerCalls = 0;  // IsPowerState calls made
    std::map<int, int> closes;  // ClosePort calls by port id
    bool cut = false;    // a PowerCut holds the port off line until IsPowerState reads 2001 again
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

// The scripted result of a call (caller holds the lock).
int Result(const char* call, int fallback)
{
    auto q = g_script->once.find(call);
    if (q != g_script->once.end() && !q->second.empty()) {
        int v = q->second.front();
        q->second.pop_front();
        return v;
    }
    auto d = g_script->defaults.find(call);
    return d != g_script->defaults.end() ? d->second : fallback;
}

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

void WINAPI ScriptResult(const char* call, int value)
{
    Locked l;
    g_script->once[call].push_back(value);
}

void WINAPI ScriptDefault(const char* call, int value)
{
    Locked l;
    g_script->defaults[call] = value;
}

void WINAPI ScriptReadBytes(int id, const BYTE* data, int length)
{
    Locked l;
    for (int i = 0; i < length; ++i)
        g_script->readBytes[id].push_back(data[i]);
}

void WINAPI ScriptStatusFrame(int id, int frame)
{
    Locked l;
    g_script->frames[id].push_back(frame);
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

// ---- The port manager's exports (argument orders as the real one has them)

int WINAPI CreatePort(char* devNameHandle, char* portHandle, DWORD devType)
{
    // Both strings come by value: the receiver drops their references.
    CString dev = CString::FromHandle(devNameHandle);
    CString port = CString::FromHandle(portHandle);
    CString::ReleaseHandle(devNameHandle);
    CString::ReleaseHandle(portHandle);
    Locked l;
    int id = Result("CreatePort", g_script->nextId);
    if (id == g_script->nextId)
        ++g_script->nextId;
    Record("CreatePort(%s, %s, %lu) = %d", dev.GetString(), port.GetString(), (unsigned long)devType, id);
    return id;
}

int WINAPI RemovePort(DWORD devType, int id)
{
    Locked l;
    int r = Result("RemovePort", 0);
    Record("RemovePort(%lu, %d) = %d", (unsigned long)devType, id, r);
    return r;
}

int WINAPI SetDeviceOption(DeviceOption dop, int id, DWORD devType)
{
    CString port = DeviceOptionPortName(dop);
    DeviceOptionRelease(dop);
    Locked l;
    const DWORD* fields = &dop.dwReserved;
    for (int i = 0; i < 19; ++i)
        g_script->lastOption[i] = fields[i];
    int r = Result("SetDeviceOption", 1);
    Record("SetDeviceOption(%s, %lu, %lu, %lu, %lu, %lu, %lu, %d, %lu) = %d", port.GetString(),
           (unsigned long)dop.dwBaudRate, (unsigned long)dop.dwByteSize, (unsigned long)dop.dwStopBits,
           (unsigned long)dop.dwParity, (unsigned long)dop.dwFlowControl, (unsigned long)dop.dwUsingBT, id,
           (unsigned long)devType, r);
    return r;
}

int WINAPI OpenPort(int id, DWORD devType)
{
    Locked l;
    int r = Result("OpenPort", 1);
    Record("OpenPort(%d, %lu) = %d", id, (unsigned long)devType, r);
    return r;
}

void WINAPI ClosePort(int id, DWORD devType)
{
    Locked l;
    ++g_script->closes[id];
    Record("ClosePort(%d, %lu)", id, (unsigned long)devType);
}

int WINAPI Write(const BYTE* buf, DWORD len, int id, DWORD devType)
{
    int r = 0, stall = 0, power = 0, since = 0, closes = 0;
    {
        Locked l;
        closes = g_script->closes[id];
        r = Result("Write", int(len));
        if (r > int(len))
            r = int(len);
        stall = Result("WriteStall", 0);
        // More than a status request or an initialisation byte: the port's power may change
        // while it is written, handed over (PowerDuringWrite) or found by the status thread's
        // own next poll (PowerCut).
        if (len > 5) {
            power = Result("PowerDuringWrite", 0);
            if (int cut = Result("PowerCut", 0)) {
                g_script->defaults["IsPowerState"] = cut;
                g_script->cut = cut != 2001;
            }
        }
        if (power) {
            g_script->defaults["IsPowerState"] = power;
            since = g_script->powerCalls;
        }
        for (int i = 0; i < r && buf; ++i)
            g_script->written.push_back(buf[i]);
        // A printer answers the status request with one byte: the scripted "StatusAnswer"
        // (none while it is negative, nor while a cut holds the port off line).
        if (buf && len == 5 && r == 5 && std::memcmp(buf, "^cu\r\n", 5) == 0) {
            int answer = Result("StatusAnswer", -1);
            if (answer >= 0 && !g_script->cut)
                g_script->readBytes[id].push_back(BYTE(answer));
        }
        Record("Write(%lu, %d, %lu) = %d", (unsigned long)len, id, (unsigned long)devType, r);
    }
    // A transport whose write waits for room that does not come; the other calls go on.
    for (DWORD start = GetTickCount(); stall > 0 && GetTickCount() - start < DWORD(stall); Sleep(5)) {
        Locked l;
        if (g_script->closes[id] != closes) {
            Record("Write(%lu, %d, %lu) ended by ClosePort", (unsigned long)len, id, (unsigned long)devType);
            return 0;
        }
    }
    // The write returns once the status thread has polled the new power state and come back for
    // the next poll, so it has handed that state on (bounded: a port without a status thread).
    for (DWORD start = GetTickCount(); power && GetTickCount() - start < 20000; Sleep(5)) {
        Locked l;
        if (g_script->powerCalls >= since + 2)
            break;
    }
    return r;
}

int WINAPI Read(BYTE* buf, DWORD len, DWORD timeout, int id, DWORD devType)
{
    Locked l;
    int n = 0;
    std::deque<BYTE>& in = g_script->readBytes[id];
    while (buf && DWORD(n) < len && !in.empty()) {
        buf[n++] = in.front();
        in.pop_front();
    }
    Record("Read(%lu, %lu, %d, %lu) = %d", (unsigned long)len, (unsigned long)timeout, id, (unsigned long)devType, n);
    return n;
}

int WINAPI ReadAvailable(int id, DWORD devType)
{
    Locked l;
    int r = int(g_script->readBytes[id].size());
    Record("ReadAvailable(%d, %lu) = %d", id, (unsigned long)devType, r);
    return r;
}

void WINAPI Clear(int id, DWORD devType)
{
    Locked l;
    g_script->readBytes[id].clear();
    Record("Clear(%d, %lu)", id, (unsigned long)devType);
}

int WINAPI IsPowerState(int id, DWORD devType)
{
    Locked l;
    ++g_script->powerCalls;
    int r = Result("IsPowerState", 2001);
    if (r == 2001)
        g_script->cut = false;
    Record("IsPowerState(%d, %lu) = %d", id, (unsigned long)devType, r);
    return r;
}

int WINAPI GetASBState(int* asb, int id, DWORD devType)
{
    Locked l;
    int r = 0;
    std::deque<int>& frames = g_script->frames[id];
    if (!frames.empty()) {
        if (asb)
            *asb = frames.front();
        frames.pop_front();
        r = 1;
    }
    Record("GetASBState(%d, %lu) = %d", id, (unsigned long)devType, r);
    return r;
}

int WINAPI SetWrite(BOOL isWrite, int id, DWORD devType)
{
    Locked l;
    int r = Result("SetWrite", 1);
    Record("SetWrite(%d, %d, %lu) = %d", int(isWrite), id, (unsigned long)devType, r);
    return r;
}

int WINAPI LoadChildDll()
{
    Locked l;
    int r = Result("LoadChildDll", 0);
    Record("LoadChildDll() = %d", r);
    return r;
}

int WINAPI FreeChildDll()
{
    Locked l;
    int r = Result("FreeChildDll", 0);
    Record("FreeChildDll() = %d", r);
    return r;
}

} // extern "C"
