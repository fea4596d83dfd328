#include "LabelStatus.h"

DecodedStatus DecodeStatusFrame(const BYTE* f)
{
    DecodedStatus s;
    if (f[2] & 0x0C) {
        s.recEmpty = true;
        s.paperValue = 24;
        s.serious = true;
    } else if (f[2] & 0x03) {
        s.recNearEnd = true;
        s.paperValue = 25;
    }
    if (f[0] & 0x20) {
        s.coverOpen = true;
        s.coverValue = 11;
        s.serious = true;
    }
    if (f[1] & 0x20)
        s.extendedError = 401;
    else if (f[1] & 0x08)
        s.extendedError = 402;
    else if (f[1] & 0x04)
        s.extendedError = 403;
    return s;
}

void StatusAnswerToFrame(BYTE answer, BYTE frame[4])
{
    frame[0] = 0x14;
    frame[1] = 0x00;
    frame[2] = 0x00;
    frame[3] = 0x0F;
    if (answer & 0x80)
        frame[2] = 0x0C;
    if (answer & 0x40)
        frame[0] = 0x34;
    if (answer & 0x20)
        frame[1] = 0x08;
    if (answer & 0x1C)
        frame[1] |= 0x04;
}

CString GetResultCodeText(long rc, long rce)
{
    const char* text;
    switch (rc) {
    case 0: text = "Success"; break;
    case 101: text = "Closed"; break;
    case 102: text = "Claimed"; break;
    case 103: text = "Notclaimed"; break;
    case 104: text = "Noservice"; break;
    case 105: text = "Disabled"; break;
    case 106: text = "Illegal"; break;
    case 107: text = "Nohardware"; break;
    case 108: text = "Offline"; break;
    case 109: text = "Noexist"; break;
    case 110: text = "Exists"; break;
    case 111:
        text = rce == 401 ? "Unrecoverable failure" : rce == 402 ? "Knife cut failure"
             : rce == 403 ? "Mechanical failure" : "Failure";
        break;
    case 112: text = "Timeout"; break;
    case 113: text = "Busy"; break;
    case 114:
        text = rce == 201 ? "Cover Open" : rce == 203 ? "Paper Empty" : rce == 211 ? "Cartridge Removed"
             : rce == 212 ? "Cartridge Empty" : rce == 213 ? "Head Cleaning" : "Extended Error";
        break;
    default: text = "Unknown error value"; break;
    }
    CString s;
    s.Format("%s (%ld/%ld)", text, rc, rce);
    return s;
}
