// A recording transport for the port manager's tests: the fourteen port exports of a transport
// library, each call and its arguments appended as one line to the file named by VESK_REC_FILE.
// Built once per slot (REC_NAME, REC_FIRST_ID) so a test sees which library a call reached.
//
// Answers identify the port: IsPowerState and ReadAvailable return the port id, GetASBState
// delivers the id as the frame, Read fills "R<id>". OpenPort returns VESK_REC_OPEN (default 1);
// with VESK_REC_READ_EVENT set, Read waits for that named event first; with
// VESK_REC_CREATE_EVENT_<name> set, this library's CreatePort and CreatePort4Log record
// "<name> CreatePort waits" and wait for that named event (a transport slow to make its port).
// With VESK_REC_OPEN_EVENT (VESK_REC_CLOSE_EVENT) set, OpenPort (ClosePort) records "OpenPort
// waits id=<id>" and waits for that named event, or for a ClosePort of the same port, which ends
// it early as com's close ends its open or drain ("... ended by a close"); a SetDeviceOption
// meanwhile records "SetDeviceOption id=<id> during a held open or close".
#include "DeviceOption.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#ifdef DeletePort
#undef DeletePort
#endif

namespace {

CRITICAL_SECTION g_cs;
struct Init
{
    Init() { InitializeCriticalSection(&g_cs); }
} g_init;

std::map<int, int> g_ports;  // id -> open flag
int g_nextId = REC_FIRST_ID;

std::string Env(const char* name)
{
    char buf[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return (n > 0 && n < sizeof buf) ? std::string(buf, n) : std::string();
}

void Record(const std::string& text)
{
    std::string file = Env("VESK_REC_FILE");
    if (file.empty())
        return;
    std::string line = std::string(REC_NAME) + " " + text + "\n";
    HANDLE h = CreateFileA(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    DWORD w = 0;
    WriteFile(h, line.data(), DWORD(line.size()), &w, nullptr);
    CloseHandle(h);
}

std::string Fmt(const char* fmt, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

bool Known(int id)
{
    EnterCriticalSection(&g_cs);
    bool k = g_ports.count(id) != 0;
    LeaveCriticalSection(&g_cs);
    return k;
}

int NewPort()
{
    EnterCriticalSection(&g_cs);
    int id = g_nextId++;
    g_ports[id] = 0;
    LeaveCriticalSection(&g_cs);
    return id;
}

std::string Hex(const BYTE* p, int n)
{
    std::string s;
    for (int i = 0; i < n && i < 64; ++i)
        s += Fmt("%02x", p[i]);
    return s;
}

// The stop events of the opens and closes held now, by port id.
std::map<int, HANDLE> g_held;

// Holds OpenPort or ClosePort (what) of port id while the env's event is set up; false at once
// when it is not. The result: the hold was ended by a ClosePort of the port.
bool HoldPortCall(const char* env, const char* what, int id)
{
    std::string hold = Env(env);
    if (hold.empty())
        return false;
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EnterCriticalSection(&g_cs);
    g_held[id] = stop;
    LeaveCriticalSection(&g_cs);
    Record(Fmt("%s waits id=%d", what, id));
    HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, hold.c_str());
    HANDLE waits[2] = {stop, h};
    bool stopped = WaitForMultipleObjects(h ? 2 : 1, waits, FALSE, 120000) == WAIT_OBJECT_0;
    if (h)
        CloseHandle(h);
    EnterCriticalSection(&g_cs);
    g_held.erase(id);
    LeaveCriticalSection(&g_cs);
    CloseHandle(stop);
    if (stopped)
        Record(Fmt("%s id=%d ended by a close", what, id));
    return stopped;
}

bool Held(int id)
{
    EnterCriticalSection(&g_cs);
    bool held = g_held.count(id) != 0;
    LeaveCriticalSection(&g_cs);
    return held;
}

void HoldCreate()
{
    std::string hold = Env("VESK_REC_CREATE_EVENT_" REC_NAME);
    if (hold.empty())
        return;
    Record("CreatePort waits");
    if (HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, hold.c_str())) {
        WaitForSingleObject(h, 120000);
        CloseHandle(h);
    }
}

} // namespace

extern "C" {

int WINAPI CreatePort()
{
    HoldCreate();
    int id = NewPort();
    Record(Fmt("CreatePort -> %d", id));
    return id;
}

int WINAPI CreatePort4Log(DWORD useBinary, DWORD usePortLog, char* path)
{
    HoldCreate();
    int id = NewPort();
    Record(Fmt("CreatePort4Log bin=%lu log=%lu path=%s -> %d", (unsigned long)useBinary, (unsigned long)usePortLog,
               path ? path : "(null)", id));
    CString::ReleaseHandle(path);
    return id;
}

int WINAPI SetDeviceOption(int id, DeviceOption dop, DWORD devType)
{
    const DWORD* f = &dop.dwReserved;
    std::string fields;
    for (int i = 0; i < 19; ++i)
        fields += Fmt(i ? ",%lu" : "%lu", (unsigned long)f[i]);
    if (Held(id))
        Record(Fmt("SetDeviceOption id=%d during a held open or close", id));
    long refs = dop.strPortName ? CString::DataOf(dop.strPortName)->nRefs : 0;
    Record(Fmt("SetDeviceOption id=%d dev=%lu port=%s refs=%ld f=%s", id, (unsigned long)devType,
               dop.strPortName ? dop.strPortName : "(null)", refs, fields.c_str()));
    CString::ReleaseHandle(dop.strPortName);
    return Known(id) ? 1 : 0;
}

int WINAPI OpenPort(int id, DWORD devType)
{
    std::string v = Env("VESK_REC_OPEN");
    int r = Known(id) ? (v.empty() ? 1 : std::atoi(v.c_str())) : 0;
    if (HoldPortCall("VESK_REC_OPEN_EVENT", "OpenPort", id))
        r = 0;
    Record(Fmt("OpenPort id=%d dev=%lu -> %d", id, (unsigned long)devType, r));
    return r;
}

void WINAPI ClosePort(int id, DWORD devType)
{
    Record(Fmt("ClosePort id=%d dev=%lu", id, (unsigned long)devType));
    // A close beside a held open or close of the port ends it; otherwise it may be held itself.
    EnterCriticalSection(&g_cs);
    auto held = g_held.find(id);
    HANDLE stop = held != g_held.end() ? held->second : nullptr;
    if (stop)
        SetEvent(stop);
    LeaveCriticalSection(&g_cs);
    if (!stop)
        HoldPortCall("VESK_REC_CLOSE_EVENT", "ClosePort", id);
}

int WINAPI DeletePort(int id)
{
    EnterCriticalSection(&g_cs);
    int r = int(g_ports.erase(id));
    LeaveCriticalSection(&g_cs);
    Record(Fmt("DeletePort id=%d -> %d", id, r));
    return r;
}

int WINAPI Write(const BYTE* buf, int len, int id, DWORD devType)
{
    int r = (Known(id) && buf && len > 0) ? len : 0;
    Record(Fmt("Write id=%d dev=%lu len=%d data=%s", id, (unsigned long)devType, len, buf && len > 0 ? Hex(buf, len).c_str() : ""));
    return r;
}

int WINAPI Read(BYTE* buf, int len, DWORD timeout, int id, DWORD devType)
{
    Record(Fmt("Read id=%d dev=%lu len=%d timeout=%lu", id, (unsigned long)devType, len, (unsigned long)timeout));
    // A printer that takes its time: the read waits until the test sets the named event.
    std::string hold = Env("VESK_REC_READ_EVENT");
    if (!hold.empty()) {
        if (HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, hold.c_str())) {
            WaitForSingleObject(h, 120000);
            CloseHandle(h);
        }
    }
    if (!Known(id) || !buf || len <= 0)
        return 0;
    std::string answer = Fmt("R%d", id);
    int n = int(answer.size()) < len ? int(answer.size()) : len;
    memcpy(buf, answer.data(), size_t(n));
    return n;
}

int WINAPI ReadAvailable(int id, DWORD devType)
{
    Record(Fmt("ReadAvailable id=%d dev=%lu", id, (unsigned long)devType));
    return Known(id) ? id : 0;
}

void WINAPI Clear(int id, DWORD devType) { Record(Fmt("Clear id=%d dev=%lu", id, (unsigned long)devType)); }

int WINAPI IsPowerState(int id, DWORD devType)
{
    Record(Fmt("IsPowerState id=%d dev=%lu", id, (unsigned long)devType));
    return Known(id) ? id : 0;
}

int WINAPI GetASBState(int* asb, int id, DWORD devType)
{
    Record(Fmt("GetASBState id=%d dev=%lu", id, (unsigned long)devType));
    if (!Known(id) || !asb)
        return 0;
    *asb = id;
    return 1;
}

int WINAPI SetWrite(int isWrite, int id, DWORD devType)
{
    Record(Fmt("SetWrite id=%d dev=%lu isWrite=%d", id, (unsigned long)devType, isWrite));
    return Known(id) ? 1 : 0;
}

int WINAPI SetStatusEvent(HANDLE event, int id, DWORD devType)
{
    Record(Fmt("SetStatusEvent id=%d dev=%lu event=%d", id, (unsigned long)devType, event ? 1 : 0));
    return Known(id) ? 1 : 0;
}

void WINAPI CancelWrites(int id, DWORD devType) { Record(Fmt("CancelWrites id=%d dev=%lu", id, (unsigned long)devType)); }

void* WINAPI SetObject(int id)
{
    Record(Fmt("SetObject id=%d", id));
    return nullptr;
}

} // extern "C"
