// The port manager's exports as a caller binds them by name, in Quillan's own argument orders
// (SetDeviceOption takes the record first, RemovePort the class first, CreatePort the names).
#pragma once

#include "DeviceOption.h"

#include <windows.h>

struct QlnApi
{
    typedef int(WINAPI* FnSetDeviceOption)(DeviceOption, int, DWORD);
    typedef int(WINAPI* FnOpenPort)(int, DWORD);
    typedef void(WINAPI* FnClosePort)(int, DWORD);
    typedef int(WINAPI* FnRead)(BYTE*, DWORD, DWORD, int, DWORD);
    typedef int(WINAPI* FnIdDev)(int, DWORD);
    typedef int(WINAPI* FnWrite)(const BYTE*, DWORD, int, DWORD);
    typedef void(WINAPI* FnClear)(int, DWORD);
    typedef int(WINAPI* FnGetASBState)(int*, int, DWORD);
    typedef int(WINAPI* FnCreatePort)(char*, char*, DWORD);
    typedef int(WINAPI* FnRemovePort)(DWORD, int);
    typedef int(WINAPI* FnNoArgs)();
    typedef int(WINAPI* FnSetWrite)(BOOL, int, DWORD);
    typedef int(WINAPI* FnSetStatusEvent)(HANDLE, int, DWORD);
};
