// CRegistUsb: the USB printer devices that are present and can be opened, found through the
// device interfaces of the USB device class. Each entry carries a short name for the user
// ("USB001:", ...), the ids cut from its interface path and its rank among the devices of the
// same product id, so that a stored device can be found again after it moved to another socket.
#pragma once

#include "FxColl.h"
#include "FxString.h"

#include <windows.h>

// One listed device. Copies copy all five fields; a copy is the search key of FindDevicePath.
struct UsbDeviceEntry
{
    int nOrdinal = 0;         // 1 + devices listed before it with the same product id
    CString strDevicePath;    // interface path, upper-cased, as used to open the device
    CString strUsbName;       // "USB%03d:" by list position
    CString strPid;           // product id, 4 hex characters, upper case
    CString strVid;           // vendor id, 4 hex characters, upper case
};

// The walk over the interfaces of one device interface class. The production form is SetupAPI
// (SetupDiGetClassDevsA, SetupDiEnumDeviceInterfaces, SetupDiGetDeviceInterfaceDetailA); tests
// script the devices that are plugged in.
class IUsbInterfaceSource
{
public:
    virtual ~IUsbInterfaceSource() {}
    // Starts a walk over the present interfaces of the class; false when none can be listed.
    virtual bool Begin(const GUID& interfaceClass) = 0;
    // The interface path at index: ERROR_SUCCESS, ERROR_NO_MORE_ITEMS past the end, or another
    // error for an interface that cannot be read (it is skipped).
    virtual DWORD GetInterfacePath(DWORD index, CString& path) = 0;
    virtual void End() = 0;
};

// The SetupAPI walk. Each CRegistUsb without a given source has its own.
class CSetupApiInterfaceSource : public IUsbInterfaceSource
{
public:
    ~CSetupApiInterfaceSource() override { End(); }
    bool Begin(const GUID& interfaceClass) override;
    DWORD GetInterfacePath(DWORD index, CString& path) override;
    void End() override;

private:
    void* m_devInfo = nullptr;  // HDEVINFO
    GUID m_class = {};
};

// GUID_DEVINTERFACE_USB_DEVICE {A5DCBF10-6530-11D2-901F-00C04FB951ED}
extern const GUID VESK_GUID_DEVINTERFACE_USB_DEVICE;

// Offsets of the ids in an interface path ("\\?\USB#VID_vvvv&PID_pppp#...").
enum
{
    USBPATH_VID_OFFSET = 12,
    USBPATH_PID_OFFSET = 21,
    USBPATH_ID_LENGTH = 4,
};

class CRegistUsb
{
public:
    // source: the interface walk to use; NULL: SetupAPI. The object does not own it.
    explicit CRegistUsb(IUsbInterfaceSource* source = nullptr);
    virtual ~CRegistUsb();
    CRegistUsb(const CRegistUsb&) = delete;
    CRegistUsb& operator=(const CRegistUsb&) = delete;

    // Empties the list, rebuilds it from the devices present, returns the count.
    int EnumerateUsbDevices();
    // The entry at index (0-based), NULL outside 0..count-1. Valid until the next enumeration.
    UsbDeviceEntry* GetDeviceAt(int index);
    // The entry with this short name (case-sensitive), or NULL.
    UsbDeviceEntry* FindDeviceByName(const CString& name);
    // The path to open for a stored device: its own path when present, else the path of the
    // device with the same product id (and vendor id, when the key has one: a device of another
    // maker never stands in) at the key's rank (lowered to the last one present), else empty.
    // Ids compare without regard to case.
    CString FindDevicePath(UsbDeviceEntry key);
    // The listed path of the device with this path (paths compare without regard to case, as
    // the system opens them), or empty when it is not listed.
    CString ListedPath(const CString& path);
    // How many listed devices are of the key's model (vendor and product id both equal); the
    // path of the first of them in *first.
    int CountSameModel(const UsbDeviceEntry& key, CString* first);
    // The path to open for a stored device (the key's path and ids): its listed path when it is
    // listed; otherwise the path of another device of the same vendor and product id only when
    // it is the only such device listed (two identical printers never bind to one); otherwise
    // empty. *storedListed, when given, says whether the stored device itself is listed.
    CString PathForStoredDevice(const UsbDeviceEntry& key, bool* storedListed = nullptr);
    void RemoveAllDevices();
    int GetCount() const { return m_list.GetCount(); }

    // Ids cut from a path at the fixed offsets (empty when the path is too short).
    static CString PidOfPath(const CString& path);
    static CString VidOfPath(const CString& path);
    // a-z to A-Z in place; every other byte stays.
    static void MakeUpper(char* text);

private:
    void EnumerateInterfaces(const GUID& interfaceClass);
    HANDLE OpenDeviceInterface(const CString& path);
    void AddUsbDevice(const CString& devicePath);
    CString GetDeviceInstance(const CString& devicePath);
    static BOOL IsWin9x();

    CSetupApiInterfaceSource m_setupApi;
    IUsbInterfaceSource* m_source;
    CPtrList m_list;  // UsbDeviceEntry*, in the order added
};
