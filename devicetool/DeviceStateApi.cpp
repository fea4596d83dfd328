#include "DeviceStateApi.h"

#include <cstring>

namespace {

class CWin32DeviceStateApi : public IDeviceStateApi
{
public:
    void ChangeState(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD stateChange) override
    {
        // Never SetupDiChangeState: the class installer path is what the device installer
        // documents for a property change, and it leaves the refusal to the installer.
        SP_PROPCHANGE_PARAMS params;
        std::memset(&params, 0, sizeof params);
        params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
        params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
        params.StateChange = stateChange;
        params.Scope = DICS_FLAG_CONFIGSPECIFIC;
        params.HwProfile = 0;
        SetupDiSetClassInstallParamsA(devices, device, &params.ClassInstallHeader, sizeof params);
        SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, devices, device);
    }

    CONFIGRET ConnectMachine(const char* machineName, HMACHINE* machine) override
    {
        return CM_Connect_MachineA(machineName, machine);
    }

    void DisconnectMachine(HMACHINE machine) override { CM_Disconnect_Machine(machine); }

    CONFIGRET LocateRoot(DEVINST* root, HMACHINE machine) override
    {
        return CM_Locate_DevNode_ExA(root, nullptr, CM_LOCATE_DEVNODE_NORMAL, machine);
    }

    CONFIGRET GetChild(DEVINST* child, DEVINST node, HMACHINE machine) override
    {
        return CM_Get_Child_Ex(child, node, 0, machine);
    }

    CONFIGRET GetSibling(DEVINST* sibling, DEVINST node, HMACHINE machine) override
    {
        return CM_Get_Sibling_Ex(sibling, node, 0, machine);
    }

    CONFIGRET GetProperty(DEVINST node, ULONG property, ULONG* type, void* buffer, ULONG* length,
                          HMACHINE machine) override
    {
        return CM_Get_DevNode_Registry_Property_ExA(node, property, type, buffer, length, 0, machine);
    }

    CONFIGRET GetStatus(ULONG* status, ULONG* problem, DEVINST node, HMACHINE machine) override
    {
        return CM_Get_DevNode_Status_Ex(status, problem, node, 0, machine);
    }

    bool GetPortName(DEVINST node, char* buffer, DWORD size, HMACHINE machine) override
    {
        if (!size)
            return false;
        HKEY key = nullptr;
        if (CM_Open_DevNode_Key_Ex(node, KEY_READ, 0, RegDisposition_OpenExisting, &key, CM_REGISTRY_HARDWARE,
                                   machine) != CR_SUCCESS)
            return false;
        std::memset(buffer, 0, size);
        DWORD type = 0;
        DWORD len = size - 1;
        LONG r = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &len);
        RegCloseKey(key);
        return r == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ);
    }
};

} // namespace

IDeviceStateApi& Win32DeviceStateApi()
{
    static CWin32DeviceStateApi api;
    return api;
}
