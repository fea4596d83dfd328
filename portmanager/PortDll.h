// CPortDll: one transport library (com, lpt, usb or net) loaded by full path, with its port API
// entry points bound by name. The signatures are the transports' own argument orders.
#pragma once

#include "DeviceOption.h"

#include <windows.h>

typedef int(WINAPI* PFN_SETDEVICEOPTION)(int id, DeviceOption dop, DWORD devType);
typedef int(WINAPI* PFN_OPENPORT)(int id, DWORD devType);
typedef void(WINAPI* PFN_CLOSEPORT)(int id, DWORD devType);
typedef int(WINAPI* PFN_READ)(BYTE* buf, int len, DWORD timeout, int id, DWORD devType);
typedef int(WINAPI* PFN_READAVAILABLE)(int id, DWORD devType);
typedef int(WINAPI* PFN_WRITE)(const BYTE* buf, int len, int id, DWORD devType);
typedef void(WINAPI* PFN_CLEAR)(int id, DWORD devType);
typedef int(WINAPI* PFN_ISPOWERSTATE)(int id, DWORD devType);
typedef int(WINAPI* PFN_GETASBSTATE)(int* asb, int id, DWORD devType);
typedef void*(WINAPI* PFN_SETOBJECT)(int id);
typedef int(WINAPI* PFN_CREATEPORT)();
typedef int(WINAPI* PFN_CREATEPORT4LOG)(DWORD useBinary, DWORD usePortLog, char* installPath);
typedef int(WINAPI* PFN_DELETEPORT)(int id);
typedef int(WINAPI* PFN_SETWRITE)(int isWrite, int id, DWORD devType);
typedef int(WINAPI* PFN_SETSTATUSEVENT)(HANDLE event, int id, DWORD devType);
typedef void(WINAPI* PFN_CANCELWRITES)(int id, DWORD devType);

class CPortDll
{
public:
    CPortDll() {}
    // Does not unload: FreeDll does, and only FreeChildDll calls it.
    virtual ~CPortDll() {}
    CPortDll(const CPortDll&) = delete;
    CPortDll& operator=(const CPortDll&) = delete;

    int LoadDll(const char* path);
    int FreeDll();

    HMODULE m_hModule = nullptr;
    PFN_SETDEVICEOPTION m_pSetDeviceOption = nullptr;
    PFN_OPENPORT m_pOpenPort = nullptr;
    PFN_CLOSEPORT m_pClosePort = nullptr;
    PFN_READ m_pRead = nullptr;
    PFN_READAVAILABLE m_pReadAvailable = nullptr;
    PFN_WRITE m_pWrite = nullptr;
    PFN_CLEAR m_pClear = nullptr;
    PFN_ISPOWERSTATE m_pIsPowerState = nullptr;
    PFN_GETASBSTATE m_pGetASBState = nullptr;
    PFN_SETOBJECT m_pSetObject = nullptr;
    PFN_CREATEPORT m_pCreatePort = nullptr;
    PFN_CREATEPORT4LOG m_pCreatePort4Log = nullptr;
    PFN_DELETEPORT m_pDeletePort = nullptr;
    PFN_SETWRITE m_pSetWrite = nullptr;
    PFN_SETSTATUSEVENT m_pSetStatusEvent = nullptr;  // optional: not every transport has it
    PFN_CANCELWRITES m_pCancelWrites = nullptr;      // optional: not every transport has it
};
