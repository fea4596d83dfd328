// The scripted port manager as the Service Object will find it: by the `qlnadir` path, with the
// port manager's exports, answering from its script and recording each call.
#include "DeviceOption.h"
#include "Registry.h"
#include "ScriptQln.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include <string>
#include <vector>

namespace {

typedef int(WINAPI* CreatePortFn)(char*, char*, DWORD);
typedef int(WINAPI* SetDeviceOptionFn)(DeviceOption, int, DWORD);
typedef int(WINAPI* IdFn)(int, DWORD);
typedef void(WINAPI* VoidIdFn)(int, DWORD);
typedef int(WINAPI* WriteFn)(const BYTE*, DWORD, int, DWORD);
typedef int(WINAPI* ReadFn)(BYTE*, DWORD, DWORD, int, DWORD);
typedef int(WINAPI* AsbFn)(int*, int, DWORD);
typedef int(WINAPI* RemoveFn)(DWORD, int);
typedef int(WINAPI* NoArgFn)();

std::vector<std::string> Record(HMODULE m)
{
    auto count = Proc<ScriptCallCountFn>(m, "ScriptCallCount");
    auto call = Proc<ScriptCallFn>(m, "ScriptCall");
    std::vector<std::string> out;
    char buf[512];
    for (int i = 0; i < count(); ++i)
        if (call(i, buf, sizeof buf))
            out.push_back(buf);
    return out;
}

TEST(ScriptedPortManager, AnswersFromItsScriptAndRecordsEveryCall)
{
    CTestRegistry reg;
    reg.SetString("Software\\OLEforRetail\\ServiceInfo\\VESK OPOS", "qlnadir", WinPath(SCRIPTQLN_DLL).c_str());
    CString path;
    ASSERT_TRUE(CRegistry(HKEY_LOCAL_MACHINE).GetString("Software\\OLEforRetail\\ServiceInfo\\VESK OPOS", "qlnadir", path));
    HMODULE m = LoadLibraryA(path);
    ASSERT_NE(nullptr, m);
    const char* exports[] = {"SetDeviceOption", "OpenPort", "ClosePort", "Read", "ReadAvailable", "Write", "Clear",
                             "IsPowerState", "GetASBState", "CreatePort", "RemovePort", "FreeChildDll",
                             "LoadChildDll", "SetWrite"};
    for (const char* e : exports)
        EXPECT_NE(nullptr, GetProcAddress(m, e)) << e;
    Proc<ScriptResetFn>(m, "ScriptReset")();
    auto result = Proc<ScriptResultFn>(m, "ScriptResult");
    auto def = Proc<ScriptDefaultFn>(m, "ScriptDefault");
    auto bytes = Proc<ScriptReadBytesFn>(m, "ScriptReadBytes");
    auto frame = Proc<ScriptStatusFrameFn>(m, "ScriptStatusFrame");

    result(40000, "OpenPort", 0);  // the first open fails, later ones succeed
    result(40000, "Write", 3);     // a short write
    def(40000, "IsPowerState", 2003);
    result(40000, "IsPowerState", 2001);
    bytes(40000, reinterpret_cast<const BYTE*>("\x06Z"), 2);
    bytes(40001, reinterpret_cast<const BYTE*>("Q"), 1);  // another port's
    frame(40001, 0x5678);
    frame(40000, 0x1234);

    auto create = Proc<CreatePortFn>(m, "CreatePort");
    CString dev("LP1"), port("COM5");
    int id = create(dev.AddRefHandle(), port.AddRefHandle(), 32);
    EXPECT_EQ(40000, id);
    EXPECT_EQ(1, dev.GetRefCount());  // the library dropped the references it was given

    DeviceOption dop = {};
    dop.strPortName = port.AddRefHandle();
    dop.dwBaudRate = 9600;
    dop.dwByteSize = 8;
    dop.dwFlowControl = 2;
    EXPECT_EQ(1, Proc<SetDeviceOptionFn>(m, "SetDeviceOption")(dop, id, 32));
    EXPECT_EQ(1, port.GetRefCount());
    auto open = Proc<IdFn>(m, "OpenPort");
    EXPECT_EQ(0, open(id, 32));
    EXPECT_EQ(1, open(id, 32));
    EXPECT_EQ(3, Proc<WriteFn>(m, "Write")(reinterpret_cast<const BYTE*>("P1\r\n"), 4, id, 32));
    EXPECT_EQ(2, Proc<WriteFn>(m, "Write")(reinterpret_cast<const BYTE*>("AB"), 2, id, 32));
    EXPECT_EQ(2, Proc<IdFn>(m, "ReadAvailable")(id, 32));
    BYTE in[4] = {};
    EXPECT_EQ(1, Proc<ReadFn>(m, "Read")(in, 1, 5000, id, 32));
    EXPECT_EQ(0x06, in[0]);
    auto power = Proc<IdFn>(m, "IsPowerState");
    EXPECT_EQ(2001, power(id, 32));
    EXPECT_EQ(2003, power(id, 32));
    auto asb = Proc<AsbFn>(m, "GetASBState");
    int f = 0;
    EXPECT_EQ(1, asb(&f, id, 32));
    EXPECT_EQ(0x1234, f);
    EXPECT_EQ(0, asb(&f, id, 32));
    Proc<VoidIdFn>(m, "ClosePort")(id, 32);
    EXPECT_EQ(0, Proc<RemoveFn>(m, "RemovePort")(32, id));

    BYTE written[16] = {};
    EXPECT_EQ(5, Proc<ScriptWrittenFn>(m, "ScriptWritten")(written, sizeof written));
    EXPECT_EQ(std::string("P1\rAB"), std::string(reinterpret_cast<char*>(written), 5));

    std::vector<std::string> want = {
        "CreatePort(LP1, COM5, 32) = 40000",
        "SetDeviceOption(COM5, 9600, 8, 0, 0, 2, 0, 40000, 32) = 1",
        "OpenPort(40000, 32) = 0",
        "OpenPort(40000, 32) = 1",
        "Write(4, 40000, 32) = 3",
        "Write(2, 40000, 32) = 2",
        "ReadAvailable(40000, 32) = 2",
        "Read(1, 5000, 40000, 32) = 1",
        "IsPowerState(40000, 32) = 2001",
        "IsPowerState(40000, 32) = 2003",
        "GetASBState(40000, 32) = 1",
        "GetASBState(40000, 32) = 0",
        "ClosePort(40000, 32)",
        "RemovePort(32, 40000) = 0",
    };
    EXPECT_EQ(want, Record(m));
    FreeLibrary(m);
}

// The script as the tests use it, on a loaded library.
struct Scripted
{
    Scripted() : m(LoadLibraryA(WinPath(SCRIPTQLN_DLL).c_str())) { Proc<ScriptResetFn>(m, "ScriptReset")(); }
    ~Scripted() { FreeLibrary(m); }
    int Write(const char* text, int id) { return Proc<WriteFn>(m, "Write")(reinterpret_cast<const BYTE*>(text), DWORD(std::strlen(text)), id, 32); }
    int Read(int id, DWORD timeout, BYTE* b) { return Proc<ReadFn>(m, "Read")(b, 1, timeout, id, 32); }
    int Available(int id) { return Proc<IdFn>(m, "ReadAvailable")(id, 32); }
    HMODULE m;
};

TEST(ScriptedPortManager, EachPortKeepsItsOwnScript)
{
    Scripted s;
    ASSERT_NE(nullptr, s.m);
    auto result = Proc<ScriptResultFn>(s.m, "ScriptResult");
    auto def = Proc<ScriptDefaultFn>(s.m, "ScriptDefault");
    auto power = Proc<IdFn>(s.m, "IsPowerState");
    def(SCRIPT_ANY_PORT, "StatusAnswer", 0x40);
    def(40001, "StatusAnswer", 0x10);
    result(40000, "PowerCut", 2003);
    result(40000, "Write", 2);
    // A cut on one port: that port reads off line and answers nothing; the other is untouched.
    EXPECT_EQ(2, s.Write("a label", 40000));
    EXPECT_EQ(5, s.Write("^cu\r\n", 40000));
    EXPECT_EQ(5, s.Write("^cu\r\n", 40001));
    EXPECT_EQ(5, s.Write("^cu\r\n", 40002));
    EXPECT_EQ(2003, power(40000, 32));
    EXPECT_EQ(2001, power(40001, 32));
    EXPECT_EQ(0, s.Available(40000));
    BYTE b = 0;
    EXPECT_EQ(1, s.Read(40001, 0, &b));
    EXPECT_EQ(0x10, b);  // its own default before every port's
    EXPECT_EQ(1, s.Read(40002, 0, &b));
    EXPECT_EQ(0x40, b);
    // The port on line again answers again.
    def(40000, "IsPowerState", 2001);
    EXPECT_EQ(2001, power(40000, 32));
    EXPECT_EQ(5, s.Write("^cu\r\n", 40000));
    EXPECT_EQ(1, s.Available(40000));
}

TEST(ScriptedPortManager, ALateAnswerOutlivesAClearAndAReadWaitsForItWithinItsTime)
{
    Scripted s;
    ASSERT_NE(nullptr, s.m);
    Proc<ScriptDefaultFn>(s.m, "ScriptDefault")(40000, "StatusAnswer", 0x11);
    Proc<ScriptLateAnswerFn>(s.m, "ScriptLateAnswer")(40000, 2, 0x22, 1500);
    EXPECT_EQ(5, s.Write("^cu\r\n", 40000));  // the first: answered at once
    EXPECT_EQ(5, s.Write("^cu\r\n", 40000));  // the second: late
    EXPECT_EQ(1, s.Available(40000));
    Proc<VoidIdFn>(s.m, "Clear")(40000, 32);
    EXPECT_EQ(0, s.Available(40000));
    BYTE b = 0;
    EXPECT_EQ(0, s.Read(40000, 0, &b));  // not yet come
    EXPECT_EQ(1, s.Read(40000, 60000, &b));
    EXPECT_EQ(0x22, b);
    EXPECT_EQ(0, s.Read(40000, 60000, &b));  // nothing more on its way: no wait
}

// Notes the thread a hooked call runs on, and whether the port's stalled write had returned.
struct HookSeen
{
    static void WINAPI Run(void* c, int id, const char* call)
    {
        HookSeen* h = static_cast<HookSeen*>(c);
        h->thread = GetCurrentThreadId();
        h->writeReturned = h->returned.load();
        h->what = std::string(call) + " " + std::to_string(id);
    }
    std::atomic<bool> returned{false};
    DWORD thread = 0;
    bool writeReturned = true;
    std::string what;
};

TEST(ScriptedPortManager, AStallEndsAtTheCloseAStuckWriteDoesNot)
{
    struct Row
    {
        const char* call;
        int result;
        DWORD drawer;  // a second class holding the port open (0: none)
        DWORD closer;  // the class whose ClosePort comes while the label's write stalls
    } rows[] = {
        {"WriteStall", 0, 0, 32},
        {"WriteStuck", 7, 0, 32},
        {"WriteStall", 0, 2, 32},  // the label printer's close ends its write, the drawer keeps the port
        {"WriteStall", 7, 2, 2},   // the drawer's close leaves the label's write to its stall
    };
    for (const Row& r : rows) {
        Scripted s;
        ASSERT_NE(nullptr, s.m);
        if (r.drawer) {
            EXPECT_EQ(1, Proc<IdFn>(s.m, "OpenPort")(40000, 32));
            EXPECT_EQ(1, Proc<IdFn>(s.m, "OpenPort")(40000, r.drawer));
        }
        Proc<ScriptResultFn>(s.m, "ScriptResult")(40000, r.call, 3000);
        HookSeen seen;
        Proc<ScriptHookFn>(s.m, "ScriptHook")(40000, "ClosePort", &HookSeen::Run, &seen);
        int written = -1;
        std::thread writer([&] {
            written = s.Write("a label", 40000);
            seen.returned = true;
        });
        const int before = r.drawer ? 3 : 1;
        ASSERT_TRUE(WaitFor([&] { return Proc<ScriptCallCountFn>(s.m, "ScriptCallCount")() == before; }, 20000)) << r.call << " closed by " << r.closer;
        Proc<VoidIdFn>(s.m, "ClosePort")(40000, r.closer);
        writer.join();
        EXPECT_EQ(r.result, written) << r.call << " closed by " << r.closer;
        EXPECT_FALSE(seen.writeReturned) << r.call << " closed by " << r.closer;
        EXPECT_EQ(GetCurrentThreadId(), seen.thread) << r.call << " closed by " << r.closer;
        EXPECT_EQ("ClosePort 40000", seen.what) << r.call << " closed by " << r.closer;
    }
}

} // namespace
