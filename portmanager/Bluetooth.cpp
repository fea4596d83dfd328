// Bluetooth stack detection: the stack of a Bluetooth virtual COM port is told by the provider
// of its "Ports" class device's driver.
#include "Quillan.h"

#include <setupapi.h>

#include <cstring>
#include <vector>

int BtStackTypeFromProvider(const char* provider)
{
    if (!provider)
        return 0;
    if (std::strstr(provider, "Microsoft"))
        return 1;
    if (std::strstr(provider, "TOSHIBA"))
        return 2;
    if (std::strstr(provider, "IVT"))
        return 3;
    return 0;
}

namespace {

int GetProviderName(int id, HDEVINFO devs, SP_DEVINFO_DATA* info, DWORD devType)
{
    SP_DEVINSTALL_PARAMS_A params;
    std::memset(&params, 0, sizeof params);
    params.cbSize = sizeof params;
    if (!SetupDiGetDeviceInstallParamsA(devs, info, &params))
        QlnLine(devType, "GetProviderName<dwId : %d> : SetupDiGetDeviceInstallParams failed with (%d)", id, int(GetLastError()));
    if (!SetupDiSetDeviceInstallParamsA(devs, info, &params))
        QlnLine(devType, "GetProviderName<dwId : %d> : SetupDiSetDeviceInstallParams failed with (%d)", id, int(GetLastError()));
    if (!SetupDiBuildDriverInfoList(devs, info, SPDIT_COMPATDRIVER))
        QlnLine(devType, "GetProviderName<dwId : %d> : SetupDiBuildDriverInfoList failed with (%d)", id, int(GetLastError()));

    int value = 0;
    SP_DRVINFO_DATA_A drv;
    for (DWORD i = 0;; ++i) {
        std::memset(&drv, 0, sizeof drv);
        drv.cbSize = sizeof drv;
        if (!SetupDiEnumDriverInfoA(devs, info, SPDIT_COMPATDRIVER, i, &drv))
            break;
        drv.ProviderName[sizeof drv.ProviderName - 1] = 0;
        drv.MfgName[sizeof drv.MfgName - 1] = 0;
        drv.Description[sizeof drv.Description - 1] = 0;
        QlnLine(devType, "GetProviderName<dwId : %d> : DriverInfo.ProviderName = %s", id, drv.ProviderName);
        QlnLine(devType, "GetProviderName<dwId : %d> : DriverInfo.MfgName = %s", id, drv.MfgName);
        QlnLine(devType, "GetProviderName<dwId : %d> : DriverInfo.Description = %s", id, drv.Description);
        QlnLine(devType, "GetProviderName<dwId : %d> : DriverInfo.DriverType = %d", id, int(drv.DriverType));
        value = BtStackTypeFromProvider(drv.ProviderName);
    }
    SetupDiDestroyDriverInfoList(devs, info, SPDIT_COMPATDRIVER);
    return value;
}

} // namespace

int GetBluetoothStackType(int id, const CString& portName, DWORD devType)
{
    DWORD count = 0;
    SetupDiClassGuidsFromNameA("Ports", nullptr, 0, &count);
    if (count == 0)
        return 0;
    std::vector<GUID> guids(count);
    if (!SetupDiClassGuidsFromNameA("Ports", guids.data(), count, &count) || count == 0)
        return 0;
    HDEVINFO devs = SetupDiGetClassDevsA(&guids[0], nullptr, nullptr, DIGCF_PRESENT);
    if (devs == INVALID_HANDLE_VALUE)
        return 0;

    int result = 0;
    SP_DEVINFO_DATA info;
    for (DWORD i = 0;; ++i) {
        std::memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        if (!SetupDiEnumDeviceInfo(devs, i, &info))
            break;
        HKEY key = SetupDiOpenDevRegKey(devs, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        char name[260] = {};
        DWORD size = sizeof name - 1;  // room for the NUL a value may lack
        DWORD type = 0;
        LONG r = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
        RegCloseKey(key);
        if (r != ERROR_SUCCESS)
            continue;
        QlnLine(devType, "GetBluetoothStackType<dwId : %d> : RegQueryValueEx, PortName = %s, Length = %d", id, name, int(size));
        if (portName == name)
            result = GetProviderName(id, devs, &info, devType);
    }
    SetupDiDestroyDeviceInfoList(devs);
    return result;
}
