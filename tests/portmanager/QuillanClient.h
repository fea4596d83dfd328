// The port manager as its callers see it: loaded by path, its fourteen exports bound by name, in
// Quillan's own argument orders. Strings and records go across as the by-value handles a real
// caller builds.
#pragma once

#include "DeviceOption.h"
#include "PortManagerApi.h"

#include <windows.h>

#include <string>

class QuillanClient : public QlnApi
{
public:
    QuillanClient() {}
    ~QuillanClient() { Unload(); }
    QuillanClient(const QuillanClient&) = delete;
    QuillanClient& operator=(const QuillanClient&) = delete;

    // Loads the library fresh (a previous instance must be unloaded); false when any export is missing.
    bool Load(const std::string& path);
    void Unload();
    bool Loaded() const { return m_module != nullptr; }

    int CreatePort(const char* devName, const char* port, DWORD devType);
    int SetDeviceOption(const DeviceOption& dop, int id, DWORD devType);
    int Write(const std::string& bytes, int id, DWORD devType);

    FnCreatePort pCreatePort = nullptr;
    FnRemovePort RemovePort = nullptr;
    FnSetDeviceOption pSetDeviceOption = nullptr;
    FnOpenPort OpenPort = nullptr;
    FnClosePort ClosePort = nullptr;
    FnWrite pWrite = nullptr;
    FnRead Read = nullptr;
    FnIdDev ReadAvailable = nullptr;
    FnClear Clear = nullptr;
    FnIdDev IsPowerState = nullptr;
    FnGetASBState GetASBState = nullptr;
    FnSetWrite SetWrite = nullptr;
    FnSetStatusEvent SetStatusEvent = nullptr;
    FnNoArgs LoadChildDll = nullptr;
    FnNoArgs FreeChildDll = nullptr;

private:
    HMODULE m_module = nullptr;
};

