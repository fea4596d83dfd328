// Port device control: finds the "Ports" device behind a serial port name, tells whether it is
// enabled, and enables or disables it through the device installer.
//
// Compiled into the device enable tool (one object per process) and into the serial transport
// (one object per port). A device belongs to a port when its "PortName" value begins with "COM"
// and equals the port name exactly, case included: COM1 never matches the device of COM10.
//
//   CPortDeviceControl ctl(Win32DeviceStateApi(), sink, DEVCTL_TRANSPORT);
//   if (ctl.GetDeviceState("COM5") == 1) { ctl.ControlComPortDevice("COM5", 0); ... }
#pragma once

#include "DeviceStateApi.h"
#include "FxString.h"

// Which copy a control object is; it decides two texts of the messages below.
enum DeviceControlCopy
{
    DEVCTL_TOOL,      // the console tool: no entry line, "Machine Connection failed, ..."
    DEVCTL_TRANSPORT, // the serial transport: "+ControlComPortDevice", "GetDeviceState:Machine ..."
};

// How a message is meant to be logged by the serial transport (the tool discards them all).
enum DeviceMessageKind
{
    DEVMSG_CALL,  // plain line, when the port's error lines are on
    DEVMSG_ERROR, // error line, when the port's error lines are on
    DEVMSG_TRACE, // plain line, when the port's trace lines are on
    DEVMSG_TOOL,  // a progress text of the console tool itself
};

class IDeviceMessageSink
{
public:
    virtual ~IDeviceMessageSink() {}
    virtual void DeviceMessage(DeviceMessageKind kind, const char* text) = 0;
};

// Device states.
enum
{
    DEVSTATE_UNKNOWN = -1,
    DEVSTATE_DISABLED = 0,
    DEVSTATE_ENABLED = 1,
};

// The status flags of a started, enabled port: DN_DRIVER_LOADED, DN_STARTED, DN_DISABLEABLE,
// DN_REMOVABLE, DN_NT_ENUMERATOR and DN_NT_DRIVER, and nothing else.
const ULONG DEVSTATUS_ENABLED_PORT = 0x0180600A;

// True when a "PortName" value names the port (see the top of this file).
bool PortNameMatches(const char* value, const char* portName);

class CPortDeviceControl
{
public:
    CPortDeviceControl(IDeviceStateApi& api, IDeviceMessageSink& sink, DeviceControlCopy copy);

    // Requested state 0 disables, any other value enables. 1: the device was found and the
    // change handed to its class installer (whatever it answered; 500 ms are waited after it);
    // 0: no present "Ports" device carries the port name; -1: the "Ports" class or its list of
    // present devices could not be obtained.
    int ControlComPortDevice(const char* portName, int state);

    // Reads the state of the port's device node: 1 enabled and running, 0 disabled or not
    // running as required, -1 unknown (no device tree connection, or no node matched). Each call
    // starts from -1; the result is also kept in DeviceState().
    int GetDeviceState(const char* portName);
    int DeviceState() const { return m_nDeviceState; }

    // The node's display name: friendly name, else device description, else "Unknown Device".
    CString GetDevNodeName(DEVINST node);
    // One registry property of the node as text: REG_DWORD as "0x%08x", other types as the text
    // read, empty when it cannot be read.
    CString GetDevNodeProperty(DEVINST node, ULONG property);

private:
    void FindPortDevNode(DEVINST node, const char* portName);
    void GetDevNodeState(DEVINST node);
    void Message(DeviceMessageKind kind, const char* text) { m_sink.DeviceMessage(kind, text); }

    IDeviceStateApi& m_api;
    IDeviceMessageSink& m_sink;
    DeviceControlCopy m_copy;
    int m_nDeviceState = DEVSTATE_UNKNOWN;
    HMACHINE m_hMachine = nullptr;
};
