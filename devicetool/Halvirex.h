// The device enable tool's run: sets the device behind a serial port to enabled or disabled, or
// toggles it, from the arguments after the program name.
//
//   Halvirex COM5 0    disable     Halvirex COM5 1    enable (any number but 0)
//   Halvirex COM5      toggle      anything else      nothing, exit code 1
//
// The exit code is 0 whenever one or two arguments were given: the serial transport that starts
// the tool reads the device state itself afterwards.
#pragma once

#include "PortDeviceControl.h"

// Runs the tool once with argv[1..argc-1] on control; every progress text goes to sink as
// DEVMSG_TOOL. Returns the exit code.
int HalvirexRun(int argc, char** argv, CPortDeviceControl& control, IDeviceMessageSink& sink);

// The state argument: a base-10 integer with optional leading blanks and sign, read up to the
// first non-digit; no digits give 0 (so "x" and "0x1" disable).
int HalvirexStateArgument(const char* text);

// The tool's message sink: it discards every text, so the tool writes nothing to its console.
class CShowMessage : public IDeviceMessageSink
{
public:
    void DeviceMessage(DeviceMessageKind kind, const char* text) override {}
};
