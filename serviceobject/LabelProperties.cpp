// Properties: the four property methods and the setters' effects. The effects the
// configuration needs are separate functions, so it can apply them without the setters' state
// checks.
#include "KVTLoger.h"
#include "LABELPrinter.h"
#include "OposConst.h"

#include <cstdlib>
#include <cstring>

namespace {

// Reads up to four comma-separated integers, each a leading decimal number of its field.
int ParseFields(const CString& text, long out[4])
{
    int n = 0;
    const char* p = text.GetString();
    while (n < 4 && p && *p) {
        out[n++] = std::atol(p);
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
    switch (propIndex) {
    case PIDX_Claimed: return m_Claimed;
    case PIDX_DeviceEnabled: return DeviceEnabled;
    case PIDX_FreezeEvents: return FreezeEvents;
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
    case 13: return PowerNotify;
    case PIDX_PowerState: return PowerState;
    case 501: return m_config.CapPowerReporting;
    case 8001: return AsyncMode;
    case 8002: return CharacterSet;
    case 8003: return CoverOpen;
    case 8004: return ErrorStation;
    case 8005: return FlagWhenIdle;
    case 8013: return MapMode;
    case 8014: case 8024: return RecEmpty;
    case 8016: case 8026: return RecLineChars;
    case 8017: case 8027: return RecLineHeight;
    case 8018: case 8029: return RecLineSpacing;
    case 8019: return RecLinesToPaperCut;
    case 8020: case 8030: return RecLineWidth;
    case 8021: case 8032: return RecNearEnd;
    case 8035: return ErrorLevel;
    case 8036: return RotateSpecial;
    case 8047: return PageModeHorizontalPosition;
    case 8048: return m_config.PageModePrintDirection;
    case 8050: return PageModeVerticalPosition;
    case 8504: return m_config.CapCoverSensor;
    case 8522: case 8539: return m_config.CapRecEmptySensor;
    case 8525: case 8543: return m_config.CapRecNearEndSensor;
    default: return 0;
    }
}

void CLABELPrinter::SetPropertyNumber(long propIndex, long number)
{
    Log(0, "Set Property : PropIndex = %d, value : %d", int(propIndex), int(number));
    ResultCodeExtended = 0;
    ResultCode = OPOS_SUCCESS;
    switch (propIndex) {
    case PIDX_DeviceEnabled:
        DoDeviceEnabled(number);
        break;
    case PIDX_FreezeEvents:
        DoFreezeEvents(number != 0);
        Log(0, "-DoFreezeEvents");
        break;
    case 13:
        DoPowerNotify(number);
        break;
    case 8001:
        AsyncMode = number != 0;
        Log(0, "-DoAsyncMode");
        break;
    case 8002:
        if (!APS_CheckPreconditions(3))
            break;
        ApplyCharacterSet(number);
        break;
    case 8047:
        ResultCode = ApplyPageModeHorizontalPosition(number);
        break;
    case 8048:
        ResultCode = ApplyPageModePrintDirection(number);
        break;
    case 8050:
        ResultCode = ApplyPageModeVerticalPosition(number);
        break;
    default:
        // The other setters come with the property set; until then they change nothing.
        ResultCode = OPOS_E_ILLEGAL;
        break;
    }
}

BSTR CLABELPrinter::GetPropertyString(long propIndex)
{
    Log(0, "Get Property String: PropIndex = %d", int(propIndex));
    switch (propIndex) {
    case 1000001: return FxStringToBstr(m_config.CheckHealthText);
    case 1000002: return FxStringToBstr(m_config.DeviceDescription);
    case 1000003: return FxStringToBstr(m_config.DeviceName);
    case 1000004: return FxStringToBstr(m_config.ServiceObjectDescription);
    case 1008001: return FxStringToBstr(m_config.CharacterSetList);
    case 1008005: return FxStringToBstr(ErrorString);
    case 1008011: return FxStringToBstr(PageModeArea);
    case 1008012: return FxStringToBstr(PageModePrintArea);
    default: return FxStringToBstr("");
    }
}

void CLABELPrinter::SetPropertyString(long propIndex, const char* value)
{
    Log(0, "Set Property : PropIndex = %d, Value : %s", int(propIndex), value);
    ResultCodeExtended = 0;
    if (propIndex == 1008012) {
        ResultCode = ApplyPageModePrintArea(value ? value : "");
        return;
    }
    ResultCode = OPOS_E_ILLEGAL;
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
        m_pPort->Clear(DEVTYPE_LABEL);
        DeviceEnabled = TRUE;
        DoFreezeEvents(FALSE);
        // The current status is reported as the first events of the enabled device.
        CHK_LabelStatus(StatusAnswerTimeoutMs);
        ResultCode = OPOS_SUCCESS;
        ResultCodeExtended = 0;
    } else {
        DeviceEnabled = FALSE;
        // The print queue waits here once it exists; the error response is released so a print
        // thread waiting for it goes on.
        if (m_hErrorResponseEvent)
            SetEvent(m_hErrorResponseEvent);
        DoFreezeEvents(TRUE);
        PowerState = OPOS_PS_UNKNOWN;
        m_nLastCover = m_nLastPaper = m_nLastPower = -1;
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

long CLABELPrinter::ApplyPageModeArea(const CString& text)
{
    PageModeArea = text;
    return OPOS_SUCCESS;
}

long CLABELPrinter::ApplyPageModePrintArea(const CString& text)
{
    Log(0, "m_ctlLabelPrinter1.SetPageModePrintArea(\"%s\");", text.GetString());
    long f[4] = {0, 0, 0, 0};
    long rc = OPOS_SUCCESS;
    CString applied = text;
    if (ParseFields(text, f) < 4) {
        applied.Format("0,0,%d,%d", m_config.PaperWidth, m_config.PaperLength);
        ParseFields(applied, f);
        rc = OPOS_E_ILLEGAL;
    }
    const MapModeRow& row = m_config.m_mapMode.positionIn[MapMode];
    int x = MapModeTables::Convert(int(f[0]), row), y = MapModeTables::Convert(int(f[1]), row);
    int w = MapModeTables::Convert(int(f[2]), row), h = MapModeTables::Convert(int(f[3]), row);
    PageModePrintArea = applied;
    m_builder.SetPaper(w, h, m_config.GapLength, m_config.PaperType, m_config.OffsetLength);
    m_builder.SetMargins(m_config.LeftMargin + x, m_config.TopMargin + y);
    return rc;
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
    if (value < 0)
        return OPOS_E_ILLEGAL;
    PageModeVerticalPosition = value;
    m_nPageModeY = MapModeTables::Convert(int(value), m_config.m_mapMode.positionIn[MapMode]);
    m_builder.SetPositionY(int(m_nPageModeY));
    return OPOS_SUCCESS;
}

long CLABELPrinter::ApplyPageModeHorizontalPosition(long value)
{
    if (value < 0)
        return OPOS_E_ILLEGAL;
    PageModeHorizontalPosition = value;
    m_nPageModeX = MapModeTables::Convert(int(value), m_config.m_mapMode.positionIn[MapMode]);
    m_builder.SetPositionX(int(m_nPageModeX));
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
