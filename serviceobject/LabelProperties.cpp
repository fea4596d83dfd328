// Properties: the four property methods and the setters' effects. The effects the
// configuration needs are separate functions, so it can apply them without the setters' state
// checks.
#include "KVTLoger.h"
#include "LABELPrinter.h"
#include "OposConst.h"

#include <cstdlib>
#include <cstring>

namespace {

// Reads up to four comma-separated integers, each a leading decimal number of its field (no
// digits read as 0); read in 64 bits so an oversized field is seen as such.
int ParseFields(const CString& text, long long out[4])
{
    int n = 0;
    const char* p = text.GetString();
    while (n < 4 && p && *p) {
        out[n++] = std::strtoll(p, nullptr, 10);
        p = std::strchr(p, ',');
        if (p)
            ++p;
    }
    return n;
}

}  // namespace

// ---- Property methods

long CLABELPrinter::GetPropertyNumber(long propIndex)
{
    Log(0, "Get Property : PropIndex = %d", int(propIndex));
    const CLabelConfig& c = m_config;
    switch (propIndex) {
    case PIDX_Claimed: return m_Claimed;
    case PIDX_DeviceEnabled: return DeviceEnabled;
    case PIDX_FreezeEvents: return FreezeEvents;
    case PIDX_OutputID: return OutputID;
    case PIDX_ResultCode: return ResultCode;
    case PIDX_ResultCodeExtended: return ResultCodeExtended;
    case PIDX_ServiceObjectVersion: return ServiceObjectVersion;
    case PIDX_State: {
        if (!m_hEventListMutex)
            return State;
        WaitForSingleObject(m_hEventListMutex, INFINITE);
        long s = State;
        ReleaseMutex(m_hEventListMutex);
        return s;
    }
    case 11: return BinaryConversion;
    case 13: return PowerNotify;
    case PIDX_PowerState: return PowerState;
    case 501: return c.CapPowerReporting;
    case 502: return c.CapStatisticsReporting;
    case 503: return c.CapUpdateStatistics;
    case 504: return c.CapCompareFirmwareVersion;
    case 505: return c.CapUpdateFirmware;
    case 8001: return AsyncMode;
    case 8002: return CharacterSet;
    case 8003: return CoverOpen;
    case 8004: return ErrorStation;
    case 8005: return FlagWhenIdle;
    case 8013: return MapMode;
    case 8014: case 8024: return RecEmpty;
    case 8015: case 8025: return RecLetterQuality;
    case 8016: case 8026: return RecLineChars;
    case 8017: case 8027: return RecLineHeight;
    case 8018: case 8029: return RecLineSpacing;
    case 8019: return RecLinesToPaperCut;
    case 8020: case 8030: return RecLineWidth;
    case 8021: case 8032: return RecNearEnd;
    case 8022: case 8033: return c.RecSidewaysMaxChars;
    case 8023: case 8034: return c.RecSidewaysMaxLines;
    case 8035: return ErrorLevel;
    case 8036: return RotateSpecial;
    case 8040: case 8043: return RecCartridgeState;
    case 8041: case 8044: return RecCurrentCartridge;
    case 8045: return c.MapCharacterSet;
    case 8046: return c.PageModeDescriptor;
    case 8047: return DotsInMapMode(m_nPageModeX);
    case 8048: return c.PageModePrintDirection;
    case 8049: return PageModeStation;
    case 8050: return DotsInMapMode(m_nPageModeY);
    case 8501: case 8502: case 8503: return 0;
    case 8504: return c.CapCoverSensor;
    case 8515: case 8532: return c.CapRec2Color;
    case 8516: case 8533: return c.CapRecBarCode;
    case 8517: case 8534: return c.CapRecBitmap;
    case 8518: case 8535: return c.CapRecBold;
    case 8519: case 8536: return c.CapRecDhigh;
    case 8520: case 8537: return c.CapRecDwide;
    case 8521: case 8538: return c.CapRecDwideDhigh;
    case 8522: case 8539: return c.CapRecEmptySensor;
    case 8523: case 8541: return c.CapRecItalic;
    case 8524: case 8542: return c.CapRecLeft90;
    case 8525: case 8543: return c.CapRecNearEndSensor;
    case 8526: return c.CapRecPapercut;
    case 8527: case 8544: return CapRecPresent;
    case 8528: case 8545: return c.CapRecRight90;
    case 8529: case 8546: return c.CapRecRotate180;
    case 8530: return c.CapRecStamp;
    case 8531: case 8547: return c.CapRecUnderline;
    case 8548: return CapCharacterSet;
    case 8549: return CapTransaction;
    case 8552: case 8556: return c.CapRecCartridgeSensor;
    case 8553: case 8557: return c.CapRecColor;
    case 8554: return c.CapRecMarkFeed;
    case 8558: return c.CapMapCharacterSet;
    case 8559: return c.CapConcurrentPageMode;
    case 8560: return c.CapRecPageMode;
    case 8561: case 8562: case 8563: return 0;
    default: return 0;
    }
}

void CLABELPrinter::SetPropertyNumber(long propIndex, long number)
{
    Log(0, "Set Property : PropIndex = %d, value : %d", int(propIndex), int(number));
    ResultCodeExtended = 0;
    // A closed object has nothing to set; the setters the configuration calls go around this.
    if (State == OPOS_S_CLOSED) {
        ResultCode = OPOS_E_CLOSED;
        return;
    }
    ResultCode = OPOS_SUCCESS;
    switch (propIndex) {
    case PIDX_DeviceEnabled:
        DoDeviceEnabled(number);
        break;
    case PIDX_FreezeEvents:
        Log(0, "m_ctlLabelPrinter1.SetFreezeEvents(%d);", int(number));
        DoFreezeEvents(number != 0);
        Log(0, "-DoFreezeEvents");
        break;
    case 11:
        Log(0, "m_ctlLabelPrinter1.SetBinaryConversion(%d);", int(number));
        if (number < 0 || number > 2)
            ResultCode = OPOS_E_ILLEGAL;
        else
            BinaryConversion = number;
        break;
    case 13:
        DoPowerNotify(number);
        break;
    case 8001:
        Log(0, "m_ctlLabelPrinter1.SetAsyncMode(%d);", int(number));
        AsyncMode = number != 0;
        Log(0, "-DoAsyncMode");
        break;
    case 8002:
        Log(0, "m_ctlLabelPrinter1.SetCharacterSet(%d);", int(number));
        if (!APS_CheckPreconditions(3))
            break;
        ApplyCharacterSet(number);
        break;
    case 8005:
        DoFlagWhenIdle(number);
        break;
    case 8013:
        Log(0, "m_ctlLabelPrinter1.SetMapMode(%d);", int(number));
        ResultCode = ApplyMapMode(number);
        break;
    case 8015: case 8025:
        Log(0, "m_ctlLabelPrinter1.SetRecLetterQuality(%d);", int(number));
        if (!APS_CheckPreconditions(3))
            break;
        RecLetterQuality = number != 0;
        Log(0, "-DoRecLetterQuality");
        break;
    case 8016: case 8026:
        Log(0, "m_ctlLabelPrinter1.SetRecLineChars(%d);", int(number));
        if (!APS_CheckPreconditions(3))
            break;
        ResultCode = ApplyRecLineChars(number);
        break;
    case 8017: case 8027:
        Log(0, "m_ctlLabelPrinter1.SetRecLineHeight(%d);", int(number));
        if (!APS_CheckPreconditions(3)) {
            Log(10, "APS_CheckPreconditions error in DoRecLineHeight.");
            break;
        }
        ResultCode = ApplyRecLineHeight();
        Log(0, "-DoRecLineHeight");
        break;
    case 8018: case 8029:
        Log(0, "m_ctlLabelPrinter1.SetRecLineSpacing(%d);", int(number));
        if (!APS_CheckPreconditions(3)) {
            Log(10, "APS_CheckPreconditions error in DoRecLineSpacing.");
            break;
        }
        ResultCode = ApplyRecLineSpacing(number);
        Log(0, "-DoRecLineSpacing");
        break;
    case 8036:
        Log(0, "m_ctlLabelPrinter1.SetRotateSpecial(%d);", int(number));
        RotateSpecial = number;
        m_builder.SetRotation(int(number));
        Log(0, "-DoRotateSpecial");
        break;
    case 8037:
        Log(0, "m_ctlLabelPrinter1.SetCartridgeNotify(%d);", int(number));
        if (DeviceEnabled || (number != 0 && number != 1) || (number == 1 && !m_config.CapRecCartridgeSensor))
            ResultCode = OPOS_E_ILLEGAL;
        else
            CartridgeNotify = number;
        break;
    case 8041: case 8044:
        Log(0, "m_ctlLabelPrinter1.SetRecCurrentCartridge(%d);", int(number));
        if (!APS_CheckPreconditions(3)) {
            Log(10, "APS_CheckPreconditions error in DoRecCurrentCartridge.");
            break;
        }
        if ((number & m_config.CapRecColor) == 0) {
            ResultCode = OPOS_E_ILLEGAL;
            break;
        }
        RecCurrentCartridge = number;
        RecCartridgeState = 0x10000000;
        break;
    case 8047:
        Log(0, "m_ctlLabelPrinter1.SetPageModeHorizontalPosition(%d);", int(number));
        ResultCode = ApplyPageModeHorizontalPosition(number);
        break;
    case 8048:
        Log(0, "m_ctlLabelPrinter1.SetPageModePrintDirection(%d);", int(number));
        ResultCode = ApplyPageModePrintDirection(number);
        break;
    case 8049:
        Log(0, "m_ctlLabelPrinter1.SetPageModeStation(%d);", int(number));
        if (number != 2 && number != 4)
            ResultCode = OPOS_E_ILLEGAL;
        else
            PageModeStation = number;
        break;
    case 8050:
        Log(0, "m_ctlLabelPrinter1.SetPageModeVerticalPosition(%d);", int(number));
        ResultCode = ApplyPageModeVerticalPosition(number);
        break;
    default:
        // Unknown or read-only: refused, never the previous call's result.
        ResultCode = OPOS_E_ILLEGAL;
        break;
    }
}

BSTR CLABELPrinter::GetPropertyString(long propIndex)
{
    Log(0, "Get Property String: PropIndex = %d", int(propIndex));
    const CLabelConfig& c = m_config;
    switch (propIndex) {
    case 1000001: return FxStringToBstr(c.CheckHealthText);
    case 1000002: return FxStringToBstr(c.DeviceDescription);
    case 1000003: return FxStringToBstr(c.DeviceName);
    case 1000004: return FxStringToBstr(c.ServiceObjectDescription);
    case 1008001: return FxStringToBstr(c.CharacterSetList);
    case 1008003: case 1008004: return FxStringToBstr(c.RecLineCharsList);
    case 1008005: return FxStringToBstr(GetErrorString());
    case 1008006: return FxStringToBstr(c.FontTypefaceList);
    case 1008007: case 1008008: return FxStringToBstr(c.RecBarCodeRotationList);
    case 1008009: case 1008010: return FxStringToBstr(c.RecBitmapRotationList);
    case 1008011: return FxStringToBstr(PageInMapMode("%d,%d", m_config.PageWidth, m_config.PageLength));
    case 1008012: return FxStringToBstr(PageModePrintAreaText());
    default: return FxStringToBstr("");  // JrnLineCharsList (1008002) too
    }
}

void CLABELPrinter::SetPropertyString(long propIndex, const char* value)
{
    Log(0, "Set Property : PropIndex = %d, Value : %s", int(propIndex), value ? value : "");
    ResultCodeExtended = 0;
    if (State == OPOS_S_CLOSED) {
        ResultCode = OPOS_E_CLOSED;
        return;
    }
    if (propIndex == 1008012) {
        ResultCode = ApplyPageModePrintArea(value ? value : "");
        return;
    }
    ResultCode = OPOS_E_ILLEGAL;
}

long CLABELPrinter::DoFlagWhenIdle(long value)
{
    Log(0, "m_ctlLabelPrinter1.SetFlagWhenIdle(%d);", int(value));
    // The print thread reads both in UpdateQueueState.
    if (!AsyncQueueMutex.Lock(INFINITE)) {
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
    Log(0, "AsyncQueueMutex Lock in DoFlagWhenIdle");
    FlagWhenIdle = value != 0;
    m_bIdlePending = FlagWhenIdle;
    UpdateQueueState();
    AsyncQueueMutex.Unlock();
    Log(0, "AsyncQueueMutex Unlock in DoFlagWhenIdle");
    Log(0, "-DoFlagWhenIdle");
    ResultCode = OPOS_SUCCESS;
    return ResultCode;
}

// ---- Enabling, freezing, power notification

void CLABELPrinter::DoFreezeEvents(BOOL freeze)
{
    FreezeEvents = freeze;
    if (m_hEventsNotFrozenEvent) {
        if (freeze)
            ResetEvent(m_hEventsNotFrozenEvent);
        else
            SetEvent(m_hEventsNotFrozenEvent);
    }
}

long CLABELPrinter::DoPowerNotify(long value)
{
    Log(0, "m_ctlLabelPrinter1.SetPowerNotify(%d);", int(value));
    if (DeviceEnabled || (value != 0 && value != 1) || !m_config.CapPowerReporting) {
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
    if (value == 1)
        DoFreezeEvents(TRUE);
    PowerNotify = value;
    Log(0, "-DoPowerNotify");
    ResultCode = OPOS_SUCCESS;
    return ResultCode;
}

long CLABELPrinter::DoDeviceEnabled(long value)
{
    Log(0, "m_ctlLabelPrinter1.SetDeviceEnabled(%d);", int(value));
    ResultCode = OPOS_SUCCESS;
    if (!APS_CheckPreconditions(1)) {
        Log(10, "APS_CheckPreconditions error in DoDeviceEnabled.");
        return ResultCode;
    }
    BOOL want = value != 0;
    if (want == DeviceEnabled)
        return ResultCode;
    if (want) {
        if (!ReopenAfterCancel()) {
            Log(10, "-DeviceEnabled: the port does not open again");
            ResultCode = OPOS_E_ILLEGAL;
            return ResultCode;
        }
        m_pPort->Clear(DEVTYPE_LABEL);
        DeviceEnabled = TRUE;
        // Jobs held since the last disable go on.
        InterlockedExchange(&m_bQueueHeld, 0);
        DoFreezeEvents(FALSE);
        // A port that went off line while the device was disabled is reported at once; the
        // printer's answer cannot add to that.
        if (PortOffline())
            SetPowerState(EffectivePower());
        // The current status is reported as the first events of the enabled device.
        CHK_LabelStatus(StatusAnswerTimeoutMs);
        // No answer: what the port last reported.
        SetPowerState(EffectivePower());
        ResultCode = OPOS_SUCCESS;
        ResultCodeExtended = 0;
    } else {
        DeviceEnabled = FALSE;
        // A print thread waiting for an error answer (which cannot come while this thread waits
        // here) gets CLEAR after about two seconds: a stale RETRY would print while disabled.
        for (int step = 1; m_nErrorWait && !m_bStop; ++step) {
            Sleep(100);
            Log(0, "DeviceEnabled<remainQueue:%d, remainProgress:%d", QueuedJobs(), JobsInProgress());
            if (step >= 20)
                AnswerErrorWait(0, 12, "DeviceEnabled: the ErrorEvent is not answered while disabling");
        }
        // The queue is held from the next pass; a pass under way ends by the one rule.
        if (!EndPrintPass(PassEndDisable))
            ResultCode = OPOS_E_TIMEOUT;
        DoFreezeEvents(TRUE);
        RecCartridgeState = JrnCartridgeState = SlpCartridgeState = 0x10000000;
        CStatusLock lock(*this, "DeviceEnabled");
        if (lock.Held()) {
            PowerState = OPOS_PS_UNKNOWN;
            m_nLastCover = m_nLastPaper = m_nLastPower = -1;
        }
    }
    Log(0, "-DeviceEnabled: %s", DeviceEnabled == want ? "Success" : "Failed");
    return ResultCode;
}

// ---- Character set

BOOL CLABELPrinter::IsInCharacterSetList(long value) const
{
    CString number;
    number.Format("%d", int(value));
    const CString& list = m_config.CharacterSetList;
    for (int at = list.Find(number); at >= 0; at = list.Find(number, at + 1)) {
        int begin = at;
        while (begin > 0 && list.GetAt(begin - 1) != ',')
            --begin;
        int end = list.Find(',', at);
        CString entry = end >= 0 ? list.Mid(begin, end - begin) : list.Mid(begin);
        int paren = entry.Find('(');
        if (paren >= 0)
            entry = entry.Left(paren);
        if (entry == number)
            return TRUE;
    }
    return FALSE;
}

int CLABELPrinter::CodePageNumber(long cs, int* residentFont)
{
    static const long kPages[][2] = {
        {437, 0},   {850, 1},   {852, 2},   {860, 3},  {863, 4},   {865, 5},   {1252, 6},  {8651252, 7},
        {857, 8},   {737, 9},   {1250, 10}, {1253, 11}, {1254, 12}, {855, 13}, {862, 14},  {866, 15},
        {1251, 16}, {1255, 17}, {928, 18},  {864, 19}, {775, 20},  {1257, 21}, {858, 22},  {998, 0},
    };
    static const long kEastAsian[][2] = {{932, 18}, {936, 16}, {949, 11}, {950, 17}};
    *residentFont = -1;
    for (const auto& p : kPages)
        if (p[0] == cs)
            return int(p[1]);
    for (const auto& p : kEastAsian)
        if (p[0] == cs) {
            *residentFont = int(p[1]);
            return 0;
        }
    return -1;
}

long CLABELPrinter::ApplyCharacterSet(long value)
{
    if (!IsInCharacterSetList(value)) {
        Log(10, "-DoCharacterSet: < Number : %d > is not included in CharacterSetList ", int(value));
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
    if (value == 999) {
        static const long kKnown[] = {437, 737, 775, 850, 852, 855, 857, 858, 860, 862, 863,
                                      864, 865, 866, 928, 1250, 1251, 1252, 1253, 1254, 1255, 1257};
        long acp = long(GetACP());
        for (long k : kKnown)
            if (k == acp)
                value = acp;
        Log(0, "DoCharacterSet : set value is 999. but characterset is convert %d", int(value));
    }
    int font = -1;
    int page = CodePageNumber(value, &font);
    if (page < 0) {
        // A downloaded font's character set: the i-th pair is font 26 + i.
        const std::vector<DownloadedFont>& pairs = m_config.DownloadFonts;
        for (size_t i = 0; i < pairs.size() && page < 0; ++i)
            if (pairs[i].second == value) {
                font = 26 + int(i);
                page = 0;
            }
    }
    if (page < 0) {
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
    if (font >= 0)
        m_builder.SelectFont(font);
    CharacterSet = value;
    m_builder.SetCodePage(page);
    ResultCode = OPOS_SUCCESS;
    Log(0, "-DoCharacterSet");
    return ResultCode;
}

// ---- Page mode and line metrics

// The configuration's page, in dots: the page every label has until the application sets a
// print area, and the one ClearPrintArea returns to.
long CLABELPrinter::ApplyPageModeArea(const CString& text)
{
    long long f[4] = {0, 0, 0, 0};
    if (ParseFields(text, f) < 2 || f[0] < 0 || f[1] < 0 || f[0] > 0x7FFFFFFF || f[1] > 0x7FFFFFFF)
        return OPOS_E_ILLEGAL;
    PageModeArea = text;
    m_config.PageWidth = int(f[0]);
    m_config.PageLength = int(f[1]);
    return OPOS_SUCCESS;
}

CString CLABELPrinter::PageInMapMode(const char* format, int width, int length) const
{
    const MapModeRow& row = m_config.m_mapMode.widthOut[MapMode];
    CString s;
    s.Format(format, MapModeTables::Convert(width, row), MapModeTables::Convert(length, row));
    return s;
}

long CLABELPrinter::DotsInMapMode(long dots) const
{
    return MapModeTables::Convert(int(dots), m_config.m_mapMode.widthOut[MapMode]);
}

CString CLABELPrinter::PageModePrintAreaText() const
{
    CString s;
    if (!m_areaSet)
        return s;
    s.Format("%d,%d,%d,%d", int(DotsInMapMode(m_areaDots[0])), int(DotsInMapMode(m_areaDots[1])),
             int(DotsInMapMode(m_areaDots[2])), int(DotsInMapMode(m_areaDots[3])));
    return s;
}

void CLABELPrinter::UpdateLineWidth()
{
    long dots = m_config.RecLineWidthDots;
    // A page of no width is no page configured: the model's width stands. The margin is the
    // one the builder places by (the configured one plus the print area's x).
    long long page = (long long)m_builder.PaperWidth() - m_builder.LeftMargin();
    if (m_builder.PaperWidth() > 0 && page < dots)
        dots = long(page < 0 ? 0 : page);
    m_nLineWidthDots = dots;
    RecLineWidth = DotsInMapMode(m_nLineWidthDots);
}

long CLABELPrinter::ApplyConfiguredPage()
{
    m_areaDots[0] = m_areaDots[1] = 0;
    m_areaDots[2] = m_config.PageWidth;
    m_areaDots[3] = m_config.PageLength;
    m_areaSet = true;
    m_builder.SetPaper(m_config.PageWidth, m_config.PageLength, m_config.GapLength, m_config.PaperType,
                       m_config.OffsetLength);
    m_builder.SetMargins(m_config.LeftMargin, m_config.TopMargin);
    UpdateLineWidth();
    return OPOS_SUCCESS;
}

BOOL CLABELPrinter::ToDots(long long value, const MapModeRow& row, long* dots)
{
    if (value < 0 || value > 0x7FFFFFFFLL || row.div <= 0)
        return FALSE;
    long long d = (value * row.mul + row.add) / row.div;
    if (d < 0 || d > 0x7FFFFFFFLL)
        return FALSE;
    *dots = long(d);
    return TRUE;
}

long CLABELPrinter::ApplyPageModePrintArea(const CString& text)
{
    Log(0, "m_ctlLabelPrinter1.SetPageModePrintArea(\"%s\");", text.GetString());
    long long f[4] = {0, 0, 0, 0};
    // Fewer than four numbers: the configured page, already in dots.
    if (ParseFields(text, f) < 4) {
        ApplyConfiguredPage();
        return OPOS_E_ILLEGAL;
    }
    // Negative fields and fields whose dots do not fit the builder's numbers (with the margins
    // added) are refused, and nothing changes.
    const MapModeRow& row = m_config.m_mapMode.positionIn[MapMode];
    long dots[4];
    for (int i = 0; i < 4; ++i)
        if (!ToDots(f[i], row, &dots[i]))
            return OPOS_E_ILLEGAL;
    if ((long long)m_config.LeftMargin + dots[0] > 0x7FFFFFFFLL || (long long)m_config.TopMargin + dots[1] > 0x7FFFFFFFLL)
        return OPOS_E_ILLEGAL;
    for (int i = 0; i < 4; ++i)
        m_areaDots[i] = dots[i];
    m_areaSet = true;
    m_builder.SetPaper(int(dots[2]), int(dots[3]), m_config.GapLength, m_config.PaperType, m_config.OffsetLength);
    m_builder.SetMargins(m_config.LeftMargin + int(dots[0]), m_config.TopMargin + int(dots[1]));
    UpdateLineWidth();
    return OPOS_SUCCESS;
}

long CLABELPrinter::ApplyPageModePrintDirection(long value)
{
    static const long kRotate[5] = {0, 1, 258, 259, 257};
    if (value < 1 || value > 4)
        return OPOS_E_ILLEGAL;
    RotateSpecial = kRotate[value];
    m_builder.SetRotation(int(value));
    return OPOS_SUCCESS;
}

long CLABELPrinter::ApplyPageModeVerticalPosition(long value)
{
    long dots = 0;
    if (!ToDots(value, m_config.m_mapMode.positionIn[MapMode], &dots))
        return OPOS_E_ILLEGAL;
    m_nPageModeY = dots;
    m_builder.SetPositionY(int(m_nPageModeY));
    return OPOS_SUCCESS;
}

long CLABELPrinter::ApplyPageModeHorizontalPosition(long value)
{
    long dots = 0;
    if (!ToDots(value, m_config.m_mapMode.positionIn[MapMode], &dots))
        return OPOS_E_ILLEGAL;
    m_nPageModeX = dots;
    m_builder.SetPositionX(int(m_nPageModeX));
    return OPOS_SUCCESS;
}

long CLABELPrinter::ApplyMapMode(long value)
{
    if (value < 1 || value > 4)
        return OPOS_E_ILLEGAL;
    MapMode = value;
    ConvertPageModeUnits(TRUE);
    return OPOS_SUCCESS;
}

long CLABELPrinter::ApplyRecLineHeight()
{
    // The height of the font the line width selected (the compressed one only for the
    // compressed width), not the value given.
    bool compressed = RecLineChars > m_config.LinecharsNormal;
    m_nLineHeightDots = compressed ? m_config.DotsPerCompressedCharHeight : m_config.DotsPerNormalCharHeight;
    m_nLineSpacingDots = m_config.RecLineSpacing;
    ConvertPageModeUnits(TRUE);
    return OPOS_SUCCESS;
}

void CLABELPrinter::ConvertPageModeUnits(BOOL toMapMode)
{
    const MapModeTables& t = m_config.m_mapMode;
    if (toMapMode) {
        RecLineHeight = MapModeTables::Convert(int(m_nLineHeightDots), t.lineOut[MapMode]);
        RecLineSpacing = MapModeTables::Convert(int(m_nLineSpacingDots), t.lineOut[MapMode]);
        RecLineWidth = MapModeTables::Convert(int(m_nLineWidthDots), t.widthOut[MapMode]);
    } else {
        m_nLineHeightDots = MapModeTables::Convert(int(RecLineHeight), t.lineIn[MapMode]);
        m_nLineSpacingDots = MapModeTables::Convert(int(RecLineSpacing), t.lineIn[MapMode]);
    }
}

long CLABELPrinter::ApplyRecLineSpacing(long value)
{
    RecLineSpacing = value;
    ConvertPageModeUnits(FALSE);
    if (m_nLineSpacingDots < 12)
        m_nLineSpacingDots = 12;
    if (m_nLineSpacingDots > 50)
        m_nLineSpacingDots = 50;
    ConvertPageModeUnits(TRUE);
    m_builder.SetLineSpacing(int(m_nLineSpacingDots));
    if (m_nLineSpacingDots > 0)
        RecLinesToPaperCut = (m_nLineHeightDots + m_nLineSpacingDots + 143) / m_nLineSpacingDots;
    return OPOS_SUCCESS;
}

long CLABELPrinter::ApplyRecLineChars(long value)
{
    long rc = OPOS_SUCCESS;
    if (value < 10)
        value = 10;
    if (value <= m_config.LinecharsNormal) {
        RecLineChars = m_config.LinecharsNormal;
        m_builder.SelectFont(1);
    } else {
        RecLineChars = m_config.LinecharsCompressed;
        m_builder.SelectFont(0);
        if (value > m_config.LinecharsCompressed)
            rc = OPOS_E_ILLEGAL;
    }
    ApplyRecLineSpacing(RecLineSpacing);
    ConvertPageModeUnits(TRUE);
    Log(0, "-DoRecLineChars");
    return rc;
}
