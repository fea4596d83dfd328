// The port device control: the "Ports" lookup runs on SetupAPI against devices in the prefix's
// device registry; the state change and the device tree are scripted behind the state seam.
#include <gtest/gtest.h>

#include "DeviceTestKit.h"
#include "PortName.h"

#include <algorithm>

namespace {

struct DeviceControlTest : ::testing::Test
{
    CFakePortDevices devices;
    CScriptedDeviceApi api;
    CMessageRecorder sink;
    CPortDeviceControl tool{api, sink, DEVCTL_TOOL};
    CPortDeviceControl transport{api, sink, DEVCTL_TRANSPORT};
};

// ---- ControlComPortDevice: the lookup ----

TEST_F(DeviceControlTest, ChangesTheDeviceWhosePortNameIsExactlyThePortName)
{
    const std::string com1 = devices.Name();
    const std::string com10 = com1 + "0";
    std::string id10 = devices.Add(com10);
    std::string id1 = devices.Add(com1);
    ASSERT_FALSE(id1.empty());

    EXPECT_EQ(tool.ControlComPortDevice(com1.c_str(), 0), 1);
    ASSERT_EQ(api.changes.size(), 1u);
    EXPECT_EQ(api.changes[0].instanceId, id1);
    EXPECT_EQ(api.changes[0].stateChange, DWORD(DICS_DISABLE));

    EXPECT_EQ(tool.ControlComPortDevice(com10.c_str(), 1), 1);
    ASSERT_EQ(api.changes.size(), 2u);
    EXPECT_EQ(api.changes[1].instanceId, id10);
    EXPECT_EQ(api.changes[1].stateChange, DWORD(DICS_ENABLE));
    EXPECT_TRUE(sink.Texts(DEVMSG_CALL).empty()) << "the tool issues no entry line";
}

TEST_F(DeviceControlTest, ZeroDisablesEveryOtherStateEnables)
{
    devices.Add(devices.Name());
    for (int state : {0, 1, 2, -1, 7})
        EXPECT_EQ(tool.ControlComPortDevice(devices.Name().c_str(), state), 1);
    ASSERT_EQ(api.changes.size(), 5u);
    EXPECT_EQ(api.changes[0].stateChange, DWORD(DICS_DISABLE));
    for (size_t i = 1; i < 5; ++i)
        EXPECT_EQ(api.changes[i].stateChange, DWORD(DICS_ENABLE)) << i;
}

TEST_F(DeviceControlTest, NoDeviceForOtherCasePrefixOrUnknownName)
{
    const std::string name = devices.Name();
    devices.Add(name);
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return char(tolower(c)); });
    for (const std::string& other : {lower, name.substr(0, name.size() - 1), name + "1", std::string()}) {
        EXPECT_EQ(transport.ControlComPortDevice(other.c_str(), 0), 0) << other;
    }
    EXPECT_EQ(transport.ControlComPortDevice(nullptr, 0), 0);
    EXPECT_TRUE(api.changes.empty());
    EXPECT_TRUE(sink.Has(DEVMSG_ERROR, "not exist current port number"));
    EXPECT_EQ(sink.Texts(DEVMSG_CALL), std::vector<std::string>(5, "+ControlComPortDevice"));
}

TEST_F(DeviceControlTest, PortNameNotBeginningWithComIsNeverChanged)
{
    std::string lpt = "LPT" + devices.Name().substr(3);
    devices.Add(lpt);
    EXPECT_EQ(tool.ControlComPortDevice(lpt.c_str(), 0), 0);
    EXPECT_TRUE(api.changes.empty());
}

TEST_F(DeviceControlTest, DeviceWithoutPortNameIsSkipped)
{
    devices.AddWithoutPortName();
    std::string id = devices.Add(devices.Name());
    EXPECT_EQ(tool.ControlComPortDevice(devices.Name().c_str(), 1), 1);
    ASSERT_EQ(api.changes.size(), 1u);
    EXPECT_EQ(api.changes[0].instanceId, id);
    EXPECT_TRUE(sink.Has(DEVMSG_ERROR, "error in RegQueryValueEx") || sink.Has(DEVMSG_ERROR, "INVALID HKEY"));
}

TEST_F(DeviceControlTest, TwoDevicesWithOnePortNameOnlyTheFirstListedChanges)
{
    std::string a = devices.Add(devices.Name());
    std::string b = devices.Add(devices.Name());
    std::vector<std::string> present = PresentPortsDevices();
    auto at = [&](const std::string& id) { return std::find(present.begin(), present.end(), id) - present.begin(); };
    ASSERT_LT(size_t(at(a)), present.size());
    ASSERT_LT(size_t(at(b)), present.size());

    EXPECT_EQ(tool.ControlComPortDevice(devices.Name().c_str(), 0), 1);
    ASSERT_EQ(api.changes.size(), 1u);
    EXPECT_EQ(api.changes[0].instanceId, at(a) < at(b) ? a : b);
}

// ---- GetDeviceState: the device tree ----

TEST_F(DeviceControlTest, EnabledRunningPortReadsOneWithItsTraceLines)
{
    api.AddNode(CScriptedDeviceApi::kRoot, "COM3");
    EXPECT_EQ(transport.GetDeviceState("COM3"), DEVSTATE_ENABLED);
    EXPECT_EQ(transport.DeviceState(), DEVSTATE_ENABLED);
    EXPECT_EQ(sink.Texts(DEVMSG_TRACE), (std::vector<std::string>{"ID_STATUS=0x0180600a", "ID_PROBLEM=0x00000000",
                                                                  "CM_DRP_CONFIGFLAGS=0x00000000"}));
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD len = sizeof computer;
    ASSERT_TRUE(GetComputerNameA(computer, &len));
    EXPECT_EQ(api.machineName, std::string("\\\\") + computer);
    EXPECT_EQ(api.connects, 1);
    EXPECT_EQ(api.disconnects, 1);
    EXPECT_FALSE(api.foreignMachine);
}

TEST_F(DeviceControlTest, AnythingButTheExactRunningStatusReadsZero)
{
    struct Case
    {
        const char* what;
        void (*edit)(FakeNode&);
        bool statusFails;
    } cases[] = {
        {"extra flag", [](FakeNode& n) { n.status = DEVSTATUS_ENABLED_PORT | DN_HAS_PROBLEM; }, false},
        {"missing flag", [](FakeNode& n) { n.status = DEVSTATUS_ENABLED_PORT & ~ULONG(DN_STARTED); }, false},
        {"problem", [](FakeNode& n) { n.problem = CM_PROB_DISABLED; }, false},
        {"disabled in config flags", [](FakeNode& n) { n.configFlags = kConfigFlagDisabled; }, false},
        {"status unavailable", [](FakeNode& n) { n.statusResult = CR_FAILURE; }, true},
    };
    for (const Case& c : cases) {
        CScriptedDeviceApi one;
        CMessageRecorder messages;
        CPortDeviceControl control(one, messages, DEVCTL_TRANSPORT);
        c.edit(one.AddNode(CScriptedDeviceApi::kRoot, "COM3"));
        EXPECT_EQ(control.GetDeviceState("COM3"), DEVSTATE_DISABLED) << c.what;
        if (c.statusFails) {
            EXPECT_TRUE(messages.Has(DEVMSG_TRACE, "ID_STATUS=Fail to retrieve Device Status"));
            EXPECT_TRUE(messages.Has(DEVMSG_TRACE, "ID_PROBLEM=Fail to retrieve Device Problem"));
        }
    }
}

TEST_F(DeviceControlTest, ConfigFlagsInOtherFormsCount)
{
    FakeNode& n = api.AddNode(CScriptedDeviceApi::kRoot, "COM3");
    n.hasConfigFlags = false; // no value: the text is empty and counts as 0
    EXPECT_EQ(tool.GetDeviceState("COM3"), DEVSTATE_ENABLED);
    EXPECT_TRUE(sink.Has(DEVMSG_TRACE, "CM_DRP_CONFIGFLAGS="));
    api.Node(n.id).hasConfigFlags = true;
    api.Node(n.id).configType = REG_SZ;
    api.Node(n.id).configText = "0x00000400";
    EXPECT_EQ(tool.GetDeviceState("COM3"), DEVSTATE_DISABLED);
    EXPECT_EQ(tool.GetDevNodeProperty(n.id, CM_DRP_CONFIGFLAGS), "0x00000400");
}

TEST_F(DeviceControlTest, NoConnectionLeavesUnknownWithTheCopysMessage)
{
    api.AddNode(CScriptedDeviceApi::kRoot, "COM3");
    api.connectResult = CR_ACCESS_DENIED;
    EXPECT_EQ(tool.GetDeviceState("COM3"), DEVSTATE_UNKNOWN);
    EXPECT_EQ(transport.GetDeviceState("COM3"), DEVSTATE_UNKNOWN);
    EXPECT_EQ(sink.Texts(DEVMSG_ERROR),
              (std::vector<std::string>{"Machine Connection failed, cr= 33(hex)\n",
                                        "GetDeviceState:Machine Connection failed, cr= 33(hex)\n"}));
    EXPECT_TRUE(api.statusQueried.empty());
    EXPECT_EQ(api.disconnects, 0);
}

TEST_F(DeviceControlTest, EachCallStartsUnknown)
{
    api.AddNode(CScriptedDeviceApi::kRoot, "COM3");
    EXPECT_EQ(tool.GetDeviceState("COM3"), DEVSTATE_ENABLED);
    EXPECT_EQ(tool.GetDeviceState("COM4"), DEVSTATE_UNKNOWN);
    EXPECT_EQ(tool.DeviceState(), DEVSTATE_UNKNOWN);
    EXPECT_EQ(tool.GetDeviceState(nullptr), DEVSTATE_UNKNOWN);
}

TEST_F(DeviceControlTest, ComOneIsNotTheDeviceOfComTen)
{
    FakeNode& com1 = api.AddNode(CScriptedDeviceApi::kRoot, "COM1");
    com1.configFlags = kConfigFlagDisabled;
    DEVINST id1 = com1.id;
    DEVINST id10 = api.AddNode(CScriptedDeviceApi::kRoot, "COM10").id; // later in walk order, enabled
    // A name that merely contains the port name is no match either.
    api.AddNode(CScriptedDeviceApi::kRoot, "COM2").friendlyName = "Bridge (COM1)";

    EXPECT_EQ(tool.GetDeviceState("COM1"), DEVSTATE_DISABLED);
    EXPECT_EQ(api.statusQueried, std::vector<DEVINST>{id1});
    EXPECT_EQ(tool.GetDeviceState("COM10"), DEVSTATE_ENABLED);
    EXPECT_EQ(api.statusQueried, (std::vector<DEVINST>{id1, id10}));
    EXPECT_EQ(tool.GetDeviceState("com1"), DEVSTATE_UNKNOWN);
}

TEST_F(DeviceControlTest, WalkIsPreOrderAndTheLastMatchDecides)
{
    // root
    //  +- bus (no class)             <- not a candidate even with the port's name
    //  |   +- hub
    //  |       +- COM7 (disabled)     <- first match; its child is not visited
    //  |           +- COM7 child
    //  +- COM7 again (enabled)        <- later match at a level above: decides
    FakeNode& bus = api.AddNode(CScriptedDeviceApi::kRoot, "COM7");
    bus.hasClass = false;
    DEVINST busId = bus.id;
    DEVINST hub = api.AddNode(busId, "").id;
    FakeNode& deep = api.AddNode(hub, "COM7");
    deep.configFlags = kConfigFlagDisabled;
    DEVINST deepId = deep.id;
    api.AddNode(deepId, "COM7").status = 0;
    DEVINST later = api.AddNode(CScriptedDeviceApi::kRoot, "COM7").id;

    EXPECT_EQ(tool.GetDeviceState("COM7"), DEVSTATE_ENABLED);
    EXPECT_EQ(api.statusQueried, (std::vector<DEVINST>{deepId, later}));

    api.Node(later).configFlags = kConfigFlagDisabled;
    api.Node(deepId).configFlags = 0;
    EXPECT_EQ(tool.GetDeviceState("COM7"), DEVSTATE_DISABLED);
}

TEST_F(DeviceControlTest, NodeNameFallsBackToDescriptionThenUnknown)
{
    FakeNode& n = api.AddNode(CScriptedDeviceApi::kRoot, "COM3");
    n.deviceDesc = "Standard Serial over Bluetooth link";
    DEVINST id = n.id;
    EXPECT_EQ(tool.GetDevNodeName(id), "Test port (COM3)");
    api.Node(id).friendlyName.clear();
    EXPECT_EQ(tool.GetDevNodeName(id), "Standard Serial over Bluetooth link");
    api.Node(id).deviceDesc.clear();
    EXPECT_EQ(tool.GetDevNodeName(id), "Unknown Device");
}

// ---- port names for command lines ----

TEST(PortName, OnlyComAndOneToThreeDigits)
{
    for (const char* good : {"COM1", "COM5", "COM10", "COM255", "COM999"})
        EXPECT_TRUE(IsComPortName(good)) << good;
    for (const char* bad : {"", "COM", "COM1000", "com5", "Com5", "COM5 ", " COM5", "COM5&calc", "COM5\"", "COM5|x",
                            "COM-1", "COMx", "\\\\.\\COM5", "COM5:", "LPT1", "COM1\n"})
        EXPECT_FALSE(IsComPortName(bad)) << bad;
    EXPECT_FALSE(IsComPortName(nullptr));
}

} // namespace
