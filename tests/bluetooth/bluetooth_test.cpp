// Bluetooth ports of CPortCom: the control block, the port device reset (device state through a
// scripted state seam, the change through the stand-in of the device enable tool started by the
// WOW64 command interpreter) and the read thread's re-open after a line drop.
#include "ComSimTest.h"
#include "PortCom.h"

#include <cstdlib>
#include <cstring>

namespace {

// One "Ports" node carrying the port name; each state query takes the next scripted state
// (the last one repeats): 1 enabled, 0 disabled, -1 no device tree.
class CScriptedState : public IDeviceStateApi
{
public:
    std::string portName;
    std::vector<int> states{1};
    std::atomic<int> queries{0};
    std::atomic<int> changes{0};

    void ChangeState(HDEVINFO, SP_DEVINFO_DATA*, DWORD) override { ++changes; }
    CONFIGRET ConnectMachine(const char*, HMACHINE* machine) override
    {
        int i = queries++;
        m_current = states[size_t(i) < states.size() ? size_t(i) : states.size() - 1];
        if (m_current < 0)
            return CR_ACCESS_DENIED;
        *machine = reinterpret_cast<HMACHINE>(static_cast<ULONG_PTR>(0x77));
        return CR_SUCCESS;
    }
    void DisconnectMachine(HMACHINE) override {}
    CONFIGRET LocateRoot(DEVINST* root, HMACHINE) override
    {
        *root = 1;
        return CR_SUCCESS;
    }
    CONFIGRET GetChild(DEVINST* child, DEVINST node, HMACHINE) override
    {
        *child = node == 1 ? 2 : 0;
        return node == 1 ? CR_SUCCESS : CR_NO_SUCH_DEVNODE;
    }
    CONFIGRET GetSibling(DEVINST* sibling, DEVINST, HMACHINE) override
    {
        *sibling = 0;
        return CR_NO_SUCH_DEVNODE;
    }
    CONFIGRET GetProperty(DEVINST, ULONG property, ULONG* type, void* buffer, ULONG* length, HMACHINE) override
    {
        if (property == CM_DRP_CLASSGUID) {
            const char guid[] = "{4d36e978-e325-11ce-bfc1-08002be10318}";
            if (*length < sizeof guid)
                return CR_BUFFER_SMALL;
            std::memcpy(buffer, guid, sizeof guid);
            return CR_SUCCESS;
        }
        if (property == CM_DRP_CONFIGFLAGS) {
            DWORD flags = m_current == 1 ? 0 : 1;  // CONFIGFLAG_DISABLED
            std::memcpy(buffer, &flags, sizeof flags);
            if (type)
                *type = REG_DWORD;
            return CR_SUCCESS;
        }
        return CR_NO_SUCH_VALUE;
    }
    CONFIGRET GetStatus(ULONG* status, ULONG* problem, DEVINST, HMACHINE) override
    {
        *status = m_current == 1 ? DEVSTATUS_ENABLED_PORT : 0x01802400;
        *problem = m_current == 1 ? 0 : 22;  // CM_PROB_DISABLED
        return CR_SUCCESS;
    }
    bool GetPortName(DEVINST, char* buffer, DWORD size, HMACHINE) override
    {
        if (portName.size() + 1 > size)
            return false;
        std::memcpy(buffer, portName.c_str(), portName.size() + 1);
        return true;
    }

private:
    int m_current = -1;
};

struct ToolRun
{
    unsigned long long tick;
    std::string parent;
    std::string wow64;
    std::string args;
};

std::string Field(const std::string& line, const std::string& name)
{
    size_t at = line.find(name + "=");
    if (at == std::string::npos)
        return std::string();
    at += name.size() + 1;
    size_t end = line.find('\t', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

class BluetoothSim : public ComSimTest
{
protected:
    void TearDown() override
    {
        if (port) {
            port->ClosePort(DEVTYPE_LABEL);
            delete port;
            port = nullptr;
        }
        ComSimTest::TearDown();
    }

    // CONTROLDEVICE and the CHECK_CTS_SW that lets the scripted CTS line decide with flow
    // control none (a pty has no modem lines of its own).
    void WriteSetup(int controlDevice)
    {
        std::string inf = "[SPECIAL]\r\nCONTROLDEVICE=" + std::to_string(controlDevice) + "\r\nCHECK_CTS_SW=1\r\n";
        ASSERT_TRUE(install.Write("setup.inf", inf));
    }
    void PutStandin()
    {
        std::string standin = TestBinDir() + "\\..\\..\\..\\x86_64\\tests\\devicetool\\HalvirexStandin.exe";
        ASSERT_NE(GetFileAttributesA(standin.c_str()), INVALID_FILE_ATTRIBUTES) << standin;
        ASSERT_TRUE(CopyFileA(standin.c_str(), logs.File("Halvirex.exe").c_str(), FALSE));
    }
    CPortCom& MakePort(const std::string& name, DWORD flowControl = 2, DWORD stackType = 1)
    {
        state.portName = name;
        port = new CPortCom;
        port->SetPortIndex(10000 + com);
        port->SetLog(0, 3, CString(logs.Path().c_str()));
        port->SetLine(&line);
        port->SetDeviceStateApi(&state);
        DeviceOption dop = ComOption(name, flowControl);
        dop.dwUsingBT = 1;
        dop.dwBtStackType = stackType;
        EXPECT_EQ(port->SetDeviceOption(dop, DEVTYPE_LABEL), 1);
        DeviceOptionRelease(dop);
        return *port;
    }
    // Opens the port regularly, then drops its link: the read thread closes the device and
    // re-opens it through the Bluetooth path once the line is back.
    void OpenAndDrop(CPortCom& p)
    {
        line.modem = COM_MODEM_CTS;
        ASSERT_EQ(p.OpenPort(DEVTYPE_LABEL), 1);
        ASSERT_TRUE(WaitFor([&] { return p.IsPowerState() == PS_ONLINE; }));
        setStatesBeforeDrop = line.setStateCalls;
        line.modem = 0;
        ASSERT_TRUE(WaitFor([&] { return p.IsPowerState() == PS_OFFLINE; }));
        ASSERT_TRUE(WaitFor([&] { return !p.IsOpen() && DeviceIsFree(); }));
        line.modem = COM_MODEM_CTS;
    }
    // An IVT port on-line, its character events scripted (none until the test gives some).
    void OpenIvtPort(CPortCom& p)
    {
        line.charEvents = 0;
        line.modem = COM_MODEM_CTS;
        ASSERT_EQ(p.OpenPort(DEVTYPE_LABEL), 1);
        ASSERT_TRUE(WaitFor([&] { return p.IsPowerState() == PS_ONLINE; }));
    }
    bool Reopened() { return WaitFor([&] { return Lines("OpenPortBluetooth retry :Success") >= 1; }, 30000); }
    void ExpectDataFlows()
    {
        ASSERT_TRUE(WaitFor([&] { return port->IsPowerState() == PS_ONLINE; }));
        ASSERT_TRUE(sim.send(ep, Bytes({0x41, 0x00, 0x42}))) << sim.error();
        EXPECT_EQ(ReadAll([&](BYTE* b, int len) { return port->readPort(b, len, 200, DEVTYPE_LABEL); }, 3),
                  std::vector<BYTE>({0x41, 0x00, 0x42}));
        BYTE out[2] = {'o', 'k'};
        EXPECT_EQ(port->writePort(out, 2, DEVTYPE_LABEL), 2);
        EXPECT_EQ(Received(2), Bytes({'o', 'k'}));
    }
    std::vector<ToolRun> Runs()
    {
        std::vector<ToolRun> runs;
        std::string text = ReadWholeFile(logs.File("Halvirex-calls.txt"));
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find("\r\n", at);
            if (end == std::string::npos)
                end = text.size();
            std::string l = text.substr(at, end - at);
            runs.push_back({std::strtoull(Field(l, "tick").c_str(), nullptr, 10), Field(l, "parent"), Field(l, "wow64"),
                            Field(l, "args")});
            at = end + 2;
        }
        return runs;
    }
    int Lines(const std::string& text) { return CountLines(logs, text); }

    CScriptedLine line;
    CScriptedState state;
    CPortCom* port = nullptr;
    int setStatesBeforeDrop = 0;
};

TEST(BluetoothDcb, HandshakeFollowsFlowControlAloneAndXonXoffGetsDefaults)
{
    DeviceOption dop = {};
    dop.dwBaudRate = 9600;
    dop.dwByteSize = 7;
    dop.dwParity = 2;
    dop.dwStopBits = 0;
    ComConfig cfg;
    cfg.CHECK_CTS_SW = 1;
    cfg.CHECK_DSR_SW = 1;

    dop.dwFlowControl = 2;
    DCB dcb = {};
    dcb.fDsrSensitivity = TRUE;
    dcb.fNull = TRUE;
    dcb.fBinary = TRUE;
    ASSERT_TRUE(ComBuildBluetoothDcb(dcb, dop, cfg));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, 2);
    EXPECT_TRUE(dcb.fParity);
    EXPECT_FALSE(dcb.fDsrSensitivity);
    EXPECT_FALSE(dcb.fNull);
    EXPECT_TRUE(dcb.fBinary);
    // The CHECK values do not switch the handshake on here (the serial open would).
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fOutxDsrFlow);
    EXPECT_EQ(DWORD(dcb.fDtrControl), DWORD(DTR_CONTROL_DISABLE));
    EXPECT_EQ(DWORD(dcb.fRtsControl), DWORD(RTS_CONTROL_DISABLE));
    EXPECT_FALSE(dcb.fOutX);

    dop.dwFlowControl = 1;
    dcb = DCB();
    dcb.XoffChar = 0x19;
    ASSERT_TRUE(ComBuildBluetoothDcb(dcb, dop, ComConfig()));
    EXPECT_TRUE(dcb.fOutxCtsFlow);
    EXPECT_TRUE(dcb.fOutxDsrFlow);
    EXPECT_EQ(DWORD(dcb.fDtrControl), DWORD(DTR_CONTROL_ENABLE));
    EXPECT_EQ(DWORD(dcb.fRtsControl), DWORD(RTS_CONTROL_ENABLE));
    EXPECT_TRUE(dcb.fOutX);
    EXPECT_TRUE(dcb.fInX);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x19);  // the driver's own stays
    EXPECT_EQ(dcb.XonLim, 2048);
    EXPECT_EQ(dcb.XoffLim, 512);

    dop.dwFlowControl = 0;
    dop.dwParity = 0;
    ASSERT_TRUE(ComBuildBluetoothDcb(dcb, dop, ComConfig()));
    EXPECT_FALSE(dcb.fParity);
    EXPECT_TRUE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);

    dop.dwStopBits = 0x100;
    EXPECT_FALSE(ComBuildBluetoothDcb(dcb, dop, ComConfig()));
}

TEST_F(BluetoothSim, WithoutDeviceControlALineDropReopensWithTheBluetoothBlock)
{
    WriteSetup(0);
    PutStandin();
    CPortCom& p = MakePort(portName);
    ASSERT_EQ(p.Config().CONTROLDEVICE, 0);
    OpenAndDrop(p);
    // The regular open took the CHECK value into its control block.
    ASSERT_TRUE(Reopened());
    EXPECT_GT(line.setStateCalls.load(), setStatesBeforeDrop);
    EXPECT_FALSE(line.lastDcb.fOutxCtsFlow);
    EXPECT_EQ(DWORD(line.lastDcb.fRtsControl), DWORD(RTS_CONTROL_DISABLE));
    EXPECT_EQ(Lines("Serial Off-line signal"), 1);
    EXPECT_GE(Lines("-OpenPortBluetooth success"), 1);
    ExpectDataFlows();
    // No state query, no device change.
    EXPECT_EQ(state.queries, 0);
    EXPECT_EQ(state.changes, 0);
    EXPECT_TRUE(Runs().empty());
}

// The IVT stack reads on character events. A reply longer than one read pass (512 bytes) gets
// one event; its tail is read when the next event wait times out, with no further byte.
TEST_F(BluetoothSim, IvtReplyLongerThanOnePassArrivesWhole)
{
    WriteSetup(0);
    CPortCom& p = MakePort(portName, 2, 3);
    ASSERT_NO_FATAL_FAILURE(OpenIvtPort(p));
    for (size_t length : {size_t(700), size_t(1100)}) {
        qlks::Bytes reply;
        for (size_t i = 0; i < length; ++i)
            reply.push_back(std::uint8_t('a' + i % 26));
        ASSERT_TRUE(sim.send(ep, reply)) << sim.error();
        line.charEvents = 1;
        std::vector<BYTE> got =
            ReadAll([&](BYTE* b, int len) { return p.readPort(b, len, 200, DEVTYPE_LABEL); }, length, 30000);
        EXPECT_EQ(got, std::vector<BYTE>(reply.begin(), reply.end())) << length;
    }
    EXPECT_GT(line.charTimeouts.load(), 0);
    p.ClosePort(DEVTYPE_LABEL);
    EXPECT_EQ(Lines("<LABEL> ClosePort : TerminateThread Port ReadThread."), 0);
}

TEST_F(BluetoothSim, AReadThreadThatEndsOnItsOwnLeavesThePortOffLine)
{
    WriteSetup(0);
    CPortCom& p = MakePort(portName, 2, 3);
    ASSERT_NO_FATAL_FAILURE(OpenIvtPort(p));
    line.charWaitStuck = true;
    ASSERT_TRUE(WaitFor([&] { return Lines("***************** Port Read Thread End ***********") == 1; }));
    EXPECT_EQ(p.IsPowerState(), PS_OFFLINE);
    EXPECT_EQ(Lines("!ERROR: ReadThread : ended before ClosePort, PowerState : 2003"), 1);
    p.ClosePort(DEVTYPE_LABEL);
    EXPECT_TRUE(DeviceIsFree());
}

TEST_F(BluetoothSim, EnabledDeviceIsResetThroughTheToolBeforeTheReopen)
{
    WriteSetup(1);
    PutStandin();
    state.states = {1, 1};
    CPortCom& p = MakePort(portName);
    OpenAndDrop(p);
    ASSERT_TRUE(Reopened());
    ExpectDataFlows();
    EXPECT_TRUE(p.Is64Bit());
    std::vector<ToolRun> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].args, portName + " 0");
    EXPECT_EQ(runs[1].args, portName + " 1");
    EXPECT_GE(runs[1].tick - runs[0].tick, 1500u);
    for (const ToolRun& r : runs) {
        std::string lower = r.parent;
        for (char& c : lower)
            c = char(tolower(c));
        EXPECT_EQ(r.wow64, "1");
        EXPECT_NE(lower.find("\\syswow64\\cmd.exe"), std::string::npos) << r.parent;
    }
    // The state was read before and after the change; nothing changed in this process.
    EXPECT_EQ(state.queries, 2);
    EXPECT_EQ(state.changes, 0);
    EXPECT_EQ(Lines("OpenPortBluetooth:Comport state is enable. switch State Disable/Enable"), 1);
}

TEST_F(BluetoothSim, DeviceThatStaysDisabledIsNeverOpened)
{
    WriteSetup(1);
    PutStandin();
    state.states = {1, 0};
    CPortCom& p = MakePort(portName);
    OpenAndDrop(p);
    ASSERT_TRUE(WaitFor([&] { return Lines("!ERROR: -OpenPortBluetooth:Comport state is not enable(current state:0)") >= 2; },
                        60000));
    p.ClosePort(DEVTYPE_LABEL);
    EXPECT_EQ(line.setStateCalls, setStatesBeforeDrop);
    EXPECT_EQ(Lines("OpenPortBluetooth retry :Success"), 0);
    // Later attempts find it disabled and only enable it.
    std::vector<ToolRun> runs = Runs();
    ASSERT_GE(runs.size(), 3u);
    EXPECT_EQ(runs[0].args, portName + " 0");
    for (size_t i = 1; i < runs.size(); ++i)
        EXPECT_EQ(runs[i].args, portName + " 1");
    EXPECT_GE(Lines("OpenPortBluetooth:Comport state is disable. switch State Enable"), 1);
}

TEST_F(BluetoothSim, DisabledDeviceIsOnlyEnabled)
{
    WriteSetup(1);
    PutStandin();
    state.states = {0, 1};
    CPortCom& p = MakePort(portName);
    OpenAndDrop(p);
    ASSERT_TRUE(Reopened());
    ExpectDataFlows();
    std::vector<ToolRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].args, portName + " 1");
    EXPECT_EQ(state.queries, 2);
}

TEST_F(BluetoothSim, UnknownStateFailsWithoutOpenOrProcess)
{
    WriteSetup(1);
    PutStandin();
    state.states = {-1};
    CPortCom& p = MakePort(portName);
    OpenAndDrop(p);
    ASSERT_TRUE(WaitFor([&] { return Lines("!ERROR: -OpenPortBluetooth:Comport state is unknown.") >= 2; }, 30000));
    p.ClosePort(DEVTYPE_LABEL);
    EXPECT_EQ(line.setStateCalls, setStatesBeforeDrop);
    EXPECT_EQ(Lines("!ERROR: -OpenPortBluetooth : port is INVALID_HANDLE_VALUE. GetLastError() : 2"), 0);
    EXPECT_GE(Lines("!ERROR: GetDeviceState:Machine Connection failed, cr= 33(hex)\n"), 2);
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(state.changes, 0);
}

TEST_F(BluetoothSim, MissingToolLeavesTheDecisionToTheState)
{
    WriteSetup(1);
    state.states = {1, 1};
    CPortCom& p = MakePort(portName);
    OpenAndDrop(p);
    ASSERT_TRUE(Reopened());
    EXPECT_EQ(Lines("!ERROR: EXE file not found"), 2);
    ExpectDataFlows();
    EXPECT_TRUE(Runs().empty());
}

TEST_F(BluetoothSim, ClosePortDuringTheResetIsPrompt)
{
    WriteSetup(1);
    state.states = {1};
    CPortCom& p = MakePort(portName);
    OpenAndDrop(p);
    ASSERT_TRUE(WaitFor([&] {
        return Lines("OpenPortBluetooth:Comport state is enable. switch State Disable/Enable") >= 1;
    }));
    DWORD start = GetTickCount();
    p.ClosePort(DEVTYPE_LABEL);
    EXPECT_LT(GetTickCount() - start, 10000u);
    EXPECT_EQ(Lines("<LABEL> ClosePort : TerminateThread Port ReadThread."), 0);
    EXPECT_EQ(Lines("***************** Port Read Thread End ***********"), 1);
    EXPECT_TRUE(DeviceIsFree());
}

TEST_F(BluetoothSim, PortNameWithShellCharactersStartsNoProcess)
{
    WriteSetup(1);
    PutStandin();
    for (const std::string& name : {portName + "&calc", portName + " x", std::string("COM1234")}) {
        state.states = {1, 1};
        state.queries = 0;
        CPortCom& p = MakePort(name);
        // Not found by the regular open: the Bluetooth path with its reset.
        EXPECT_EQ(p.OpenPort(DEVTYPE_LABEL), 0) << name;
        EXPECT_EQ(state.queries, 2) << name;
        EXPECT_FALSE(p.IsOpen());
        p.ClosePort(DEVTYPE_LABEL);
        delete port;
        port = nullptr;
        EXPECT_EQ(Lines("!ERROR: RunHalvirex : refused port name " + name), 2) << name;
    }
    EXPECT_EQ(Lines("Call OpenPortBluetooth in OpenPort"), 3);
    EXPECT_TRUE(Runs().empty());
}

TEST_F(BluetoothSim, On32BitWindowsTheChangeRunsInThisProcess)
{
    WriteSetup(1);
    PutStandin();
    state.states = {1, 1};
    CPortCom& p = MakePort(portName);
    // Before any OpenPort the port knows no 64-bit Windows: the in-process branch.
    ASSERT_FALSE(p.Is64Bit());
    ASSERT_EQ(p.OpenPortBluetooth(), 1);
    EXPECT_TRUE(p.IsOpen());
    EXPECT_EQ(line.setStateCalls, 1);
    EXPECT_EQ(state.queries, 2);
    // Both changes were looked up here; the prefix has no "Ports" device of this name, so
    // nothing reached the class installer.
    EXPECT_EQ(Lines("+ControlComPortDevice"), 2);
    EXPECT_EQ(state.changes, 0);
    EXPECT_TRUE(Runs().empty());
    // A second call finds the port open.
    EXPECT_EQ(p.OpenPortBluetooth(), 1);
    EXPECT_EQ(Lines("-OpenPortBluetooth : Already Open"), 1);
}

}  // namespace
