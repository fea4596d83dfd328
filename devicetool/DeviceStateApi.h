// The device installer and Configuration Manager calls that change or read the state of a device.
//
// They are kept behind this small interface because they are the part of the device control
// that only a real device tree can answer; the "Ports" device lookup itself calls SetupAPI
// directly. The production form (Win32DeviceStateApi) calls the system; tests script a tree.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

class IDeviceStateApi
{
public:
    virtual ~IDeviceStateApi() {}

    // Hands DIF_PROPERTYCHANGE with DICS_ENABLE or DICS_DISABLE (current hardware profile) for
    // one device of the list to its class installer. The installer's answer is not reported:
    // only a later state query tells whether the change took effect.
    virtual void ChangeState(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD stateChange) = 0;

    // Configuration Manager on one machine connection.
    virtual CONFIGRET ConnectMachine(const char* machineName, HMACHINE* machine) = 0;
    virtual void DisconnectMachine(HMACHINE machine) = 0;
    virtual CONFIGRET LocateRoot(DEVINST* root, HMACHINE machine) = 0;
    virtual CONFIGRET GetChild(DEVINST* child, DEVINST node, HMACHINE machine) = 0;
    virtual CONFIGRET GetSibling(DEVINST* sibling, DEVINST node, HMACHINE machine) = 0;
    virtual CONFIGRET GetProperty(DEVINST node, ULONG property, ULONG* type, void* buffer, ULONG* length,
                                  HMACHINE machine) = 0;
    virtual CONFIGRET GetStatus(ULONG* status, ULONG* problem, DEVINST node, HMACHINE machine) = 0;
    // The "PortName" value of the node's hardware key ("Device Parameters"), NUL-terminated in
    // buffer; false when the key or the value cannot be read.
    virtual bool GetPortName(DEVINST node, char* buffer, DWORD size, HMACHINE machine) = 0;
};

// The system's device installer and Configuration Manager.
IDeviceStateApi& Win32DeviceStateApi();
