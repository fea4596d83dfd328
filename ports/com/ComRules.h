// The serial port's rules as plain functions: the control block built from the port settings,
// the on-line decision from the modem lines or the XOFF state, and the configuration read from
// the install folder's setup.inf.
#pragma once

#include "ComLine.h"
#include "DeviceOption.h"
#include "FxString.h"

#include <windows.h>

// setup.inf [SPECIAL] values of the serial transport.
struct ComConfig
{
    int CONTROLDEVICE = 0;
    int CHECK_CTS_HW = 1;
    int CHECK_DSR_HW = 1;
    int CHECK_CTS_SW = 0;
    int CHECK_DSR_SW = 0;
};

// Modem-status bits of the lines the port watches.
enum : DWORD
{
    COM_MODEM_CTS = 0x10,
    COM_MODEM_DSR = 0x20,
};

// Reads `Installdir` from the ServiceInfo key and the [SPECIAL] values from
// <Installdir>\setup.inf. Without an install folder every value keeps its default: a setup.inf
// at the root of the current drive belongs to somebody else.
ComConfig ComReadConfig();
// The same from a given setup.inf path.
ComConfig ComReadConfigFile(const char* setupInfPath);

// Serial control block, starting from what the driver reports in dcb. FALSE when a setting does
// not fit its control-block field (it would be cut to another, valid-looking value).
BOOL ComBuildSerialDcb(DCB& dcb, const DeviceOption& dop, const ComConfig& cfg);
// Bluetooth control block: the handshake follows dwFlowControl alone (2 none, anything else the
// CTS/DSR handshake with DTR and RTS enabled), the CHECK values play no part; XON/XOFF gets the
// serial open's defaults where the driver reports 0.
BOOL ComBuildBluetoothDcb(DCB& dcb, const DeviceOption& dop, const ComConfig& cfg);

// TRUE when the modem status can be read and each required line (cts, dsr not 0) is on.
BOOL ComCheckModemLines(IComLine& line, HANDLE h, int cts, int dsr);
// TRUE when the error and queue status can be read (which also clears the port's error state)
// and transmission is not held by a received XOFF.
BOOL ComCheckXoffHold(IComLine& line, HANDLE h);
// The Win32 form of IComLine::WaitCharEvent: SetCommMask and an overlapped WaitCommEvent.
ComCharWait ComWaitCharEvent(HANDLE h, HANDLE terminate, DWORD ms);
// The on-line decision of one read pass for the port's flow control.
BOOL ComDecideOnline(IComLine& line, HANDLE h, DWORD flowControl, const ComConfig& cfg);
