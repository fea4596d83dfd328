// A USB printer interface that the system's device list (SetupAPI) shows to this test process:
// what the system keeps of a present interface, written into the test's HKLM, and an
// object-manager link from the name its path opens to a pipe that stands in for the printer.
// The usb tests and the setup utility's tests share it.
#pragma once

#include "TestEnv.h"

#include <windows.h>
#include <winternl.h>

#include <string>

#define VESK_USB_DEVICE_CLASS "{a5dcbf10-6530-11d2-901f-00c04fb951ed}"

// An object-manager link from the name a USB interface path opens to a pipe, as the system links
// a real interface to its device. It lives while its handle is open.
class CInterfaceLink
{
public:
    CInterfaceLink() = default;
    CInterfaceLink(const CInterfaceLink&) = delete;
    CInterfaceLink& operator=(const CInterfaceLink&) = delete;

    bool Create(const std::string& interfaceName, const std::string& pipeName)
    {
        typedef LONG(NTAPI * CreateFn)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, UNICODE_STRING*);
        auto create = reinterpret_cast<CreateFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateSymbolicLinkObject")));
        if (!create)
            return false;
        std::wstring name = L"\\??\\" + Wide(interfaceName);
        std::wstring target = L"\\Device\\NamedPipe\\" + Wide(pipeName);
        UNICODE_STRING n = {USHORT(name.size() * 2), USHORT(name.size() * 2), &name[0]};
        UNICODE_STRING t = {USHORT(target.size() * 2), USHORT(target.size() * 2), &target[0]};
        OBJECT_ATTRIBUTES oa = {};
        oa.Length = sizeof oa;
        oa.ObjectName = &n;
        oa.Attributes = OBJ_CASE_INSENSITIVE;
        return create(&m_link, 0xF0001 /* SYMBOLIC_LINK_ALL_ACCESS */, &oa, &t) >= 0;
    }
    ~CInterfaceLink()
    {
        if (m_link)
            CloseHandle(m_link);
    }

private:
    static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
    HANDLE m_link = nullptr;
};

// The system's path of a USB device interface: built from the instance id, in lower case.
inline std::string UsbInterfacePath(const std::string& vid, const std::string& pid, const std::string& serial)
{
    std::string path = "\\\\?\\usb#vid_" + vid + "&pid_" + pid + "#" + serial + "#" VESK_USB_DEVICE_CLASS;
    for (char& c : path)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return path;
}

// Writes what the system keeps of a present USB device interface (path from UsbInterfacePath);
// false when a value cannot be written.
inline bool RegisterUsbInterface(CTestRegistry& reg, const std::string& path, const std::string& instance)
{
    std::string key = "System\\CurrentControlSet\\Control\\DeviceClasses\\" VESK_USB_DEVICE_CLASS "\\##?#" + path.substr(4);
    std::string device = "System\\CurrentControlSet\\Enum\\" + instance;
    return reg.SetString(key.c_str(), "DeviceInstance", instance.c_str()) &&
           reg.SetString((key + "\\#").c_str(), "SymbolicLink", path.c_str()) &&
           reg.SetDWORD((key + "\\#\\Control").c_str(), "Linked", 1) &&
           reg.SetString(device.c_str(), "ClassGUID", "{36fc9e60-c465-11cf-8056-444553540000}") &&
           reg.SetString(device.c_str(), "DeviceDesc", "VESK label printer");
}
