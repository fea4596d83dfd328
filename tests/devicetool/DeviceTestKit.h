// Test equipment of the device control: "Ports" devices in the prefix's device registry (SetupAPI
// enumerates them for real), a scripted device tree for the state seam and a message recorder.
#pragma once

#include "PortDeviceControl.h"

#include <string>
#include <utility>
#include <vector>

// Present "Ports" devices under HKLM\System\CurrentControlSet\Enum\VESKTEST\<unique>, removed at
// the end. Every test process of the prefix sees them, so their port names are unique too.
class CFakePortDevices
{
public:
    CFakePortDevices();
    ~CFakePortDevices();
    CFakePortDevices(const CFakePortDevices&) = delete;
    CFakePortDevices& operator=(const CFakePortDevices&) = delete;

    // A port name no other fixture uses: "COM" and twelve digits. Name+"0" is never another
    // fixture's name either, so a test can make a COM1/COM10 pair.
    const std::string& Name() const { return m_name; }

    // Adds a device carrying portName; returns its device instance id.
    std::string Add(const std::string& portName);
    // A device with a "Device Parameters" key but no "PortName" value.
    std::string AddWithoutPortName();

private:
    std::string AddInstance(const std::string* portName);

    std::string m_key;
    std::string m_idBase;
    std::string m_name;
    int m_next = 0;
};

// The instance ids of the present "Ports" devices in SetupAPI's order.
std::vector<std::string> PresentPortsDevices();

struct MessageRecord
{
    DeviceMessageKind kind;
    std::string text;
};

class CMessageRecorder : public IDeviceMessageSink
{
public:
    void DeviceMessage(DeviceMessageKind kind, const char* text) override { messages.push_back({kind, text}); }
    bool Has(DeviceMessageKind kind, const std::string& text) const;
    std::vector<std::string> Texts(DeviceMessageKind kind) const;
    std::vector<MessageRecord> messages;
};

// CONFIGFLAG_DISABLED of the device registry: the device is disabled in the current profile.
const DWORD kConfigFlagDisabled = 0x00000001;

struct FakeNode
{
    DEVINST id = 0;
    DEVINST parent = 0;
    bool hasClass = true;
    std::string friendlyName;
    std::string deviceDesc;
    bool hasPortName = true;
    std::string portName;
    CONFIGRET statusResult = CR_SUCCESS;
    ULONG status = DEVSTATUS_ENABLED_PORT;
    ULONG problem = 0;
    bool hasConfigFlags = true;
    ULONG configType = REG_DWORD;
    DWORD configFlags = 0;
    std::string configText; // the value when configType is not REG_DWORD
};

// A scripted device tree behind the state seam; records every property change handed over.
class CScriptedDeviceApi : public IDeviceStateApi
{
public:
    static const DEVINST kRoot = 1;

    // Appends a node under parent (kRoot for a top-level node) and returns it for editing; the
    // reference stays valid until the next AddNode.
    FakeNode& AddNode(DEVINST parent, const std::string& portName);
    FakeNode& Node(DEVINST id);

    void ChangeState(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD stateChange) override;
    CONFIGRET ConnectMachine(const char* machineName, HMACHINE* machine) override;
    void DisconnectMachine(HMACHINE machine) override;
    CONFIGRET LocateRoot(DEVINST* root, HMACHINE machine) override;
    CONFIGRET GetChild(DEVINST* child, DEVINST node, HMACHINE machine) override;
    CONFIGRET GetSibling(DEVINST* sibling, DEVINST node, HMACHINE machine) override;
    CONFIGRET GetProperty(DEVINST node, ULONG property, ULONG* type, void* buffer, ULONG* length,
                          HMACHINE machine) override;
    CONFIGRET GetStatus(ULONG* status, ULONG* problem, DEVINST node, HMACHINE machine) override;
    bool GetPortName(DEVINST node, char* buffer, DWORD size, HMACHINE machine) override;

    // Script
    CONFIGRET connectResult = CR_SUCCESS;
    std::vector<FakeNode> nodes;

    // Record
    struct Change
    {
        std::string instanceId;
        DWORD stateChange;
    };
    std::vector<Change> changes;
    std::string machineName;
    int connects = 0;
    int disconnects = 0;
    bool foreignMachine = false; // a call came with another handle than the connection's
    std::vector<DEVINST> statusQueried;

private:
    void CheckMachine(HMACHINE machine);
    const FakeNode* Find(DEVINST id) const;
};
