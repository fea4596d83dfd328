#include "PortDeviceControl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

bool PortNameMatches(const char* value, const char* portName)
{
    return value && portName && std::strncmp(value, "COM", 3) == 0 && std::strcmp(value, portName) == 0;
}

CPortDeviceControl::CPortDeviceControl(IDeviceStateApi& api, IDeviceMessageSink& sink, DeviceControlCopy copy)
    : m_api(api), m_sink(sink), m_copy(copy)
{
}

int CPortDeviceControl::ControlComPortDevice(const char* portName, int state)
{
    if (m_copy == DEVCTL_TRANSPORT)
        Message(DEVMSG_CALL, "+ControlComPortDevice");
    if (!portName)
        portName = "";

    DWORD count = 0;
    SetupDiClassGuidsFromNameA("Ports", nullptr, 0, &count);
    if (count == 0)
        return -1;
    std::vector<GUID> guids(count);
    if (!SetupDiClassGuidsFromNameA("Ports", guids.data(), count, &count))
        return -1;
    HDEVINFO devices = SetupDiGetClassDevsA(&guids[0], nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return -1;

    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        char value[260];
        std::memset(value, 0, sizeof value);
        DWORD size = sizeof value;
        HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
        if (key == INVALID_HANDLE_VALUE) {
            Message(DEVMSG_ERROR, "INVALID HKEY");
            continue;
        }
        // One byte short of the buffer: a value stored without its NUL still ends in one.
        size = sizeof value - 1;
        if (RegQueryValueExA(key, "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS) {
            Message(DEVMSG_ERROR, "error in RegQueryValueEx");
            RegCloseKey(key);
            continue;
        }
        RegCloseKey(key);
        if (!PortNameMatches(value, portName))
            continue;

        m_api.ChangeState(devices, &device, state == 0 ? DICS_DISABLE : DICS_ENABLE);
        SetupDiDestroyDeviceInfoList(devices);
        Sleep(500);
        return 1;
    }

    Message(DEVMSG_ERROR, "not exist current port number");
    SetupDiDestroyDeviceInfoList(devices);
    return 0;
}

int CPortDeviceControl::GetDeviceState(const char* portName)
{
    m_nDeviceState = DEVSTATE_UNKNOWN;
    if (!portName)
        portName = "";

    char machineName[2 + 258] = "\\\\";
    DWORD length = 258;
    if (!GetComputerNameA(machineName + 2, &length))
        machineName[2] = '\0';

    m_hMachine = nullptr;
    CONFIGRET cr = m_api.ConnectMachine(machineName, &m_hMachine);
    if (cr != CR_SUCCESS) {
        char text[96];
        std::snprintf(text, sizeof text, "%sMachine Connection failed, cr= %lx(hex)\n",
                      m_copy == DEVCTL_TRANSPORT ? "GetDeviceState:" : "", static_cast<unsigned long>(cr));
        Message(DEVMSG_ERROR, text);
        m_hMachine = nullptr;
        return m_nDeviceState;
    }

    DEVINST root = 0;
    DEVINST first = 0;
    m_api.LocateRoot(&root, m_hMachine);
    m_api.GetChild(&first, root, m_hMachine);
    if (first)
        FindPortDevNode(first, portName);

    m_api.DisconnectMachine(m_hMachine);
    m_hMachine = nullptr;
    return m_nDeviceState;
}

void CPortDeviceControl::FindPortDevNode(DEVINST node, const char* portName)
{
    while (node) {
        DEVINST sibling = 0;
        if (m_api.GetSibling(&sibling, node, m_hMachine) != CR_SUCCESS)
            sibling = 0;

        char classGuid[39];
        ULONG length = sizeof classGuid;
        if (m_api.GetProperty(node, CM_DRP_CLASSGUID, nullptr, classGuid, &length, m_hMachine) == CR_SUCCESS) {
            char value[260];
            if (m_api.GetPortName(node, value, sizeof value, m_hMachine) && PortNameMatches(value, portName)) {
                // A port's own children are not ports of the same name; the levels above go on,
                // and a later match there decides.
                GetDevNodeState(node);
                return;
            }
        }

        DEVINST child = 0;
        if (m_api.GetChild(&child, node, m_hMachine) == CR_SUCCESS && child)
            FindPortDevNode(child, portName);
        node = sibling;
    }
}

CString CPortDeviceControl::GetDevNodeName(DEVINST node)
{
    char name[460];
    ULONG length = sizeof name;
    std::memset(name, 0, sizeof name);
    if (m_api.GetProperty(node, CM_DRP_FRIENDLYNAME, nullptr, name, &length, m_hMachine) == CR_SUCCESS) {
        name[sizeof name - 1] = '\0';
        return CString(name);
    }
    length = sizeof name;
    std::memset(name, 0, sizeof name);
    if (m_api.GetProperty(node, CM_DRP_DEVICEDESC, nullptr, name, &length, m_hMachine) == CR_SUCCESS) {
        name[sizeof name - 1] = '\0';
        return CString(name);
    }
    return CString("Unknown Device");
}

CString CPortDeviceControl::GetDevNodeProperty(DEVINST node, ULONG property)
{
    char buffer[1024];
    std::memset(buffer, 0, sizeof buffer);
    ULONG type = 0;
    ULONG length = sizeof buffer - 1;
    if (m_api.GetProperty(node, property, &type, buffer, &length, m_hMachine) != CR_SUCCESS)
        return CString();
    if (type == REG_DWORD) {
        DWORD value = 0;
        std::memcpy(&value, buffer, sizeof value);
        char text[16];
        std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(value));
        return CString(text);
    }
    return CString(buffer);
}

void CPortDeviceControl::GetDevNodeState(DEVINST node)
{
    ULONG status = 0;
    ULONG problem = 0;
    bool known = m_api.GetStatus(&status, &problem, node, m_hMachine) == CR_SUCCESS;
    char statusText[40] = "Fail to retrieve Device Status";
    char problemText[40] = "Fail to retrieve Device Problem";
    if (known) {
        std::snprintf(statusText, sizeof statusText, "0x%08lx", status);
        std::snprintf(problemText, sizeof problemText, "0x%08lx", problem);
    }
    CString line;
    line.Format("ID_STATUS=%s", statusText);
    Message(DEVMSG_TRACE, line);
    line.Format("ID_PROBLEM=%s", problemText);
    Message(DEVMSG_TRACE, line);

    CString flagsText = GetDevNodeProperty(node, CM_DRP_CONFIGFLAGS);
    unsigned long flags = flagsText.IsEmpty() ? 0 : std::strtoul(flagsText, nullptr, 16);

    m_nDeviceState = (known && problem == 0 && status == DEVSTATUS_ENABLED_PORT && flags == 0) ? DEVSTATE_ENABLED
                                                                                              : DEVSTATE_DISABLED;
    line.Format("CM_DRP_CONFIGFLAGS=%s", static_cast<const char*>(flagsText));
    Message(DEVMSG_TRACE, line);
}
