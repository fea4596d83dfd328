#include "QuillanClient.h"

namespace {
template <class T>
bool Bind(HMODULE m, const char* name, T& fn)
{
    fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, name)));
    return fn != nullptr;
}
}

bool QuillanClient::Load(const std::string& path)
{
    Unload();
    m_module = LoadLibraryA(path.c_str());
    if (!m_module)
        return false;
    bool ok = true;
    ok &= Bind(m_module, "CreatePort", pCreatePort);
    ok &= Bind(m_module, "RemovePort", RemovePort);
    ok &= Bind(m_module, "SetDeviceOption", pSetDeviceOption);
    ok &= Bind(m_module, "OpenPort", OpenPort);
    ok &= Bind(m_module, "ClosePort", ClosePort);
    ok &= Bind(m_module, "Write", pWrite);
    ok &= Bind(m_module, "Read", Read);
    ok &= Bind(m_module, "ReadAvailable", ReadAvailable);
    ok &= Bind(m_module, "Clear", Clear);
    ok &= Bind(m_module, "IsPowerState", IsPowerState);
    ok &= Bind(m_module, "GetASBState", GetASBState);
    ok &= Bind(m_module, "SetWrite", SetWrite);
    ok &= Bind(m_module, "SetStatusEvent", SetStatusEvent);
    ok &= Bind(m_module, "LoadChildDll", LoadChildDll);
    ok &= Bind(m_module, "FreeChildDll", FreeChildDll);
    return ok;
}

void QuillanClient::Unload()
{
    if (m_module)
        FreeLibrary(m_module);
    m_module = nullptr;
}

int QuillanClient::CreatePort(const char* devName, const char* port, DWORD devType)
{
    CString d(devName), p(port);
    return pCreatePort(d.AddRefHandle(), p.AddRefHandle(), devType);
}

int QuillanClient::SetDeviceOption(const DeviceOption& dop, int id, DWORD devType)
{
    return pSetDeviceOption(DeviceOptionCopy(dop), id, devType);
}

int QuillanClient::Write(const std::string& bytes, int id, DWORD devType)
{
    return pWrite(reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()), id, devType);
}

