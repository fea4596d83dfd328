// The print methods: each checks the device state and its arguments, adds to the label body of
// the builder, and only MarkFeed, PrintImmediate, the end of a transaction and page-mode
// printing build the label and hand it to the output path.
#include "KVTLoger.h"
#include "LABELPrinter.h"
#include "LabelImage.h"
#include "OposConst.h"

#include <cstring>

namespace {
const long kExtendedTooBig = 206;
const int kRasterThreshold = 127;

bool IsLabelStation(long station) { return station == 2 || station == 4; }

size_t TextLength(const char* s) { return s ? strlen(s) : 0; }

}

// ---- shared steps

std::string CLABELPrinter::FromBinaryConversion(const char* data, size_t length)
{
    std::string in(data ? data : "", data ? length : 0);
    std::string out;
    if (BinaryConversion == 1) {
        Log(0, "FromBinaryConversion : OPOS_BC_NIBBLE");
        for (size_t i = 0; i + 1 < in.size(); i += 2)
            out += char(((in[i] & 15) << 4) | (in[i + 1] & 15));
        return out;
    }
    if (BinaryConversion == 2) {
        Log(0, "FromBinaryConversion : OPOS_BC_DECIMAL");
        for (size_t i = 0; i + 2 < in.size(); i += 3)
            out += char(((in[i] & 15) * 100 + (in[i + 1] & 15) * 10 + (in[i + 2] & 15)) & 0xFF);
        return out;
    }
    return in;
}

EscapeParseContext CLABELPrinter::ParseContext()
{
    EscapeParseContext ctx;
    ctx.characterSet = int(CharacterSet);
    ctx.lineSpacingDots = int(m_nLineSpacingDots);
    ctx.capRecPapercut = m_config.CapRecPapercut != 0;
    ctx.topLogo = m_bTopLogoSet ? m_pTopLogo : nullptr;
    ctx.bottomLogo = m_bBottomLogoSet ? m_pBottomLogo : nullptr;
    ctx.hriFont = int(m_config.HRISize);
    const MapModeRow row = m_config.m_mapMode.doubleIn[MapMode];
    ctx.unitsToDots = [row](int units) {
        long dots = 0;
        // The row counts every dot twice; a value beyond 32 bits
        // feeds as far as a feed may go.
        return ToDots(units, row, &dots) ? int(dots / 2) : 0x7FFFFFFF;
    };
    ctx.toUtf8 = [](const std::string& ansi) {
        int n = ConvertCodePage(CP_UTF8, ansi.data(), int(ansi.size()), nullptr);
        std::string out(size_t(n), '\0');
        if (n > 0)
            ConvertCodePage(CP_UTF8, ansi.data(), int(ansi.size()), &out[0]);
        return out;
    };
    ctx.log = [this](const char* line) { Log(0, "%s", line); };
    return ctx;
}

void CLABELPrinter::SendLabel(BOOL asynchronous, BOOL leadingEmptyChunk, const CLabelCommand::Mark* since)
{
    CPrintDataList chunks;
    if (leadingEmptyChunk)
        chunks.AddTail(new COPOSData(1));
    COPOSData* label = new COPOSData(1024);
    label->SetLimit(m_labelLimit);
    if ((since ? m_builder.BuildLabelSince(*since, *label) : m_builder.BuildLabel(*label)) != 0) {
        // The buffer did not take the whole label: nothing is sent, and the label is gone as a
        // label that failed to print is (the next one does not carry it).
        if (!since)
            m_builder.ClearBody();
        delete label;
        while (!chunks.IsEmpty())
            delete static_cast<COPOSData*>(chunks.RemoveHead());
        ResultCode = OPOS_E_FAILURE;
        ResultCodeExtended = 0;
        return;
    }
    chunks.AddTail(label);
    P_PrintOrEnqueue(asynchronous, chunks);
}

long CLABELPrinter::CheckImageParameters(long station, const char* fileName, long width, long alignment)
{
    if (!IsLabelStation(station))
        return OPOS_E_ILLEGAL;
    if (TextLength(fileName) == 0) {
        Log(10, "FileName is Empty in CheckImageParameters");
        return OPOS_E_ILLEGAL;
    }
    if (width < 0 && width != -11)
        return OPOS_E_ILLEGAL;
    if (alignment < -3)
        return OPOS_E_ILLEGAL;
    return OPOS_SUCCESS;
}

BOOL CLABELPrinter::BitmapWidthDots(long width, const char* method, long* dots)
{
    const bool overridden = m_config.BmAsis > 0;
    if (overridden) {
        Log(0, "Bitmap Width change : %d => %d", int(width), int(m_config.BmAsis));
        width = m_config.BmAsis;
    }
    *dots = width;
    // Compared in dots with the usable line width, the page's when it is narrower.
    if ((width > 0 && !ToDots(width, m_config.m_mapMode.positionIn[MapMode], dots)) ||
        (!overridden && *dots > m_nLineWidthDots)) {
        Log(10, "Invalid Width is OPOS_EPTR_TOOBIG<%d> in %s", int(width), method);
        ResultCode = OPOS_E_ILLEGAL;
        ResultCodeExtended = kExtendedTooBig;
        return FALSE;
    }
    return TRUE;
}

long CLABELPrinter::PictureRaster(const CString& fileName, long widthDots, COPOSData& raster, int* w, int* h)
{
    CLabelImage image;
    int isPicture = 0;
    if (image.LoadImage(fileName, isPicture) != 0 || !isPicture) {
        Log(10, "Invalid image in SetBitmap");
        return OPOS_E_ILLEGAL;
    }
    int width = image.CalcWidth(int(widthDots), false, int(m_config.Type), int(m_config.ImageMagnification));
    // A picture printed as is (or magnified) may be wider than the line: refused as a width
    // given wider than the line is.
    if (width > 0 && width > m_nLineWidthDots) {
        Log(10, "Invalid Width is OPOS_EPTR_TOOBIG<%d> in picture", width);
        ResultCodeExtended = kExtendedTooBig;
        return OPOS_E_ILLEGAL;
    }
    HDC dc = width > 0 ? image.ConvertImage(width, 0, false, *w, *h) : nullptr;
    if (!dc || image.MakeRaster(dc, *w, *h, false, kRasterThreshold, raster) != 0 || raster.GetLength() <= 4) {
        Log(10, "real data length is zero");
        return OPOS_E_ILLEGAL;
    }
    return OPOS_SUCCESS;
}

// ---- text

BOOL CLABELPrinter::TextMethodReady(long mask, long station, const char* method, const char* stop)
{
    if (!APS_CheckPreconditions(mask)) {
        Log(10, "APS_CheckPreconditions error in %s%s", method, stop);
        return FALSE;
    }
    if (!IsLabelStation(station)) {
        Log(10, "Invalid Station(%d) in %s", int(station), method);
        ResultCode = OPOS_E_ILLEGAL;
        return FALSE;
    }
    return TRUE;
}

long CLABELPrinter::ParseLines(const char* data)
{
    std::string text = FromBinaryConversion(data, TextLength(data));
    EscapeParseContext ctx = ParseContext();
    ctx.ownLength = text.size();
    if (text.empty() || text.back() != '\n')
        text += '\n';
    return BuildPrintData(m_builder, text.data(), text.size(), ctx);
}

long CLABELPrinter::PrintNormal(long station, const char* data)
{
    return PrintUnit([&]() -> long {
        Log(0, "m_ctlLabelPrinter1.PrintNormal(%d, \"%s\");", int(station), data ? data : "");
        if (!TextMethodReady(7, station, "PrintNormal", "."))
            return ResultCode;
        ResultCode = ParseLines(data);
        Log(0, "-PrintNormal = %d", int(ResultCode));
        return ResultCode;
    });
}

long CLABELPrinter::PrintImmediate(long station, const char* data)
{
    return PrintUnit([&]() -> long {
        Log(0, "m_ctlLabelPrinter1.PrintImmediate(%d, \"%s\");", int(station), data ? data : "");
        if (!TextMethodReady(3, station, "PrintImmediate", ""))
            return ResultCode;
        // Inside a transaction only this call's data goes out, as a label of its own; the
        // transaction's content waits for its end.
        const CLabelCommand::Mark mark = m_builder.GetMark();
        if (m_bTransaction)
            m_builder.ResetPosition();
        long parsed = ParseLines(data);
        if (parsed != OPOS_SUCCESS) {
            // A refused sequence refuses the call before anything is sent: a retry prints once.
            ResultCode = parsed;
            Log(10, "-PrintImmediate = %d", int(ResultCode));
            return ResultCode;
        }
        m_bImmediate = TRUE;
        SendLabel(FALSE, TRUE, m_bTransaction ? &mark : nullptr);
        m_bImmediate = FALSE;
        Log(0, "-PrintImmediate = %d", int(ResultCode));
        return ResultCode;
    });
}

long CLABELPrinter::ValidateData(long station, const char* data)
{
    Log(0, "m_ctlLabelPrinter1.ValidateData(%d, \"%s\");", int(station), data ? data : "");
    if (!APS_CheckPreconditions(3)) {
        Log(10, "APS_CheckPreconditions error in ValidateData.");
        return ResultCode;
    }
    FromBinaryConversion(data, TextLength(data));
    Log(0, "-ValidateData");
    return ResultCode;
}

long CLABELPrinter::SetLogo(long location, const char* data)
{
    Log(0, "m_ctlLabelPrinter1.SetLogo(%d, \"%s\");", int(location), data ? data : "");
    if (!APS_CheckPreconditions(3)) {
        Log(10, "APS_CheckPreconditions error in SetLogo.");
        return ResultCode;
    }
    if (location != 1 && location != 2) {
        Log(10, "Invalid Location <%d> in SetLogo", int(location));
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
    std::string logo = FromBinaryConversion(data, TextLength(data));
    Log(0, "+SetLogo < Location : %d, Data : %s >", int(location), logo.c_str());
    COPOSData* target = location == 1 ? m_pTopLogo : m_pBottomLogo;
    if (!target || target->Reset(DWORD(logo.size())) != COPOSData::OK ||
        target->Append(reinterpret_cast<const BYTE*>(logo.data()), DWORD(logo.size())) != COPOSData::OK) {
        ResultCode = OPOS_E_FAILURE;
        return ResultCode;
    }
    (location == 1 ? m_bTopLogoSet : m_bBottomLogoSet) = TRUE;
    ResultCode = OPOS_SUCCESS;
    Log(0, "-SetLogo");
    return ResultCode;
}

// ---- barcodes and pictures

long CLABELPrinter::PrintBarCode(long station, const CString& data, long symbology, long height, long width,
                                 long alignment, long textPosition)
{
    return PrintUnit([&]() -> long {
        Log(0, "m_ctlLabelPrinter1.PrintBarCode(%d, \"%s\", %d, %d, %d, %d, %d);", int(station), data.GetString(),
            int(symbology), int(height), int(width), int(alignment), int(textPosition));
        if (!APS_CheckPreconditions(7)) {
            Log(10, "APS_CheckPreconditions error in PrintBarCode.");
            return ResultCode;
        }
        ResultCode = OPOS_E_ILLEGAL;
        if (!m_config.CapRecBarCode || !IsLabelStation(station)) {
            Log(10, "-PrintBarCode < m_CapRecBarCode : %d, Station : %d >", int(m_config.CapRecBarCode), int(station));
            return ResultCode;
        }
        if (height <= 0) {
            Log(10, "-PrintBarCode : Invalid Height(%d)", int(height));
            return ResultCode;
        }
        if (m_config.BarHigh > 0) {
            height = m_config.BarHigh;
            Log(0, "Barcode height changed from inf=%d", int(height));
        }
        long dots = 0;
        if (!ToDots(height, m_config.m_mapMode.positionIn[MapMode], &dots) || dots >= 256) {
            ResultCodeExtended = kExtendedTooBig;
            Log(10, "-PrintBarCode : Height is toobig(%d/255)", int(dots));
            return ResultCode;
        }
        if (alignment != -1 && alignment != -2 && alignment != -3) {
            Log(10, "-PrintBarCode : Invalid Alignment(%d)", int(alignment));
            return ResultCode;
        }
        if (textPosition != -11 && textPosition != -12 && textPosition != -13) {
            Log(10, "-PrintBarCode : Invalid TextPosition(%d)", int(textPosition));
            return ResultCode;
        }
        if (data.IsEmpty()) {
            Log(10, "-PrintBarCode : Data empty!!");
            return ResultCode;
        }
        // The whole argument counts: data with a zero byte in it would print as a shorter code.
        if (std::memchr(data.GetString(), 0, size_t(data.GetLength()))) {
            Log(10, "-PrintBarCode : Data holds a zero byte");
            return ResultCode;
        }
        // The width is in the map mode's units like the height.
        long widthDots = 0;
        if (!ToDots(width, m_config.m_mapMode.positionIn[MapMode], &widthDots)) {
            Log(10, "-PrintBarCode : Invalid Width(%d)", int(width));
            return ResultCode;
        }
        std::string bytes = FromBinaryConversion(data.GetString(), size_t(data.GetLength()));
        ResultCode = m_builder.AddBarcode(bytes.data(), bytes.size(), int(symbology), int(dots), int(widthDots),
                                          int(alignment), int(textPosition), int(m_config.HRISize));
        if (ResultCode != OPOS_SUCCESS)
            Log(10, "-PrintBarCode : fail to Make barcode");
        else
            Log(0, "-PrintBarCode = %d", int(ResultCode));
        return ResultCode;
    });
}

long CLABELPrinter::PrintBitmap(long station, const char* fileName, long width, long alignment)
{
    return PrintUnit([&]() -> long {
        Log(0, "m_ctlLabelPrinter1.PrintBitmap(%d, \"%s\", %d, %d);", int(station), fileName ? fileName : "", int(width),
            int(alignment));
        if (!APS_CheckPreconditions(3)) {
            Log(10, "APS_CheckPreconditions error in PrintBitmap.");
            return ResultCode;
        }
        if (CheckImageParameters(station, fileName, width, alignment) != OPOS_SUCCESS) {
            Log(10, "Invalid parameters in PrintBitmap");
            ResultCode = OPOS_E_ILLEGAL;
            return ResultCode;
        }
        long dots = 0;
        if (!BitmapWidthDots(width, "PrintBitmap", &dots))
            return ResultCode;
        COPOSData image(1024);
        if (CKVTImage::IsPcxName(fileName)) {
            // The printer reads the file itself: it goes as it is, stored and recalled.
            // Placed and advanced by the size its header gives, as a decoded picture is.
            int w = 0, h = 0;
            if (CKVTImage::ReadFileToData(fileName, image) != 0 || !CKVTImage::PcxSize(image, &w, &h)) {
                Log(10, "Invalid image in SetBitmap");
                ResultCode = OPOS_E_ILLEGAL;
                return ResultCode;
            }
            if (w > m_nLineWidthDots) {
                Log(10, "Invalid Width is OPOS_EPTR_TOOBIG<%d> in picture", w);
                ResultCodeExtended = kExtendedTooBig;
                ResultCode = OPOS_E_ILLEGAL;
                return ResultCode;
            }
            ResultCode = m_builder.AddImage(image, false, false, w, h, int(alignment));
        } else {
            int w = 0, h = 0;
            ResultCode = PictureRaster(fileName, dots, image, &w, &h);
            if (ResultCode == OPOS_SUCCESS)
                ResultCode = m_builder.AddImage(image, false, true, w, h, int(alignment));
        }
        Log(0, "-PrintBitmap = %d", int(ResultCode));
        return ResultCode;
    });
}

long CLABELPrinter::SetBitmap(long bitmapNumber, long station, const char* fileName, long width, long alignment)
{
    Log(0, "m_ctlLabelPrinter1.SetBitmap(#%d, %d, \"%s\", %d, %d);", int(bitmapNumber), int(station),
        fileName ? fileName : "", int(width), int(alignment));
    if (!APS_CheckPreconditions(3)) {
        Log(10, "APS_CheckPreconditions error in SetBitmap.");
        return ResultCode;
    }
    ResultCode = OPOS_E_ILLEGAL;
    if (bitmapNumber < 1 || bitmapNumber > CLabelCommand::BitmapSlots) {
        Log(10, "Invalid BitmapNumber : <%d>", int(bitmapNumber));
        return ResultCode;
    }
    if (CheckImageParameters(station, fileName, width, alignment) != OPOS_SUCCESS) {
        Log(10, "Invalid parameters in SetBitmap");
        return ResultCode;
    }
    long dots = 0;
    if (!BitmapWidthDots(width, "SetBitmap", &dots))
        return ResultCode;
    if (CKVTImage::IsPcxName(fileName)) {
        Log(10, "pcx image not supported in SetBitmap");
        return ResultCode;
    }
    COPOSData raster(1024);
    int w = 0, h = 0;
    if (PictureRaster(fileName, dots, raster, &w, &h) != OPOS_SUCCESS)
        return ResultCode;
    ResultCode = m_builder.StoreBitmap(int(bitmapNumber), raster, true, w, h, int(alignment));
    Log(0, "-SetBitmap");
    return ResultCode;
}

// ---- cut and rotation

long CLABELPrinter::CutPaper(long percentage)
{
    return PrintUnit([&]() -> long {
        Log(0, "m_ctlLabelPrinter1.CutPaper(%d);", int(percentage));
        if (!APS_CheckPreconditions(7)) {
            Log(10, "APS_CheckPreconditions error in CutPaper");
            return ResultCode;
        }
        if (percentage < 0 || percentage > 100 || !m_config.CapRecPapercut) {
            Log(10, "-CutPaper <m_CapRecPapercut : %d>", int(m_config.CapRecPapercut));
            ResultCode = OPOS_E_ILLEGAL;
            return ResultCode;
        }
        ResultCode = m_builder.AddCut();
        Log(0, "-CutPaper");
        return ResultCode;
    });
}

long CLABELPrinter::RotatePrint(long station, long rotation)
{
    Log(0, "m_ctlLabelPrinter1.RotatePrint(%d, %d);", int(station), int(rotation));
    if (!APS_CheckPreconditions(7)) {
        Log(10, "APS_CheckPreconditions error in RotatePrint");
        return ResultCode;
    }
    if (!IsLabelStation(station)) {
        Log(10, "Invalid Station(%d) in RotatePrint", int(station));
        ResultCode = OPOS_E_ILLEGAL;
        return ResultCode;
    }
    m_nRotation = rotation;
    m_builder.SetRotation(int(rotation));
    Log(0, "-RotatePrint");
    return ResultCode;
}

// ---- sending labels

long CLABELPrinter::TransactionPrint(long station, long control)
{
    return PrintUnit([&]() -> long {
        Log(0, "m_ctlLabelPrinter1.TransactionPrint(%d, %d);", int(station), int(control));
        if (!APS_CheckPreconditions(7)) {
            Log(10, "APS_CheckPreconditions error in TransactionPrint.");
            return ResultCode;
        }
        if (!IsLabelStation(station) || !CapTransaction) {
            Log(10, "Invalid Station <%d> or CapTrasaction <%d> in TransactionPrint", int(station), int(CapTransaction));
            ResultCode = OPOS_E_ILLEGAL;
            return ResultCode;
        }
        if (control == 11) {
            // What was added before (every call of it returned 0) is kept and printed with the
            // transaction.
            if (!m_bTransaction) {
                Log(0, "TransactionPrint: Beginning transaction");
                m_bTransaction = TRUE;
            }
            return ResultCode;
        }
        if (m_bTransaction) {
            m_bTransaction = FALSE;
            SendLabel(AsyncMode, FALSE);
            Log(0, "-TransactionPrint: Ending transaction - %s ", GetLastResultText().GetString());
        }
        return ResultCode;
    });
}

long CLABELPrinter::MarkFeed(long type)
{
    return PrintUnit([&]() -> long {
        Log(0, "m_ctlLabelPrinter1.MarkFeed(%d);", int(type));
        // The label goes to the printer: a closed or disabled device has nowhere to send it.
        if (!APS_CheckPreconditions(3)) {
            Log(10, "APS_CheckPreconditions error in MarkFeed.");
            return ResultCode;
        }
        if (type != 1 || m_bTransaction || m_bPageMode) {
            Log(10, "-MarkFeed : Invalid Type(%d) or in transaction or page mode", int(type));
            ResultCode = OPOS_E_ILLEGAL;
            return ResultCode;
        }
        SendLabel(AsyncMode, FALSE);
        Log(0, "-MarkFeed = %d", int(ResultCode));
        return ResultCode;
    });
}

long CLABELPrinter::pageModePrint(long control)
{
    return PrintUnit([&]() -> long {
        Log(0, "m_ctlLabelPrinter1.pageModePrint(%d);", int(control));
        if (!APS_CheckPreconditions(3)) {
            Log(10, "APS_CheckPreconditions error in pageModePrint.");
            return ResultCode;
        }
        if (!IsLabelStation(PageModeStation) || !m_config.CapRecPageMode) {
            Log(10, "Invalid PageModeStation or capability in pageModePrint.");
            ResultCode = OPOS_E_ILLEGAL;
            return ResultCode;
        }
        // The result of what was done: a control that is not known, or a print outside page mode,
        // did nothing and says so.
        switch (control) {
        case 1:
            m_bPageMode = TRUE;
            break;
        case 2:
        case 3:
            if (!m_bPageMode) {
                ResultCode = OPOS_E_ILLEGAL;
                break;
            }
            m_bPageMode = FALSE;
            SendLabel(FALSE, FALSE);
            if (control == 2) {
                m_bPageMode = TRUE;
            } else {
                m_builder.ClearBody();
            }
            break;
        case 4:
            m_bPageMode = FALSE;
            m_builder.ClearBody();
            break;
        default:
            ResultCode = OPOS_E_ILLEGAL;
            break;
        }
        Log(0, "-pageModePrint = %d", int(ResultCode));
        return ResultCode;
    });
}

long CLABELPrinter::ClearPrintArea()
{
    Log(0, "m_ctlLabelPrinter1.ClearPrintArea();");
    if (!APS_CheckPreconditions(3)) {
        Log(10, "APS_CheckPreconditions error in ClearPrintArea.");
        return ResultCode;
    }
    Log(0, "m_ctlLabelPrinter1.SetPageModePrintArea(\"%s\");", PageInMapMode("0,0,%d,%d", m_config.PageWidth, m_config.PageLength).GetString());
    ApplyConfiguredPage();
    return pageModePrint(4);
}
