#include "RegistUsb.h"

#include <setupapi.h>

#include <cstring>
#include <vector>

const GUID VESK_GUID_DEVINTERFACE_USB_DEVICE = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// --- SetupAPI walk -------------------------------------------------------------------------

bool CSetupApiInterfaceSource::Begin(const GUID& interfaceClass)
{
    End();
    m_class = interfaceClass;
    HDEVINFO info = SetupDiGetClassDevsA(&m_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (info == INVALID_HANDLE_VALUE)
        return false;
    m_devInfo = info;
    return true;
}

DWORD CSetupApiInterfaceSource::GetInterfacePath(DWORD index, CString& path)
{
    path.Empty();
    if (!m_devInfo)
        return ERROR_NO_MORE_ITEMS;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    if (!SetupDiEnumDeviceInterfaces(m_devInfo, nullptr, &m_class, index, &data))
        return GetLastError();
    // Once for the size, then into a buffer of that size.
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailA(m_devInfo, &data, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return ERROR_INVALID_DATA;
    std::vector<BYTE> buffer(needed + 1, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(m_devInfo, &data, detail, needed, nullptr, nullptr))
        return GetLastError();
    path = detail->DevicePath;
    return ERROR_SUCCESS;
}

void CSetupApiInterfaceSource::End()
{
    if (m_devInfo)
        SetupDiDestroyDeviceInfoList(m_devInfo);
    m_devInfo = nullptr;
}

// --- the list ------------------------------------------------------------------------------

CRegistUsb::CRegistUsb(IUsbInterfaceSource* source) : m_source(source ? source : &m_setupApi), m_list(10) {}

CRegistUsb::~CRegistUsb() { RemoveAllDevices(); }

int CRegistUsb::EnumerateUsbDevices()
{
    RemoveAllDevices();
    EnumerateInterfaces(VESK_GUID_DEVINTERFACE_USB_DEVICE);
    return m_list.GetCount();
}

void CRegistUsb::EnumerateInterfaces(const GUID& interfaceClass)
{
    if (!m_source->Begin(interfaceClass))
        return;
    // Batches of interface indices 0..127, ..255, ..511, ...: once a batch brought an openable
    // device, later batches are not looked at.
    DWORD batchEnd = 127;
    bool opened = false;
    for (DWORD index = 0; index < 0x10000; ++index) {
        CString path;
        DWORD r = m_source->GetInterfacePath(index, path);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r == ERROR_SUCCESS) {
            HANDLE h = OpenDeviceInterface(path);
            if (h != INVALID_HANDLE_VALUE) {
                CloseHandle(h);
                opened = true;
                char buf[MAX_PATH];
                std::memcpy(buf, path.GetString(), size_t(path.GetLength()) + 1);
                MakeUpper(buf);
                AddUsbDevice(CString(buf));
            }
        }
        if (index == batchEnd) {
            if (opened)
                break;
            batchEnd = batchEnd * 2 + 1;
        }
    }
    m_source->End();
}

HANDLE CRegistUsb::OpenDeviceInterface(const CString& path)
{
    // The path is handled in a MAX_PATH buffer: longer ones are not listed.
    if (path.IsEmpty() || path.GetLength() >= MAX_PATH)
        return INVALID_HANDLE_VALUE;
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       0, nullptr);
}

void CRegistUsb::AddUsbDevice(const CString& devicePath)
{
    CString vid, pid;
    if (IsWin9x()) {
        CString instance = GetDeviceInstance(devicePath);
        if (instance.IsEmpty())
            return;
        vid = instance.Mid(8, USBPATH_ID_LENGTH);
        pid = instance.Mid(17, USBPATH_ID_LENGTH);
    } else {
        vid = VidOfPath(devicePath);
        pid = PidOfPath(devicePath);
    }
    auto* entry = new UsbDeviceEntry;
    int same = 0;
    for (POSITION pos = m_list.GetHeadPosition(); pos;) {
        auto* e = static_cast<UsbDeviceEntry*>(m_list.GetNext(pos));
        if (e->strPid.CompareNoCase(pid) == 0)
            ++same;
    }
    entry->nOrdinal = same + 1;
    entry->strDevicePath = devicePath;
    entry->strUsbName.Format("USB%03d:", m_list.GetCount() + 1);
    entry->strPid = pid;
    entry->strVid = vid;
    m_list.AddTail(entry);
}

CString CRegistUsb::GetDeviceInstance(const CString& devicePath)
{
    if (devicePath.GetLength() < 4)
        return CString();
    CString key = "System\\CurrentControlSet\\Control\\DeviceClasses\\{a5dcbf10-6530-11d2-901f-00c04fb951ed}\\##.#";
    key += devicePath.Mid(4);
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h) != ERROR_SUCCESS)
        return CString();
    char buf[256] = {};
    DWORD type = 0, size = 255;
    LONG r = RegQueryValueExA(h, "DeviceInstance", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS || type != REG_SZ)
        return CString();
    buf[255] = 0;
    MakeUpper(buf);
    return CString(buf);
}

BOOL CRegistUsb::IsWin9x()
{
    DWORD v = GetVersion();
    if (!(v & 0x80000000))
        return HIWORD(v) == 0;
    return LOBYTE(LOWORD(v)) > 3 || (HIWORD(v) & 0x7FFF) == 0;
}

void CRegistUsb::MakeUpper(char* text)
{
    for (; text && *text; ++text)
        if (*text >= 'a' && *text <= 'z')
            *text = char(*text - 'a' + 'A');
}

CString CRegistUsb::PidOfPath(const CString& path)
{
    if (path.GetLength() < USBPATH_PID_OFFSET + USBPATH_ID_LENGTH)
        return CString();
    return path.Mid(USBPATH_PID_OFFSET, USBPATH_ID_LENGTH);
}

CString CRegistUsb::VidOfPath(const CString& path)
{
    if (path.GetLength() < USBPATH_VID_OFFSET + USBPATH_ID_LENGTH)
        return CString();
    return path.Mid(USBPATH_VID_OFFSET, USBPATH_ID_LENGTH);
}

UsbDeviceEntry* CRegistUsb::GetDeviceAt(int index)
{
    if (index < 0 || index >= m_list.GetCount())
        return nullptr;
    POSITION pos = m_list.GetHeadPosition();
    for (int i = 0; i < index; ++i)
        m_list.GetNext(pos);
    return static_cast<UsbDeviceEntry*>(m_list.GetAt(pos));
}

UsbDeviceEntry* CRegistUsb::FindDeviceByName(const CString& name)
{
    for (POSITION pos = m_list.GetHeadPosition(); pos;) {
        auto* e = static_cast<UsbDeviceEntry*>(m_list.GetNext(pos));
        if (e->strUsbName.Compare(name) == 0)
            return e;
    }
    return nullptr;
}

namespace {

bool SameProduct(const UsbDeviceEntry& e, const UsbDeviceEntry& key)
{
    return !key.strPid.IsEmpty() && e.strPid.CompareNoCase(key.strPid) == 0 &&
           (key.strVid.IsEmpty() || e.strVid.CompareNoCase(key.strVid) == 0);
}

}  // namespace

CString CRegistUsb::FindDevicePath(UsbDeviceEntry key)
{
    int matching = 0;
    for (POSITION pos = m_list.GetHeadPosition(); pos;) {
        auto* e = static_cast<UsbDeviceEntry*>(m_list.GetNext(pos));
        if (e->strDevicePath.Compare(key.strDevicePath) == 0)
            return e->strDevicePath;
        if (SameProduct(*e, key))
            ++matching;
    }
    if (matching == 0 || key.nOrdinal <= 0)
        return CString();
    int n = key.nOrdinal < matching ? key.nOrdinal : matching;
    for (POSITION pos = m_list.GetHeadPosition(); pos;) {
        auto* e = static_cast<UsbDeviceEntry*>(m_list.GetNext(pos));
        if (SameProduct(*e, key) && --n == 0)
            return e->strDevicePath;
    }
    return CString();
}

CString CRegistUsb::ListedPath(const CString& path)
{
    for (POSITION pos = m_list.GetHeadPosition(); pos;) {
        auto* e = static_cast<UsbDeviceEntry*>(m_list.GetNext(pos));
        if (!path.IsEmpty() && e->strDevicePath.CompareNoCase(path) == 0)
            return e->strDevicePath;
    }
    return CString();
}

int CRegistUsb::CountSameModel(const UsbDeviceEntry& key, CString* first)
{
    int n = 0;
    for (POSITION pos = m_list.GetHeadPosition(); pos;) {
        auto* e = static_cast<UsbDeviceEntry*>(m_list.GetNext(pos));
        if (key.strVid.IsEmpty() || !SameProduct(*e, key))
            continue;
        if (n++ == 0 && first)
            *first = e->strDevicePath;
    }
    return n;
}

CString CRegistUsb::PathForStoredDevice(const UsbDeviceEntry& key, bool* storedListed)
{
    CString listed = ListedPath(key.strDevicePath);
    if (storedListed)
        *storedListed = !listed.IsEmpty();
    if (!listed.IsEmpty())
        return listed;
    CString only;
    if (CountSameModel(key, &only) != 1)
        return CString();
    return only;
}

void CRegistUsb::RemoveAllDevices()
{
    while (!m_list.IsEmpty())
        delete static_cast<UsbDeviceEntry*>(m_list.RemoveHead());
}
