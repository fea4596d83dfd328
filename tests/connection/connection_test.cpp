// Port connections: one per port name in the process, the port manager loaded and released with
// them, and the status thread that hands frames and power states to the device.
#include "Registry.h"
#include "ScriptQln.h"
#include "State.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// The scripted port manager as the test drives it.
struct Script
{
    Script()
    {
        module = LoadLibraryA(WinPath(SCRIPTQLN_PATH).c_str());
        reset = Fn<ScriptResetFn>("ScriptReset");
        result = Fn<ScriptResultFn>("ScriptResult");
        def = Fn<ScriptDefaultFn>("ScriptDefault");
        frame = Fn<ScriptStatusFrameFn>("ScriptStatusFrame");
        count = Fn<ScriptCallCountFn>("ScriptCallCount");
        call = Fn<ScriptCallFn>("ScriptCall");
        if (reset)
            reset();
    }
    ~Script()
    {
        if (module)
            FreeLibrary(module);
    }
    template <class T>
    T Fn(const char* name)
    {
        return module ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
    }
    std::vector<std::string> Calls(const std::string& prefix = "")
    {
        std::vector<std::string> out;
        int n = count();
        for (int i = 0; i < n; ++i) {
            char text[1024];
            if (call(i, text, sizeof text) && std::string(text).compare(0, prefix.size(), prefix) == 0)
                out.push_back(text);
        }
        return out;
    }
    size_t Count(const std::string& prefix) { return Calls(prefix).size(); }

    HMODULE module = nullptr;
    ScriptResetFn reset = nullptr;
    ScriptResultFn result = nullptr;
    ScriptDefaultFn def = nullptr;
    ScriptStatusFrameFn frame = nullptr;
    ScriptCallCountFn count = nullptr;
    ScriptCallFn call = nullptr;
};

class Receiver : public IStatusReceiver
{
public:
    explicit Receiver(const char* port)
    {
        std::memset(&dop, 0, sizeof dop);
        dop.strPortName = CString(port).AddRefHandle();
    }
    ~Receiver() override { DeviceOptionRelease(dop); }
    void ProcessStatusBytes(const BYTE* f) override
    {
        std::lock_guard<std::mutex> l(m);
        frames.push_back(f[0] | f[1] << 8 | f[2] << 16 | f[3] << 24);
    }
    void OnPortPowerState(int p) override
    {
        std::lock_guard<std::mutex> l(m);
        powers.push_back(p);
    }
    const DeviceOption& GetStatusDeviceOption() const override { return dop; }
    std::vector<int> Powers()
    {
        std::lock_guard<std::mutex> l(m);
        return powers;
    }
    std::vector<int> Frames()
    {
        std::lock_guard<std::mutex> l(m);
        return frames;
    }

    DeviceOption dop;
    std::mutex m;
    std::vector<int> frames, powers;
};

class ConnectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, script.module);
        hklm.SetString(VESK_SERVICEINFO_KEY, "qlnadir", WinPath(SCRIPTQLN_PATH).c_str());
    }
    void TearDown() override { EXPECT_EQ(0, ConnectionCount()); }

    CTestRegistry hklm;
    Script script;
};

TEST_F(ConnectionTest, OneConnectionPerPortNameSharedByClasses)
{
    script.result(SCRIPT_MANAGER, "CreatePort", 40001);
    int id = CreateState("DEV", "127.0.0.1", 32);
    ASSERT_EQ(40001, id);
    EXPECT_EQ(0, CreateState("DEV2", "127.0.0.1", 32));  // this class holds the port already
    script.result(SCRIPT_MANAGER, "CreatePort", 40001);
    EXPECT_EQ(40001, CreateState("DRAWER", "127.0.0.1", 2));
    EXPECT_EQ(1, ConnectionCount());
    EXPECT_EQ(1u, script.Count("LoadChildDll"));
    ConnectionEntry* e = FindConnection(id);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(34u, e->dwDevTypes);

    EXPECT_EQ(0, DeleteState(3, id));  // two bits at once
    EXPECT_EQ(0, DeleteState(32, 12345));
    script.result(id, "RemovePort", 32);
    EXPECT_EQ(1, DeleteState(2, id));
    EXPECT_EQ(0u, script.Count("FreeChildDll"));
    script.result(id, "RemovePort", 0);
    EXPECT_EQ(1, DeleteState(32, id));
    EXPECT_EQ(1u, script.Count("FreeChildDll"));
    EXPECT_EQ(0, ConnectionCount());
    EXPECT_EQ((std::vector<std::string>{"RemovePort(2, 40001) = 32", "RemovePort(32, 40001) = 0"}),
              script.Calls("RemovePort"));

    // A port manager that refuses the removal keeps the connection.
    script.result(SCRIPT_MANAGER, "CreatePort", 40002);
    id = CreateState("DEV", "COM5", 32);
    script.result(id, "RemovePort", -1);
    EXPECT_EQ(0, DeleteState(32, id));
    EXPECT_EQ(1, ConnectionCount());
    EXPECT_EQ(1, DeleteState(32, id));
}

TEST_F(ConnectionTest, FailedPortsKeepNothing)
{
    script.result(SCRIPT_MANAGER, "CreatePort", 0);
    EXPECT_EQ(0, CreateState("DEV", "127.0.0.1", 32));
    EXPECT_EQ(0, ConnectionCount());  // the port name is not blocked for later opens
    EXPECT_EQ(1u, script.Count("FreeChildDll"));

    script.result(SCRIPT_MANAGER, "CreatePort", 40005);
    ASSERT_EQ(40005, CreateState("DEV", "127.0.0.1", 32));
    // A second class given another port than the connection's counts as failed and gives it back.
    script.result(SCRIPT_MANAGER, "CreatePort", 40006);
    EXPECT_EQ(0, CreateState("DRAWER", "127.0.0.1", 2));
    EXPECT_EQ(std::vector<std::string>{"RemovePort(2, 40006) = 0"}, script.Calls("RemovePort(2"));
    EXPECT_EQ(32u, FindConnection(40005)->dwDevTypes);
    EXPECT_EQ(1, DeleteState(32, 40005));

    hklm.SetString(VESK_SERVICEINFO_KEY, "qlnadir", "C:\\nowhere\\Quillan.dll");
    hklm.SetString(VESK_SERVICEINFO_KEY, "qlndir", "");
    EXPECT_EQ(0, CreateState("DEV", "127.0.0.1", 32));
    // The fallback value names the library when the first is empty.
    hklm.SetString(VESK_SERVICEINFO_KEY, "qlnadir", "");
    hklm.SetString(VESK_SERVICEINFO_KEY, "qlndir", WinPath(SCRIPTQLN_PATH).c_str());
    int id = CreateState("DEV", "127.0.0.1", 32);
    EXPECT_NE(0, id);
    EXPECT_EQ(1, DeleteState(32, id));
}

TEST_F(ConnectionTest, StatusThreadHandsOnFramesAndPowerStates)
{
    script.def(SCRIPT_ANY_PORT, "IsPowerState", 2000);
    int id = CreateState("DEV", "COM5", 32);
    ConnectionEntry* e = FindConnection(id);
    ASSERT_NE(nullptr, e);
    Receiver r("COM5");
    e->pState->SetStatusReceiver(&r);
    EXPECT_FALSE(e->pState->StatusThreadRunning());

    script.frame(id, 0x11223344);
    ASSERT_TRUE(e->pState->Open(32, r.dop));
    EXPECT_TRUE(e->pState->StatusThreadRunning());
    EXPECT_TRUE(WaitFor([&] { return !r.Frames().empty(); }));
    EXPECT_EQ(std::vector<int>{0x11223344}, r.Frames());

    // Undecided is not off-line; 2004 is reported as off-line; each change once.
    const int states[] = {0, 2001, 2003, 2004, 2001};
    for (int s : states) {
        script.def(id, "IsPowerState", s);
        size_t polls = script.Count("IsPowerState");
        ASSERT_TRUE(WaitFor([&] { return script.Count("IsPowerState") > polls + 1; }));
    }
    EXPECT_EQ((std::vector<int>{2001, 2003, 2003, 2001}), r.Powers());

    // A second class on the open port starts no second thread and hands no settings again.
    // The port manager still hears of each class, so that a class's close ends its own writes.
    ASSERT_TRUE(e->pState->Open(2, r.dop));
    EXPECT_EQ(1u, script.Count("SetDeviceOption"));
    EXPECT_EQ(2u, script.Count("OpenPort"));
    EXPECT_FALSE(e->pState->Close(2));  // still open for the label printer
    EXPECT_EQ(1u, script.Count("ClosePort"));
    EXPECT_TRUE(e->pState->StatusThreadRunning());
    EXPECT_TRUE(e->pState->Close(32));
    EXPECT_FALSE(e->pState->StatusThreadRunning());
    EXPECT_EQ(2u, script.Count("ClosePort"));
    EXPECT_FALSE(e->pState->Close(32));
    // Wrappers on a closed port call nothing.
    size_t calls = script.Calls().size();
    BYTE buf[4] = {};
    EXPECT_EQ(0, e->pState->Write(buf, 4, 32));
    EXPECT_EQ(0, e->pState->Read(buf, 4, 32, 100));
    EXPECT_EQ(calls, script.Calls().size());
    e->pState->SetStatusReceiver(nullptr);
    EXPECT_EQ(1, DeleteState(32, id));
}

TEST_F(ConnectionTest, NetworkPortsArePolledMoreOftenThanSerialParallelAndUsbOnes)
{
    // Each kind beside a network port, which is polled more often in the same time.
    const char* const others[] = {"COM7", "LPT1",
                                  "\\\\?\\usb#vid_0dd4&pid_0186#5&1a2b3c&0&1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}"};
    for (const char* other : others) {
        int net = CreateState("NET", "127.0.0.1", 32);
        int oth = CreateState("OTHER", other, 32);
        ASSERT_NE(0, oth) << other;
        Receiver rn("127.0.0.1"), rc(other);
        FindConnection(net)->pState->SetStatusReceiver(&rn);
        FindConnection(oth)->pState->SetStatusReceiver(&rc);
        ASSERT_TRUE(FindConnection(net)->pState->Open(32, rn.dop));
        ASSERT_TRUE(FindConnection(oth)->pState->Open(32, rc.dop));
        auto polls = [&](int id) { return script.Count("GetASBState(" + std::to_string(id) + ","); };
        size_t n0 = polls(net), c0 = polls(oth);
        ASSERT_TRUE(WaitFor([&] { return polls(oth) >= c0 + 6; }, 30000)) << other;
        size_t n1 = polls(net), c1 = polls(oth);
        EXPECT_GT(n1 - n0, c1 - c0) << other;
        EXPECT_TRUE(FindConnection(net)->pState->Close(32));
        EXPECT_TRUE(FindConnection(oth)->pState->Close(32));
        FindConnection(net)->pState->SetStatusReceiver(nullptr);
        FindConnection(oth)->pState->SetStatusReceiver(nullptr);
        EXPECT_EQ(1, DeleteState(32, net));
        EXPECT_EQ(1, DeleteState(32, oth));
    }
}

}  // namespace
