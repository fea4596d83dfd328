#include "DeviceTestKit.h"

#include <cstdio>
#include <cstring>

namespace {
const char kEnumRoot[] = "System\\CurrentControlSet\\Enum\\VESKTEST";
const char kPortsGuid[] = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
LONG g_fixtures = 0;
const HMACHINE kMachine = reinterpret_cast<HMACHINE>(static_cast<ULONG_PTR>(0x5150));

bool SetString(HKEY key, const char* name, const std::string& value)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          DWORD(value.size() + 1)) == ERROR_SUCCESS;
}
} // namespace

CFakePortDevices::CFakePortDevices()
{
    char digits[32];
    std::snprintf(digits, sizeof digits, "%06lu%03ld", GetCurrentProcessId() % 1000000,
                  InterlockedIncrement(&g_fixtures) % 1000);
    m_name = std::string("COM") + digits;
    m_idBase = std::string("T") + digits;
    m_key = std::string(kEnumRoot) + "\\" + m_idBase;
}

CFakePortDevices::~CFakePortDevices() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_key.c_str()); }

std::string CFakePortDevices::AddInstance(const std::string* portName)
{
    char instance[16];
    std::snprintf(instance, sizeof instance, "%04d", m_next++);
    std::string path = m_key + "\\" + instance;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return std::string();
    SetString(key, "ClassGUID", kPortsGuid);
    SetString(key, "Class", "Ports");
    SetString(key, "FriendlyName", "Test port (" + (portName ? *portName : std::string("?")) + ")");
    HKEY params = nullptr;
    if (RegCreateKeyExA(key, "Device Parameters", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &params, nullptr) ==
        ERROR_SUCCESS) {
        if (portName)
            SetString(params, "PortName", *portName);
        RegCloseKey(params);
    }
    RegCloseKey(key);
    return std::string("VESKTEST\\") + m_idBase + "\\" + instance;
}

std::string CFakePortDevices::Add(const std::string& portName) { return AddInstance(&portName); }

std::string CFakePortDevices::AddWithoutPortName() { return AddInstance(nullptr); }

std::vector<std::string> PresentPortsDevices()
{
    std::vector<std::string> ids;
    GUID guid;
    DWORD count = 0;
    if (!SetupDiClassGuidsFromNameA("Ports", &guid, 1, &count) || count == 0)
        return ids;
    HDEVINFO devices = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return ids;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        char id[512] = "";
        SetupDiGetDeviceInstanceIdA(devices, &device, id, sizeof id, nullptr);
        ids.push_back(id);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ids;
}

bool CMessageRecorder::Has(DeviceMessageKind kind, const std::string& text) const
{
    for (const MessageRecord& m : messages)
        if (m.kind == kind && m.text == text)
            return true;
    return false;
}

std::vector<std::string> CMessageRecorder::Texts(DeviceMessageKind kind) const
{
    std::vector<std::string> out;
    for (const MessageRecord& m : messages)
        if (m.kind == kind)
            out.push_back(m.text);
    return out;
}

FakeNode& CScriptedDeviceApi::AddNode(DEVINST parent, const std::string& portName)
{
    FakeNode node;
    node.id = DEVINST(nodes.size() + 2);
    node.parent = parent;
    node.portName = portName;
    node.friendlyName = "Test port (" + portName + ")";
    nodes.push_back(node);
    return nodes.back();
}

FakeNode& CScriptedDeviceApi::Node(DEVINST id) { return nodes.at(id - 2); }

const FakeNode* CScriptedDeviceApi::Find(DEVINST id) const
{
    return id >= 2 && id - 2 < nodes.size() ? &nodes[id - 2] : nullptr;
}

void CScriptedDeviceApi::CheckMachine(HMACHINE machine)
{
    if (machine != kMachine)
        foreignMachine = true;
}

void CScriptedDeviceApi::ChangeState(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD stateChange)
{
    char id[512] = "";
    SetupDiGetDeviceInstanceIdA(devices, device, id, sizeof id, nullptr);
    changes.push_back({id, stateChange});
}

CONFIGRET CScriptedDeviceApi::ConnectMachine(const char* name, HMACHINE* machine)
{
    ++connects;
    machineName = name ? name : "(null)";
    *machine = connectResult == CR_SUCCESS ? kMachine : nullptr;
    return connectResult;
}

void CScriptedDeviceApi::DisconnectMachine(HMACHINE machine)
{
    CheckMachine(machine);
    ++disconnects;
}

CONFIGRET CScriptedDeviceApi::LocateRoot(DEVINST* root, HMACHINE machine)
{
    CheckMachine(machine);
    *root = kRoot;
    return CR_SUCCESS;
}

CONFIGRET CScriptedDeviceApi::GetChild(DEVINST* child, DEVINST node, HMACHINE machine)
{
    CheckMachine(machine);
    for (const FakeNode& n : nodes)
        if (n.parent == node) {
            *child = n.id;
            return CR_SUCCESS;
        }
    *child = 0;
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET CScriptedDeviceApi::GetSibling(DEVINST* sibling, DEVINST node, HMACHINE machine)
{
    CheckMachine(machine);
    const FakeNode* self = Find(node);
    if (self)
        for (size_t i = node - 2 + 1; i < nodes.size(); ++i)
            if (nodes[i].parent == self->parent) {
                *sibling = nodes[i].id;
                return CR_SUCCESS;
            }
    *sibling = 0;
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET CScriptedDeviceApi::GetProperty(DEVINST node, ULONG property, ULONG* type, void* buffer, ULONG* length,
                                          HMACHINE machine)
{
    CheckMachine(machine);
    const FakeNode* n = Find(node);
    if (!n)
        return CR_NO_SUCH_DEVNODE;
    std::string text;
    ULONG valueType = REG_SZ;
    switch (property) {
    case CM_DRP_CLASSGUID:
        if (!n->hasClass)
            return CR_NO_SUCH_VALUE;
        text = kPortsGuid;
        break;
    case CM_DRP_FRIENDLYNAME:
        if (n->friendlyName.empty())
            return CR_NO_SUCH_VALUE;
        text = n->friendlyName;
        break;
    case CM_DRP_DEVICEDESC:
        if (n->deviceDesc.empty())
            return CR_NO_SUCH_VALUE;
        text = n->deviceDesc;
        break;
    case CM_DRP_CONFIGFLAGS:
        if (!n->hasConfigFlags)
            return CR_NO_SUCH_VALUE;
        valueType = n->configType;
        if (valueType == REG_DWORD) {
            if (*length < 4)
                return CR_BUFFER_SMALL;
            std::memcpy(buffer, &n->configFlags, 4);
            *length = 4;
            if (type)
                *type = REG_DWORD;
            return CR_SUCCESS;
        }
        text = n->configText;
        break;
    default:
        return CR_NO_SUCH_VALUE;
    }
    if (*length < text.size() + 1)
        return CR_BUFFER_SMALL;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *length = ULONG(text.size() + 1);
    if (type)
        *type = valueType;
    return CR_SUCCESS;
}

CONFIGRET CScriptedDeviceApi::GetStatus(ULONG* status, ULONG* problem, DEVINST node, HMACHINE machine)
{
    CheckMachine(machine);
    statusQueried.push_back(node);
    const FakeNode* n = Find(node);
    if (!n)
        return CR_NO_SUCH_DEVNODE;
    if (n->statusResult != CR_SUCCESS)
        return n->statusResult;
    *status = n->status;
    *problem = n->problem;
    return CR_SUCCESS;
}

bool CScriptedDeviceApi::GetPortName(DEVINST node, char* buffer, DWORD size, HMACHINE machine)
{
    CheckMachine(machine);
    const FakeNode* n = Find(node);
    if (!n || !n->hasPortName || n->portName.size() + 1 > size)
        return false;
    std::memcpy(buffer, n->portName.c_str(), n->portName.size() + 1);
    return true;
}
