// The published OPOS values the service object uses.
#pragma once

enum : long
{
    OPOS_SUCCESS = 0,
    OPOS_E_CLOSED = 101,
    OPOS_E_CLAIMED = 102,
    OPOS_E_NOTCLAIMED = 103,
    OPOS_E_NOSERVICE = 104,
    OPOS_E_DISABLED = 105,
    OPOS_E_ILLEGAL = 106,
    OPOS_E_NOHARDWARE = 107,
    OPOS_E_OFFLINE = 108,
    OPOS_E_NOEXIST = 109,
    OPOS_E_EXISTS = 110,
    OPOS_E_FAILURE = 111,
    OPOS_E_TIMEOUT = 112,
    OPOS_E_BUSY = 113,
    OPOS_E_EXTENDED = 114,
};

enum : long
{
    OPOS_S_CLOSED = 1,
    OPOS_S_IDLE = 2,
    OPOS_S_BUSY = 3,
    OPOS_S_ERROR = 4,
};

enum : long
{
    OPOS_PS_UNKNOWN = 2000,
    OPOS_PS_ONLINE = 2001,
    OPOS_PS_OFF = 2002,
    OPOS_PS_OFFLINE = 2003,
    OPOS_PS_OFF_OFFLINE = 2004,
};

// Property indices.
enum : long
{
    PIDX_Claimed = 1,
    PIDX_DeviceEnabled = 3,
    PIDX_FreezeEvents = 4,
    PIDX_OutputID = 5,
    PIDX_ResultCode = 6,
    PIDX_ResultCodeExtended = 7,
    PIDX_ServiceObjectVersion = 8,
    PIDX_State = 9,
    PIDX_PowerState = 14,
};
