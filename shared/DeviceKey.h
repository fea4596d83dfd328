// The device keys under ServiceOPOS: the device classes the setup utility knows, and the making
// of a new device key from a model section of a class INF file in the install folder.
#pragma once

#include "FxString.h"

#include <windows.h>

#include <vector>

class IUsbInterfaceSource;

// The device class codes (the DevType bits of the port calls).
enum DeviceClassCode
{
    DEVCLASS_POSPRINTER = 1,
    DEVCLASS_CASHDRAWER = 2,
    DEVCLASS_LINEDISPLAY = 4,
    DEVCLASS_MSR = 8,
    DEVCLASS_SMARTCARD = 16,
    DEVCLASS_LABELPRINTER = 32,
};

// Interfaces a model offers (Porttype_N).
enum PortCapabilityMask
{
    PORTCAP_SERIAL = 0x01,
    PORTCAP_BLUETOOTH = 0x02,
    PORTCAP_PARALLEL = 0x04,
    PORTCAP_USB = 0x08,
    PORTCAP_ETHERNET = 0x10,
    PORTCAP_WIRELESS = 0x20,
};

struct DeviceClassInfo
{
    int code;
    const char* classKey;     // subkey of ServiceOPOS
    const char* deviceClass;  // the DeviceClass text
    const char* classInf;     // class INF file in the install folder
    int captionId;            // string id of the device tree category
};

// The class of a code, or NULL for a code the system does not know.
const DeviceClassInfo* FindDeviceClass(int classCode);

// "Software\OLEforRetail\ServiceOPOS\<class key>" of a class code ("" for an unknown code).
CString ClassKeyPath(int classCode);

// The names of a class key's subkeys in the registry's order; with stopAtBracket, up to the first
// that begins with "[" (the keys from there on are no devices). Empty when the class key does not
// open with access.
std::vector<CString> ListDeviceKeys(const CString& classKey, bool stopAtBracket, REGSAM access = KEY_READ);

// Whether the USB printer of the interface path devicePath is held by a device key of classKey
// other than exceptKey: one whose UsbDeviceName is that path while its Port is still a USB port.
bool UsbDeviceHeld(const CString& classKey, const CString& devicePath, const CString& exceptKey);

// The section names of an INF (profile) file in their order, each whole however long the list
// is. Empty when the file is missing or has no sections.
std::vector<CString> ListInfSections(const CString& infPath);

// Makes the device key of model `section` (a section of the class INF of classCode in
// installDir): names it section, section_1, ... as the same-model keys require, writes every
// value of a new device and returns TRUE with the key name in keyName. FALSE, with nothing
// written, for a class it cannot make keys for or a model whose INF texts (or setup.inf's
// Version) are missing. A write the registry refuses: FALSE, the key removed again when this call
// made it, and its name in keyName. usbSource: the USB interface walk (NULL: the system's).
BOOL CreateDeviceKey(int classCode, const CString& section, const CString& installDir, CString& keyName,
                     IUsbInterfaceSource* usbSource = nullptr);
