// What the printer configuration dialog's files share: message ids, the interface codes, the
// line display models and the small INF, registry and port helpers.
#pragma once

#include "FxString.h"

#include <windows.h>
#include <setupapi.h>

#include <functional>
#include <vector>

namespace cfgprn {
const UINT kMsgPortUsed = 61, kMsgLdnRefused = 66, kMsgInfFailed = 67, kMsgRegistryFailed = 68, kMsgNoUsb = 69,
           kMsgInstalled = 70, kMsgOutputBuffer = 71, kMsgClaimError = 72, kMsgOpenError = 73,
           kMsgWrongInterface = 75;
const int kWidth = 595, kHeight = 341;
const long kClaimTimeout = 100, kHealthInteractive = 3;
enum { kSerial = 0, kParallel = 1, kUsb = 2, kEthernet = 3 };

const char* const kBaudRates[] = {"9600", "19200", "38400", "57600", "115200"};

// Line display models: the name that begins their virtual COM port's friendly name and that
// their driver's installer takes. 5001 has no virtual port.
const DWORD kDisplayThroughPrinter = 5004, kDisplayWithoutVCom = 5001;
inline const char* DisplayModelName(DWORD model)
{
    switch (model) {
    case 5002: return "VDX-A1";
    case 5003:
    case 5005: return "VDX-A2";
    case 5004: return "VDX-A3";
    default: return nullptr;
    }
}
const char kVComQuestion[] = "If you use USB cable, you have to install VCom Driver for LineDisplay.\r\n"
                             "Do you want to install VCom Driver?\r\n";
const char kVComInstaller[] = "VDXVComInstaller\\VDXVComInstaller.exe /mn ";
const char kMsgNoHostPrinter[] = "No printer available to connect.";
const char kMsgTcpPortRange[] = "TCP Port: enter a number from 1 to 65535.";
const char kMsgIpAddress[] = "IP address: enter all four numbers of the printer's address (not 0.0.0.0).";
const long kMaxBufferSize = 1048576;
const char kMsgInputBuffer[] = "Input buffer: enter a number from 1 to 1048576.";
const char kMsgNoPort[] = "No port selected: choose a port that no other device uses.";
const char kMsgNoUsbPrinter[] = "No free USB printer of this model: connect one or choose another interface.";

// What the dialog shows of the binding, and what the registry holds of it.
struct BindingState
{
    bool addMode = false;
    int interfaceType = -1;
    CString selected;           // the selected port or USB printer name ("": nothing selected)
    bool selectedHeld = false;  // another device key holds the selection
    CString selectedUsbPath;    // USB: the selected printer's interface path
    DWORD selectedUsbCount = 0;
    CString storedPort;         // Port as the key held it when the dialog opened
    CString storedUsbPath;      // UsbDeviceName as the key held it
    bool storedHeld = false;    // another device key holds the stored port (USB: its printer)
    CString tcpIp;              // Ethernet: the address shown
    bool portUnused = false;    // a display that goes through its host printer: no port is opened
    bool tcpIpWhole = false;    // all four fields filled, and not 0.0.0.0
    bool tcpPortEmpty = false;
    int tcpPort = 0;
};

// The binding a save writes: Port (and UsbDeviceName and UsbCount, or TcpIp and TcpPort), or that
// the stored binding stays as it is, or a refusal with the message that says why.
struct PortBinding
{
    int interfaceType = -1;
    CString port;
    bool keepStored = false;
    CString usbPath;
    DWORD usbCount = 0;
    CString tcpIp;
    DWORD tcpPort = 0;
    CString refusal;
    bool Refused() const { return !refusal.IsEmpty(); }
};

// The one rule that decides what a save binds the key to. The selection is saved when no other
// key holds it; with nothing selected, only a modified key keeps a stored binding of the same
// interface that no other key holds (a port merely not listed now). Everything else is refused.
PortBinding ComputeBinding(const BindingState& s);

CString InfString(const char* section, const char* key, const char* def, const CString& file);
DWORD InfInt(const char* section, const char* key, int def, const CString& file);
CString Decimal(long v);
CString WithoutTrailingBackslash(const CString& path);
// Calls fn for each present device of the "Ports" class that has a readable PortName; FALSE when
// the class or its devices cannot be listed.
BOOL ForEachPresentPort(const std::function<void(HDEVINFO, SP_DEVINFO_DATA&, const char*)>& fn);
}
