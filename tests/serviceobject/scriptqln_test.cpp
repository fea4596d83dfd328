// The scripted port manager as the Service Object will find it: by the `qlnadir` path, with the
// port manager's exports, answering from its script and recording each call.
#include "DeviceOption.h"
#include "Registry.h"
#include "ScriptQln.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

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

    result("OpenPort", 0);  // the first open fails, later ones succeed
    result("Write", 3);     // a short write
    def("IsPowerState", 2003);
    result("IsPowerState", 2001);
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

} // namespace
