#include "PortDll.h"

namespace {

template <class T>
void Bind(HMODULE module, const char* name, T& entry)
{
    entry = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

int CPortDll::LoadDll(const char* path)
{
    m_hModule = (path && *path) ? LoadLibraryA(path) : nullptr;
    if (!m_hModule)
        return 0;
    // A missing single export stays null; the callers test the entry point before each call.
    Bind(m_hModule, "SetDeviceOption", m_pSetDeviceOption);
    Bind(m_hModule, "OpenPort", m_pOpenPort);
    Bind(m_hModule, "ClosePort", m_pClosePort);
    Bind(m_hModule, "Read", m_pRead);
    Bind(m_hModule, "ReadAvailable", m_pReadAvailable);
    Bind(m_hModule, "Write", m_pWrite);
    Bind(m_hModule, "Clear", m_pClear);
    Bind(m_hModule, "IsPowerState", m_pIsPowerState);
    Bind(m_hModule, "GetASBState", m_pGetASBState);
    Bind(m_hModule, "SetObject", m_pSetObject);
    Bind(m_hModule, "CreatePort", m_pCreatePort);
    Bind(m_hModule, "CreatePort4Log", m_pCreatePort4Log);
    Bind(m_hModule, "DeletePort", m_pDeletePort);
    Bind(m_hModule, "SetWrite", m_pSetWrite);
    Bind(m_hModule, "SetStatusEvent", m_pSetStatusEvent);
    Bind(m_hModule, "CancelWrites", m_pCancelWrites);
    return 0;
}

int CPortDll::FreeDll()
{
    if (!m_hModule)
        return 0;
    m_pSetDeviceOption = nullptr;
    m_pOpenPort = nullptr;
    m_pClosePort = nullptr;
    m_pRead = nullptr;
    m_pReadAvailable = nullptr;
    m_pWrite = nullptr;
    m_pClear = nullptr;
    m_pIsPowerState = nullptr;
    m_pGetASBState = nullptr;
    m_pSetObject = nullptr;
    m_pCreatePort = nullptr;
    m_pCreatePort4Log = nullptr;
    m_pDeletePort = nullptr;
    m_pSetWrite = nullptr;
    m_pSetStatusEvent = nullptr;
    m_pCancelWrites = nullptr;
    FreeLibrary(m_hModule);
    m_hModule = nullptr;
    return 0;
}
