// qlnbench: the cost of the port manager and the serial transport on the write path, and of the
// open port's read thread while the printer is idle.
//
// Writes the same label data (1 MiB of whole labels, in 4096-byte writes as the service object
// sends them) once through Quillan + com and once with a plain WriteFile loop, each to a pty COM
// port of the printer simulator, and prints both rates (until the printer has every byte) and
// their ratio; then keeps the Quillan port open and idle for 10 s and prints the CPU time its
// read thread used. Run beside a simulator (tools/qlnbench/qlnbench.sh does that).
#include "DeviceOption.h"
#include "simclient.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <set>
#include <string>

#include "BenchKit.h"

namespace {

using benchkit::CpuSeconds;
using benchkit::Now;
using benchkit::ProcessCpuSeconds;

typedef int(WINAPI* FnCreatePort)(char*, char*, DWORD);
typedef int(WINAPI* FnRemovePort)(DWORD, int);
typedef int(WINAPI* FnSetDeviceOption)(DeviceOption, int, DWORD);
typedef int(WINAPI* FnIdDev)(int, DWORD);
typedef void(WINAPI* FnClosePort)(int, DWORD);
typedef int(WINAPI* FnWrite)(const BYTE*, DWORD, int, DWORD);
typedef int(WINAPI* FnNoArgs)();

const size_t kTotal = 1 << 20;
const DWORD kChunk = 4096;

template <class T>
bool Bind(HMODULE m, const char* name, T& fn)
{
    fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, name)));
    return fn != nullptr;
}

std::string WinPath(std::string p)
{
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p.size() > 1 && p[1] == ':' ? p : "Z:" + p;
}


std::string LabelData()
{
    std::string data;
    for (int n = 0; data.size() < kTotal; ++n) {
        char label[512];
        std::snprintf(label, sizeof label,
                      "SL406,24,G,0\r\nSW812\r\nSTd\r\nSM10,0\r\nSS4\r\nSD8\r\nSOT\r\nSA0\r\nTA0\r\nCS0,0\r\nCUTn\r\n"
                      "T26,20,3,1,1,0,0,N,N,F,'benchmark label %06d'\r\nB126,110,1,2,5,80,0,0,'%06d'\r\n"
                      "BD10,10,800,400,O\r\nP1\r\n",
                      n, n);
        data += label;
    }
    return data;
}

std::set<DWORD> Threads()
{
    std::set<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return ids;
    THREADENTRY32 te;
    te.dwSize = sizeof te;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == GetCurrentProcessId())
            ids.insert(te.th32ThreadID);
    CloseHandle(snap);
    return ids;
}

// The bench's own HKLM: the installed prefix stays untouched and the libraries come from this build.
bool ScratchRegistry(const std::string& comDll)
{
    HKEY scratch = nullptr;
    std::string path = "Software\\VeskBench\\" + std::to_string(GetCurrentProcessId());
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch, nullptr))
        return false;
    RegDeleteTreeA(scratch, nullptr);
    if (RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch))
        return false;
    HKEY info = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\OLEforRetail\\ServiceInfo\\VESK OPOS", 0, nullptr, 0, KEY_WRITE,
                        nullptr, &info, nullptr))
        return false;
    RegSetValueExA(info, "comdir", 0, REG_SZ, reinterpret_cast<const BYTE*>(comDll.c_str()), DWORD(comDll.size() + 1));
    RegCloseKey(info);
    return true;
}

void DropScratchRegistry()
{
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\VeskBench\\" + std::to_string(GetCurrentProcessId())).c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\VeskBench\\" + std::to_string(GetCurrentProcessId())).c_str());
}

bool Received(vesksim::SimClient& sim, int ep, size_t n)
{
    return sim.waitFor(ep, "bytes", long(n), 120000);
}

// The start-up's current step; a start-up that takes longer than its bound ends the program
// with that step named, instead of a run that stalls with nothing said.
const char* volatile g_step = "connecting to the simulator";
HANDLE g_started = nullptr;
const DWORD kStartBoundMs = 180000;

DWORD WINAPI StartWatch(LPVOID)
{
    if (WaitForSingleObject(g_started, kStartBoundMs) == WAIT_TIMEOUT) {
        std::printf("qlnbench: the start-up stalled while %s (more than %lu s)\n", g_step,
                    (unsigned long)(kStartBoundMs / 1000));
        ExitProcess(3);
    }
    return 0;
}

} // namespace

int main()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    g_started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (HANDLE watch = CreateThread(nullptr, 0, StartWatch, nullptr, 0, nullptr))
        CloseHandle(watch);
    vesksim::SimClient sim;
    if (!sim.connected()) {
        std::printf("qlnbench: no simulator (VESK_SIM): %s\n", sim.error().c_str());
        return 2;
    }
    int comQ = 0, comP = 0;
    g_step = "making the serial endpoints";
    int epQ = sim.serial(&comQ), epP = sim.serial(&comP);
    if (epQ < 0 || epP < 0) {
        std::printf("qlnbench: no serial endpoints: %s\n", sim.error().c_str());
        return 2;
    }
    const std::string data = LabelData();
    std::printf("data           %u bytes of labels, %lu-byte writes\n", unsigned(data.size()), (unsigned long)kChunk);

    // Through Quillan and com.
    g_step = "loading Quillan";
    if (!ScratchRegistry(WinPath(COM_DLL_PATH)))
        return 2;
    HMODULE qln = LoadLibraryA(WinPath(QUILLAN_PATH).c_str());
    FnCreatePort CreatePort;
    FnRemovePort RemovePort;
    FnSetDeviceOption SetDeviceOption;
    FnIdDev OpenPort;
    FnClosePort ClosePort;
    FnWrite Write;
    FnNoArgs LoadChildDll, FreeChildDll;
    if (!qln || !Bind(qln, "CreatePort", CreatePort) || !Bind(qln, "RemovePort", RemovePort) ||
        !Bind(qln, "SetDeviceOption", SetDeviceOption) || !Bind(qln, "OpenPort", OpenPort) ||
        !Bind(qln, "ClosePort", ClosePort) || !Bind(qln, "Write", Write) || !Bind(qln, "LoadChildDll", LoadChildDll) ||
        !Bind(qln, "FreeChildDll", FreeChildDll)) {
        std::printf("qlnbench: cannot load Quillan\n");
        return 2;
    }
    LoadChildDll();
    g_step = "opening the port through Quillan";
    CString dev("BENCH"), port(("COM" + std::to_string(comQ)).c_str());
    int id = CreatePort(dev.AddRefHandle(), port.AddRefHandle(), 32);
    DeviceOption dop;
    memset(&dop, 0, sizeof dop);
    dop.strPortName = port.AddRefHandle();
    dop.dwBaudRate = 115200;
    dop.dwByteSize = 8;
    dop.dwFlowControl = 2;
    dop.dwReadIntervalTimeout = 2;
    dop.dwReadTotalTimeoutConstant = 50;
    dop.dwWriteTotalTimeoutMultiplier = 10;
    dop.dwWriteTotalTimeoutConstant = 5000;
    dop.dwInBufSize = 4096;
    dop.dwOutBufSize = 4096;
    std::set<DWORD> before = Threads();
    if (id == 0 || SetDeviceOption(dop, id, 32) == 0 || OpenPort(id, 32) == 0) {
        std::printf("qlnbench: cannot open %s through Quillan\n", port.GetString());
        return 2;
    }
    std::set<DWORD> after = Threads();
    SetEvent(g_started);

    double t0 = Now();
    for (size_t sent = 0; sent < data.size();) {
        DWORD len = DWORD(std::min<size_t>(kChunk, data.size() - sent));
        int w = Write(reinterpret_cast<const BYTE*>(data.data() + sent), len, id, 32);
        if (w <= 0) {
            std::printf("qlnbench: Write failed after %u bytes\n", unsigned(sent));
            return 1;
        }
        sent += size_t(w);
    }
    bool okQ = Received(sim, epQ, data.size());
    double quillan = Now() - t0;

    // A plain WriteFile loop on the same kind of port.
    std::string plainName = "\\\\.\\COM" + std::to_string(comP);
    HANDLE h = benchkit::OpenPlainCom(plainName);
    if (h == INVALID_HANDLE_VALUE) {
        std::printf("qlnbench: cannot open %s (%lu)\n", plainName.c_str(), GetLastError());
        return 2;
    }
    t0 = Now();
    for (size_t sent = 0; sent < data.size();) {
        DWORD len = DWORD(std::min<size_t>(kChunk, data.size() - sent)), w = 0;
        if (!WriteFile(h, data.data() + sent, len, &w, nullptr) || w == 0) {
            std::printf("qlnbench: WriteFile failed after %u bytes (%lu)\n", unsigned(sent), GetLastError());
            return 1;
        }
        sent += w;
    }
    bool okP = Received(sim, epP, data.size());
    double plain = Now() - t0;
    CloseHandle(h);

    double mb = double(data.size()) / 1e6;
    std::printf("Quillan + com  %8.2f MB/s  (%.3f s)%s\n", mb / quillan, quillan, okQ ? "" : "  INCOMPLETE");
    std::printf("plain WriteFile%8.2f MB/s  (%.3f s)%s\n", mb / plain, plain, okP ? "" : "  INCOMPLETE");
    std::printf("ratio          %8.3f  (Quillan + com rate / plain rate)\n", plain / quillan);

    // The open port idling: its read thread's CPU time over 10 s.
    HANDLE reader = nullptr;
    for (DWORD tid : after)
        if (!before.count(tid) && !reader)
            reader = OpenThread(THREAD_QUERY_INFORMATION, FALSE, tid);
    double p0 = ProcessCpuSeconds();
    double r0 = reader ? CpuSeconds(reader) : -1;
    Sleep(10000);
    double r1 = reader ? CpuSeconds(reader) : -1;
    double p1 = ProcessCpuSeconds();
    if (reader && r0 >= 0 && r1 >= 0)
        std::printf("idle 10 s      read thread %.3f s CPU (%.2f %%), whole process %.3f s\n", r1 - r0,
                    (r1 - r0) * 10.0, p1 - p0);
    else
        std::printf("idle 10 s      read thread not found; whole process %.3f s CPU\n", p1 - p0);
    if (reader)
        CloseHandle(reader);

    ClosePort(id, 32);
    RemovePort(32, id);
    FreeChildDll();
    FreeLibrary(qln);
    DropScratchRegistry();
    sim.closeEndpoint(epQ);
    sim.closeEndpoint(epP);
    return okQ && okP ? 0 : 1;
}
