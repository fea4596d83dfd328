#include "Halvirex.h"

#include <climits>

int HalvirexStateArgument(const char* text)
{
    if (!text)
        return 0;
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\v' || *text == '\f')
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    // Saturates instead of overflowing: only "zero or not" matters to the caller.
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value <= INT_MAX)
            value = value * 10 + (*text - '0');
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

int HalvirexRun(int argc, char** argv, CPortDeviceControl& control, IDeviceMessageSink& sink)
{
    const char* done = "Complated device control. please input enter key.";
    if (argc == 3) {
        control.ControlComPortDevice(argv[1], HalvirexStateArgument(argv[2]));
        sink.DeviceMessage(DEVMSG_TOOL, done);
        return 0;
    }
    if (argc != 2)
        return 1;

    sink.DeviceMessage(DEVMSG_TOOL, "Init");
    switch (control.GetDeviceState(argv[1])) {
    case DEVSTATE_ENABLED:
        sink.DeviceMessage(DEVMSG_TOOL, "device current state is enable.\nchange the device state is disable.");
        control.ControlComPortDevice(argv[1], 0);
        break;
    case DEVSTATE_DISABLED:
        sink.DeviceMessage(DEVMSG_TOOL, "device current state is disable.\nchange the device state is enable.");
        control.ControlComPortDevice(argv[1], 1);
        break;
    default:
        sink.DeviceMessage(DEVMSG_TOOL, "Unkonwon state. exit.");
        return 0;
    }
    sink.DeviceMessage(DEVMSG_TOOL, done);
    return 0;
}
