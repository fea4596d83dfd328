// What the printer's status says: the automatic status frame and the one-byte answer to the
// status request, decoded; and the words for a result code pair. Free of any platform code.
#pragma once

#include "FxString.h"
#include "FxTypes.h"

struct DecodedStatus
{
    bool coverOpen = false;
    bool recEmpty = false;
    bool recNearEnd = false;  // never with recEmpty
    int extendedError = 0;    // 0, 401 unrecoverable, 402 cutter, 403 mechanical
    int paperValue = 26;      // StatusUpdate value: 24 empty, 25 near end, 26 paper ok
    int coverValue = 12;      // 11 cover open, 12 cover ok
    bool serious = false;     // cover open or paper empty
};

DecodedStatus DecodeStatusFrame(const BYTE* frame);

// The status frame an answer byte stands for (the base frame 0x14 0x00 0x00 0x0F, changed by
// the answer's bits).
void StatusAnswerToFrame(BYTE answer, BYTE frame[4]);

// "%s (%d/%d)": the words for rc and rce, then the two numbers.
CString GetResultCodeText(long rc, long rce);
