// The port table and the fourteen exports, called across a real DLL boundary: plain export
// names found by GetProcAddress, __stdcall, the 80-byte DeviceOption record and string handles.
#include "DeviceOption.h"
#include "TestEnv.h"
#include "TestPort.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <thread>

static_assert(sizeof(DeviceOption) == 80, "80-byte record");
static_assert(offsetof(DeviceOption, strPortName) == 0, "layout");
static_assert(offsetof(DeviceOption, dwReserved) == 4, "layout");
static_assert(offsetof(DeviceOption, dwBaudRate) == 8, "layout");
static_assert(offsetof(DeviceOption, dwByteSize) == 12, "layout");
static_assert(offsetof(DeviceOption, dwStopBits) == 16, "layout");
static_assert(offsetof(DeviceOption, dwParity) == 20, "layout");
static_assert(offsetof(DeviceOption, dwFlowControl) == 24, "layout");
static_assert(offsetof(DeviceOption, dwReadIntervalTimeout) == 28, "layout");
static_assert(offsetof(DeviceOption, dwReadTotalTimeoutMultiplier) == 32, "layout");
static_assert(offsetof(DeviceOption, dwReadTotalTimeoutConstant) == 36, "layout");
static_assert(offsetof(DeviceOption, dwWriteTotalTimeoutMultiplier) == 40, "layout");
static_assert(offsetof(DeviceOption, dwWriteTotalTimeoutConstant) == 44, "layout");
static_assert(offsetof(DeviceOption, dwInBufSize) == 48, "layout");
static_assert(offsetof(DeviceOption, dwOutBufSize) == 52, "layout");
static_assert(offsetof(DeviceOption, dwUsingBT) == 56, "layout");
static_assert(offsetof(DeviceOption, dwBtStackType) == 60, "layout");
static_assert(offsetof(DeviceOption, dwWireless) == 64, "layout");
static_assert(offsetof(DeviceOption, dwTcpTimeout) == 68, "layout");
static_assert(offsetof(DeviceOption, dwConnTimeout) == 72, "layout");
static_assert(offsetof(DeviceOption, dwConnRetryCount) == 76, "layout");

namespace {

typedef int(WINAPI* CreatePortFn)();
typedef int(WINAPI* CreatePort4LogFn)(DWORD, DWORD, char*);
typedef int(WINAPI* SetDeviceOptionFn)(int, DeviceOption, DWORD);
typedef int(WINAPI* OpenPortFn)(int, DWORD);
typedef void(WINAPI* ClosePortFn)(int, DWORD);
typedef int(WINAPI* DeletePortFn)(int);
typedef int(WINAPI* WriteFn)(const BYTE*, int, int, DWORD);
typedef int(WINAPI* ReadFn)(BYTE*, int, DWORD, int, DWORD);
typedef int(WINAPI* ReadAvailableFn)(int, DWORD);
typedef void(WINAPI* ClearFn)(int, DWORD);
typedef int(WINAPI* IsPowerStateFn)(int, DWORD);
typedef int(WINAPI* GetASBStateFn)(int*, int, DWORD);
typedef int(WINAPI* SetWriteFn)(int, int, DWORD);
typedef void*(WINAPI* SetObjectFn)(int);

const char* const kExports[] = {"SetDeviceOption", "OpenPort", "ClosePort", "Read", "ReadAvailable",
                                "Write", "Clear", "IsPowerState", "GetASBState", "SetObject",
                                "CreatePort", "CreatePort4Log", "DeletePort", "SetWrite", "SetStatusEvent", "CancelWrites"};

// One loaded port library; unloading it discards its table, so each test starts fresh.
struct PortLib
{
    explicit PortLib(const char* kind)
    {
        std::string path = TestBinDir() + "\\testport_" + kind + ".dll";
        h = LoadLibraryA(path.c_str());
        if (!h)
            return;
        Bind(CreatePort, "CreatePort");
        Bind(CreatePort4Log, "CreatePort4Log");
        Bind(SetDeviceOption, "SetDeviceOption");
        Bind(OpenPort, "OpenPort");
        Bind(ClosePort, "ClosePort");
        Bind(DeletePort, "DeletePort");
        Bind(Write, "Write");
        Bind(Read, "Read");
        Bind(ReadAvailable, "ReadAvailable");
        Bind(Clear, "Clear");
        Bind(IsPowerState, "IsPowerState");
        Bind(GetASBState, "GetASBState");
        Bind(SetWrite, "SetWrite");
        Bind(SetObject, "SetObject");
    }
    ~PortLib()
    {
        if (h)
            FreeLibrary(h);
    }
    template <class F>
    void Bind(F& f, const char* name)
    {
        f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(h, name)));
        if (!f)
            missing++;
    }
    CTestPort* Port(int id) { return static_cast<CTestPort*>(SetObject(id)); }

    HMODULE h = nullptr;
    int missing = 0;
    CreatePortFn CreatePort;
    CreatePort4LogFn CreatePort4Log;
    SetDeviceOptionFn SetDeviceOption;
    OpenPortFn OpenPort;
    ClosePortFn ClosePort;
    DeletePortFn DeletePort;
    WriteFn Write;
    ReadFn Read;
    ReadAvailableFn ReadAvailable;
    ClearFn Clear;
    IsPowerStateFn IsPowerState;
    GetASBStateFn GetASBState;
    SetWriteFn SetWrite;
    SetObjectFn SetObject;
};

#define LOAD(lib, kind)                                  \
    PortLib lib(kind);                                   \
    ASSERT_NE(lib.h, nullptr) << "testport_" kind ".dll"; \
    ASSERT_EQ(lib.missing, 0)

// The names in the library's export directory.
std::set<std::string> ExportNames(HMODULE h)
{
    std::set<std::string> names;
    const BYTE* base = reinterpret_cast<const BYTE*>(h);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (!dir.VirtualAddress)
        return names;
    const IMAGE_EXPORT_DIRECTORY* exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const DWORD* nameRvas = reinterpret_cast<const DWORD*>(base + exp->AddressOfNames);
    for (DWORD i = 0; i < exp->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char*>(base + nameRvas[i]));
    return names;
}

// Calls f and reports whether the stack pointer came back where it was: a __stdcall callee pops
// its own arguments, a mismatch in the calling convention leaves the stack off by their size.
template <class F>
bool StackBalanced(F f)
{
    void* before;
    void* after;
    __asm__ __volatile__("mov %%esp, %0" : "=r"(before)::"memory");
    f();
    __asm__ __volatile__("mov %%esp, %0" : "=r"(after)::"memory");
    return before == after;
}

DeviceOption SampleOption(const CString& name)
{
    DeviceOption d;
    DWORD* words = reinterpret_cast<DWORD*>(&d);
    for (int i = 1; i < 20; ++i)
        words[i] = DWORD(0x01010101u * DWORD(i));
    d.strPortName = name.AddRefHandle();  // the copy a by-value call carries
    return d;
}

} // namespace

TEST(PortExports, PlainNamesOnly)
{
    LOAD(lib, "com");
    std::set<std::string> want(std::begin(kExports), std::end(kExports));
    EXPECT_EQ(ExportNames(lib.h), want);
}

TEST(PortExports, EveryExportFailsBeforeAnyPortExists)
{
    LOAD(lib, "com");
    BYTE buf[8] = {};
    int asb = 77;
    CString name("COM1");
    EXPECT_EQ(lib.OpenPort(10000, 32), 0);
    EXPECT_EQ(lib.Write(buf, 8, 10000, 32), 0);
    EXPECT_EQ(lib.Read(buf, 8, 100, 10000, 32), 0);
    EXPECT_EQ(lib.ReadAvailable(10000, 32), 0);
    EXPECT_EQ(lib.IsPowerState(10000, 32), 0);
    EXPECT_EQ(lib.GetASBState(&asb, 10000, 32), 0);
    EXPECT_EQ(asb, 77);
    EXPECT_EQ(lib.SetWrite(1, 10000, 32), 0);
    EXPECT_EQ(lib.SetDeviceOption(10000, SampleOption(name), 32), 0);
    EXPECT_EQ(name.GetRefCount(), 1);  // the record's reference is released even so
    EXPECT_EQ(lib.DeletePort(10000), 0);
    EXPECT_EQ(lib.SetObject(10000), nullptr);
    lib.ClosePort(10000, 32);
    lib.Clear(10000, 32);
}

TEST(PortExports, StdcallAcrossTheBoundary)
{
    LOAD(lib, "com");
    int id = 0;
    EXPECT_TRUE(StackBalanced([&] { id = lib.CreatePort(); }));
    BYTE buf[4] = {1, 2, 3, 4};
    int r = 0;
    EXPECT_TRUE(StackBalanced([&] { r = lib.Write(buf, 4, id, 32); }));
    EXPECT_EQ(r, 4);
    EXPECT_TRUE(StackBalanced([&] { r = lib.Read(buf, 4, 250, id, 32); }));
    EXPECT_EQ(r, 3);
    CString name("COM9");
    EXPECT_TRUE(StackBalanced([&] { r = lib.SetDeviceOption(id, SampleOption(name), 32); }));
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(StackBalanced([&] { lib.ClosePort(id, 32); }));
    EXPECT_TRUE(StackBalanced([&] { r = lib.DeletePort(id); }));
    EXPECT_EQ(r, 1);
}

// The port log's class tag of these lines comes from the caller's DevType.
TEST(PortExports, StateQueriesPassTheDevTypeOn)
{
    LOAD(lib, "com");
    int id = lib.CreatePort();
    CTestPort* port = lib.Port(id);
    ASSERT_NE(port, nullptr);
    const struct
    {
        const char* call;
        DWORD devType;
    } cases[] = {{"IsPowerState", 8}, {"ReadAvailable", 2}, {"Clear", 16}, {"IsPowerState", 32}};
    for (const auto& c : cases) {
        std::string call = c.call;
        if (call == "IsPowerState")
            EXPECT_EQ(lib.IsPowerState(id, c.devType), PS_ONLINE);
        else if (call == "ReadAvailable")
            EXPECT_EQ(lib.ReadAvailable(id, c.devType), 7);
        else
            lib.Clear(id, c.devType);
        EXPECT_EQ(port->m_lastDevType, c.devType) << call;
    }
    EXPECT_EQ(lib.DeletePort(id), 1);
}

TEST(PortExports, IdsPerLibraryNeverReused)
{
    LOAD(com, "com");
    LOAD(usb, "usb");
    LOAD(net, "net");
    EXPECT_EQ(com.CreatePort(), 10000);
    EXPECT_EQ(com.CreatePort(), 10001);
    EXPECT_EQ(com.DeletePort(10000), 1);
    EXPECT_EQ(com.DeletePort(10000), 0);
    EXPECT_EQ(com.CreatePort(), 10002);
    CString dir("C:\\VESK");
    EXPECT_EQ(com.CreatePort4Log(0, 0, dir.AddRefHandle()), 10003);
    // The other libraries count from their own bases, whatever com has done.
    EXPECT_EQ(usb.CreatePort(), 30000);
    EXPECT_EQ(net.CreatePort4Log(0, 0, dir.AddRefHandle()), 40000);
    EXPECT_EQ(net.CreatePort(), 40001);
    EXPECT_EQ(usb.CreatePort(), 30001);
    EXPECT_EQ(com.Port(10003)->m_portIndex, 10003);
    EXPECT_EQ(com.Port(10002)->m_portIndex, 0);  // plain CreatePort: no log index
    for (int id : {10001, 10002, 10003})
        EXPECT_EQ(com.DeletePort(id), 1);
    for (int id : {30000, 30001})
        EXPECT_EQ(usb.DeletePort(id), 1);
    for (int id : {40000, 40001})
        EXPECT_EQ(net.DeletePort(id), 1);
    EXPECT_EQ(dir.GetRefCount(), 1);
}

TEST(PortExports, DeviceOptionCrossesIntactAndTheNameIsBalanced)
{
    LOAD(lib, "com");
    int id = lib.CreatePort();
    CTestPort* port = lib.Port(id);
    ASSERT_NE(port, nullptr);
    CString name("COM12");
    DeviceOption d = SampleOption(name);
    DeviceOption sent = d;
    EXPECT_EQ(lib.SetDeviceOption(id, d, 32), 1);
    EXPECT_EQ(std::memcmp(&port->m_dop, &sent, sizeof sent), 0);  // all 80 bytes as sent
    EXPECT_EQ(port->m_dop.strPortName, name.GetString());          // the handle is the pointer
    EXPECT_EQ(port->m_nameRefsInCall, 2);                          // ours and the record's
    EXPECT_EQ(port->m_portName, "COM12");
    EXPECT_EQ(port->m_lastDevType, 32u);
    EXPECT_EQ(name.GetRefCount(), 2);  // ours and the port's own copy
    EXPECT_EQ(lib.DeletePort(id), 1);
    EXPECT_EQ(name.GetRefCount(), 1);

    // An empty name fails and is still released.
    id = lib.CreatePort();
    CString empty;
    EXPECT_EQ(lib.SetDeviceOption(id, SampleOption(empty), 1), 0);
    DeviceOption none = SampleOption(empty);
    none.strPortName = nullptr;
    EXPECT_EQ(lib.SetDeviceOption(id, none, 1), 0);
    EXPECT_EQ(lib.DeletePort(id), 1);
}

TEST(PortExports, CreatePort4LogHandsOverTheFolderAndReleasesIt)
{
    LOAD(lib, "com");
    CString dir("C:\\Program Files (x86)\\VESK OPOS");
    int id = lib.CreatePort4Log(1, 3, dir.AddRefHandle());
    CTestPort* port = lib.Port(id);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->m_useBinary, 1u);
    EXPECT_EQ(port->m_usePortLog, 3u);
    EXPECT_EQ(port->m_installPath, dir);
    EXPECT_EQ(dir.GetRefCount(), 2);  // ours and the port's
    EXPECT_EQ(lib.DeletePort(id), 1);
    EXPECT_EQ(dir.GetRefCount(), 1);
    id = lib.CreatePort4Log(0, 1, nullptr);
    EXPECT_TRUE(lib.Port(id)->m_installPath.IsEmpty());
    EXPECT_EQ(lib.DeletePort(id), 1);
}

TEST(PortExports, CallsReachTheirOwnPortAndAMissReachesNone)
{
    LOAD(lib, "com");
    int a = lib.CreatePort();
    int b = lib.CreatePort();
    CTestPort* pa = lib.Port(a);
    CTestPort* pb = lib.Port(b);
    BYTE x[3] = {'a', 'b', 'c'};
    EXPECT_EQ(lib.Write(x, 3, a, 32), 3);
    EXPECT_EQ(pa->m_written, 3);
    EXPECT_EQ(pb->m_written, 0);
    LONG callsA = pa->m_calls, callsB = pb->m_calls;
    // Unknown ids fail with the failure value and touch no port, not even the last one used.
    BYTE buf[4];
    int asb = -1;
    EXPECT_EQ(lib.Write(x, 3, 99999, 32), 0);
    EXPECT_EQ(lib.Read(buf, 4, 10, 99999, 32), 0);
    EXPECT_EQ(lib.OpenPort(99999, 32), 0);
    EXPECT_EQ(lib.ReadAvailable(99999, 32), 0);
    EXPECT_EQ(lib.IsPowerState(99999, 32), 0);
    EXPECT_EQ(lib.GetASBState(&asb, 99999, 32), 0);
    EXPECT_EQ(asb, -1);
    EXPECT_EQ(lib.SetWrite(1, 99999, 32), 0);
    lib.ClosePort(99999, 32);
    lib.Clear(99999, 32);
    EXPECT_EQ(lib.SetObject(99999), nullptr);
    EXPECT_EQ(pa->m_calls, callsA);
    EXPECT_EQ(pb->m_calls, callsB);
    EXPECT_EQ(pa->m_written, 3);

    // Forwarded results and arguments.
    EXPECT_EQ(lib.OpenPort(b, 4), 1);
    EXPECT_TRUE(pb->m_open);
    EXPECT_FALSE(pa->m_open);
    EXPECT_EQ(lib.SetWrite(1, b, 4), 1);
    EXPECT_EQ(lib.SetWrite(1, a, 4), 0);
    EXPECT_EQ(lib.IsPowerState(b, 4), PS_ONLINE);
    EXPECT_EQ(lib.ReadAvailable(b, 4), 7);
    EXPECT_EQ(lib.GetASBState(&asb, b, 8), 1);
    EXPECT_EQ(asb, 0x10);
    EXPECT_EQ(pb->m_lastDevType, 8u);
    EXPECT_EQ(lib.Read(buf, 4, 1234, b, 2), 3);
    EXPECT_EQ(pb->m_lastTimeout, 1234u);
    // Bad buffers never reach a port.
    callsB = pb->m_calls;
    EXPECT_EQ(lib.Write(nullptr, 3, b, 32), 0);
    EXPECT_EQ(lib.Write(x, 0, b, 32), 0);
    EXPECT_EQ(lib.Write(x, -1, b, 32), 0);
    EXPECT_EQ(lib.Read(nullptr, 4, 10, b, 32), 0);
    EXPECT_EQ(lib.Read(buf, 0, 10, b, 32), 0);
    EXPECT_EQ(lib.Read(buf, -4, 10, b, 32), 0);
    EXPECT_EQ(lib.GetASBState(nullptr, b, 32), 0);
    EXPECT_EQ(pb->m_calls, callsB);

    // Deleting the port used last: a miss still reaches nothing.
    EXPECT_EQ(lib.DeletePort(b), 1);
    EXPECT_EQ(lib.Write(x, 3, b, 32), 0);
    EXPECT_EQ(pa->m_written, 3);
    EXPECT_EQ(lib.DeletePort(a), 1);
}

TEST(PortExports, DeletePortClosesAnOpenPortFirst)
{
    LOAD(lib, "com");
    TestPortJournal journal = {};
    int open = lib.CreatePort();
    int closed = lib.CreatePort();
    lib.Port(open)->m_journal = &journal;
    lib.Port(closed)->m_journal = &journal;
    EXPECT_EQ(lib.OpenPort(open, 32), 1);
    EXPECT_EQ(lib.DeletePort(open), 1);
    EXPECT_EQ(journal.closedWhileOpen, 1);
    EXPECT_EQ(journal.destroyed, 1);
    EXPECT_EQ(lib.DeletePort(closed), 1);
    EXPECT_EQ(journal.closedWhileOpen, 1);
    EXPECT_EQ(journal.destroyed, 2);
}

TEST(PortExports, PollingOnePortNeverRedirectsAnotherPortsWrites)
{
    LOAD(lib, "com");
    int printer = lib.CreatePort();
    int other = lib.CreatePort();
    CTestPort* pp = lib.Port(printer);
    CTestPort* po = lib.Port(other);
    const int kWrites = 4000;
    volatile LONG stop = 0;
    std::thread poller([&] {
        int asb = 0;
        BYTE buf[4];
        while (!stop) {
            lib.GetASBState(&asb, other, 32);
            lib.IsPowerState(other, 32);
            lib.ReadAvailable(other, 32);
            lib.Read(buf, 4, 0, other, 32);
            lib.Write(reinterpret_cast<const BYTE*>("o"), 1, 99999, 32);  // misses go nowhere
            // Ports come and go meanwhile.
            int temp = lib.CreatePort();
            lib.DeletePort(temp);
        }
    });
    BYTE label[8] = {'L', 'A', 'B', 'E', 'L', '-', 'P', '1'};
    int total = 0;
    for (int i = 0; i < kWrites; ++i)
        total += lib.Write(label, 8, printer, 32);
    InterlockedExchange(&stop, 1);
    poller.join();
    EXPECT_EQ(total, kWrites * 8);
    EXPECT_EQ(pp->m_writes, kWrites);
    EXPECT_EQ(po->m_writes, 0);
    EXPECT_EQ(po->m_written, 0);
    bool allLabel = true;
    for (int i = 0; i < pp->m_written; ++i)
        allLabel = allLabel && pp->m_bytes[i] == label[i % 8];
    EXPECT_TRUE(allLabel);
    EXPECT_EQ(lib.DeletePort(printer), 1);
    EXPECT_EQ(lib.DeletePort(other), 1);
}

TEST(PortExports, ALongCallHoldsUpNoOtherPortAndDeletePortWaitsForIt)
{
    LOAD(lib, "com");
    TestPortJournal journal = {};
    int slow = lib.CreatePort();
    int other = lib.CreatePort();
    CTestPort* ps = lib.Port(slow);
    ps->m_journal = &journal;
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ps->m_readGate = gate;
    volatile LONG readDone = 0;
    std::thread reader([&] {
        BYTE buf[4];
        lib.Read(buf, 4, 60000, slow, 32);
        InterlockedExchange(&readDone, 1);
    });
    ASSERT_TRUE(WaitFor([&] { return ps->m_reading == 1; }, 30000));

    // Everything else goes on while the read waits.
    volatile LONG othersDone = 0;
    std::thread others([&] {
        BYTE x[2] = {'o', 'k'};
        lib.Write(x, 2, other, 32);
        int fresh = lib.CreatePort();
        lib.DeletePort(fresh);
        lib.DeletePort(other);
        InterlockedExchange(&othersDone, 1);
    });
    bool othersFinished = WaitFor([&] { return othersDone == 1; }, 30000);
    EXPECT_TRUE(othersFinished);
    EXPECT_EQ(readDone, 0);

    // Deleting the port under the read waits until the read has returned. Once the port is
    // unlinked DeletePort is in its wait (or past it); the port counts a destruction under the
    // read.
    volatile LONG deleted = 0;
    std::thread deleter([&] {
        lib.DeletePort(slow);
        InterlockedExchange(&deleted, 1);
    });
    EXPECT_TRUE(WaitFor([&] { return lib.SetObject(slow) == nullptr; }, 30000));
    EXPECT_EQ(deleted, 0);
    SetEvent(gate);
    EXPECT_TRUE(WaitFor([&] { return deleted == 1; }, 30000));
    reader.join();
    others.join();
    deleter.join();
    EXPECT_EQ(readDone, 1);
    EXPECT_EQ(journal.destroyed, 1);
    EXPECT_EQ(journal.destroyedUnderCall, 0);
    EXPECT_EQ(lib.SetObject(slow), nullptr);
    CloseHandle(gate);
}

// A call whose thread was ended by force never returns: DeletePort still returns, after its
// bound, and leaves that port undestroyed rather than freed under the call.
struct ForcedCall
{
    PortLib* lib;
    int id;
    static DWORD WINAPI Read(LPVOID arg)
    {
        ForcedCall* c = static_cast<ForcedCall*>(arg);
        BYTE buf[4];
        c->lib->Read(buf, 4, 60000, c->id, 32);
        return 0;
    }
    static DWORD WINAPI Delete(LPVOID arg)
    {
        ForcedCall* c = static_cast<ForcedCall*>(arg);
        c->lib->DeletePort(c->id);
        return 0;
    }
};

TEST(PortExports, DeletePortReturnsWhenACallsThreadWasEndedByForce)
{
    LOAD(lib, "com");
    TestPortJournal journal = {};
    int id = lib.CreatePort();
    CTestPort* p = lib.Port(id);
    p->m_journal = &journal;
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    p->m_readGate = gate;
    ForcedCall call = {&lib, id};
    HANDLE reader = CreateThread(nullptr, 0, ForcedCall::Read, &call, 0, nullptr);
    ASSERT_TRUE(reader);
    ASSERT_TRUE(WaitFor([&] { return p->m_reading == 1; }, 30000));
    ASSERT_TRUE(TerminateThread(reader, 1));
    WaitForSingleObject(reader, 30000);
    CloseHandle(reader);

    HANDLE deleter = CreateThread(nullptr, 0, ForcedCall::Delete, &call, 0, nullptr);
    ASSERT_TRUE(deleter);
    // A DeletePort that waits for the call without bound never returns.
    bool returned = WaitForSingleObject(deleter, 60000) == WAIT_OBJECT_0;
    EXPECT_TRUE(returned);
    if (returned)
        CloseHandle(deleter);
    EXPECT_EQ(journal.destroyed, 0);
    EXPECT_EQ(lib.SetObject(id), nullptr);
    CloseHandle(gate);
}
