// CLabelCommand: the label command builder. Turns drawing requests (text, barcodes, images,
// boxes, circles, cuts, custom commands) into the printer's label command lines and wraps the
// body in the label's setup commands. Talks to no port: BuildLabel hands the finished bytes on.
#pragma once

#include "FxString.h"
#include "LabelFont.h"
#include "OPOSData.h"

#include <cstddef>
#include <string>
#include <vector>

// The result of one print call: the first refusal stands, whatever succeeds after it.
class CCallResult
{
public:
    void Keep(int rc)
    {
        if (m_rc == 0)
            m_rc = rc;
    }
    int Get() const { return m_rc; }

private:
    int m_rc = 0;
};

class CLabelCommand
{
public:
    // MaxDots: the largest size in dots a character metric, line width or circle may have
    // (the printer's 16-bit signed fields); larger sizes from print data are refused.
    enum { BitmapSlots = 20, MaxDots = 0x7FFF };
    enum Alignment { AlignLeft = -1, AlignCentre = -2, AlignRight = -3 };
    enum TextPosition { HriNone = -11, HriAbove = -12, HriBelow = -13 };

    CLabelCommand();
    ~CLabelCommand();
    CLabelCommand(const CLabelCommand&) = delete;
    CLabelCommand& operator=(const CLabelCommand&) = delete;

    // ---- settings of the device (configuration and properties)
    int SetMargins(int left, int top);
    int SetOffsetPosition(int v);
    int SetTearOffPosition(int v);
    int SetBackFeed(int feed, int step);
    int SetPrintSpeed(int v);
    int SetDensity(int v);
    int SetLineSpacing(int dots);
    int SetInternationalCharSet(int v);
    int SetCodePage(int v);
    int SetPrintType(const CString& type);
    int SetPaper(int width, int length, int gap, const CString& type, int offset);
    int SetOrientation(const CString& orientation);
    int SetOperationMode(const CString& mode, int period);
    int SetHeaderCommands(const CString& text);
    int AllocCustomCommands(int count);
    int SetCustomCommand(int n, const CString& command);

    // ---- text attributes
    int SetReverse(int on);
    int SetBold(int on);
    int SetItalic(int on);
    int SetAlignment(int alignment);
    int SetRightToLeft(int v);
    int SetCircleValue(int v);
    int SetBoxLineWidth(int v);
    int ResetTextAttributes();
    int SetWidthMultiplier(int m);
    int SetHeightMultiplier(int m);
    int SetCharWidth(int dots);
    int SetCharHeight(int dots);
    int SetCharGap(int dots);
    int SetRotation(int oposRotation);
    static int MapSymbology(int oposSymbology);

    // ---- fonts
    int LoadFontTable(const CString& folder, int languageType, const std::vector<DownloadedFont>& downloaded)
    {
        return m_fonts.LoadFontTable(folder, languageType, downloaded);
    }
    int SelectFont(int n) { return m_fonts.SelectFont(n); }
    const CLabelFontTable& Fonts() const { return m_fonts; }
    CLabelFontTable& FontTable() { return m_fonts; }

    // ---- position
    int ResetPosition();
    int SetPositionX(int x);
    int SetPositionY(int y);
    int AlignX(int width);
    int AdvanceY(int n);
    int SetBoxEndX(int x);
    int SetBoxEndY(int y);

    // ---- commands into the body
    int AddText(const char* text, size_t length);
    int AddText(const CString& text) { return AddText(text.GetString(), size_t(text.GetLength())); }
    int AddBarcode(const char* data, size_t length, int symbology, int height, int width, int alignment,
                   int textPosition, int fontNumber);
    int AddImage(const COPOSData& data, bool compressed, bool binary, int width, int height, int alignment);
    int StoreBitmap(int n, const COPOSData& data, bool emit, int width, int height, int alignment);
    int PrintStoredBitmap(int n);
    bool IsBitmapStored(int n) const;
    int AddBox(const CString& type);
    int AddCircle(int value);
    int AddCut();
    int AddCustomCommand(int n, const CString& argument);
    int AppendData(const COPOSData& data);
    int AppendBytes(const void* bytes, size_t n);
    int AppendString(const CString& s, int n);
    int ClearBody();
    int BuildLabel(COPOSData& target);

    // The whole state one print call may change: the body, the position and its explicit flag,
    // the font and the text attributes. A call that is refused is undone back to it, so what the
    // call returns is what the label holds.
    struct Mark
    {
        DWORD length;
        unsigned label;  // which label the body was: a call that sent or discarded it keeps that
        int x, y;
        bool explicitPosition;
        LabelCurrentFont font;
        int fontNumber;
        int alignment, wmul, hmul;
        bool reverse, bold, italic;
        int boxEndX, boxEndY, boxLineWidth, circleValue;
    };
    Mark GetMark() const;
    int RollBack(const Mark& m);
    // Runs one call as a unit: unless it returns 0 the builder is put back as it was.
    template <class Call>
    int Unit(Call call)
    {
        const Mark m = GetMark();
        const int rc = call();
        if (rc != 0)
            RollBack(m);
        return rc;
    }
    // The most bytes the body may hold (the print buffer's own limit unless set lower).
    void SetBodyLimit(DWORD n) { m_body.SetLimit(n); }
    // Builds a label of only what came after m; the body goes back to m (the rest stays).
    int BuildLabelSince(const Mark& m, COPOSData& target);

    // ---- read back (properties, print methods, tests)
    const COPOSData& Body() const { return m_body; }
    int X() const { return m_x; }
    int Y() const { return m_y; }
    bool ExplicitPosition() const { return m_explicit; }
    int Rotation() const { return m_rotation; }
    int GetAlignment() const { return m_alignment; }
    int WidthMultiplier() const { return m_wmul; }
    bool Reverse() const { return m_reverse; }
    bool Bold() const { return m_bold; }
    bool Italic() const { return m_italic; }
    int HeightMultiplier() const { return m_hmul; }
    int PaperWidth() const { return m_paperWidth; }
    int PaperLength() const { return m_paperLength; }
    int LeftMargin() const { return m_leftMargin; }
    int TopMargin() const { return m_topMargin; }
    int GapLength() const { return m_gapLength; }
    const CString& PaperType() const { return m_paperType; }
    const CString& OperationMode() const { return m_operationMode; }
    int CutterPeriod() const { return m_cutterPeriod; }
    int InternationalCharSet() const { return m_intlCharSet; }
    int CodePage() const { return m_codePage; }
    int CustomCommandCount() const { return int(m_custom.size()); }
    const CString& HeaderCommands() const { return m_header; }
    const CString& Orientation() const { return m_orientation; }
    int PrintSpeed() const { return m_printSpeed; }
    int OffsetPosition() const { return m_offsetPosition; }
    int TearOffPosition() const { return m_tearOffPosition; }
    int LastBarcodeWidth() const { return m_barcodeWidth; }
    int LastNarrowModule() const { return m_narrow; }
    int LastWideModule() const { return m_wide; }

    // The fixed test label of the external health check, on the configured page (not a print
    // area the application set), with the device's other paper settings.
    std::string BuildTestLabel(const CString& deviceName, int pageWidth, int pageLength) const;
    // What the test label's QR code holds.
    static const char* TestLabelAddress() { return "https://example.com/vesk-opos"; }

private:
    struct BitmapSlot
    {
        COPOSData data{1};
        COPOSData spare{1};
        bool emit = false;
        int alignment = AlignLeft;
        int width = 0;
        int height = 0;
        bool stored = false;
    };

    void Append(const std::string& s);
    void Put(const BYTE* bytes, DWORD n);
    void Put(const COPOSData& d) { Put(d.GetData(), d.GetLength()); }
    // An operation starts with Begin and ends with Finish: when the body refused a part of it
    // the operation fails with `refused` (the call it belongs to is undone as a whole).
    void Begin() { m_refused = false; }
    int Finish(int refused);
    // After an item (text line, picture, barcode, box, circle): an explicit position placed that
    // item only, and the next one starts at the left margin.
    void EndItem()
    {
        m_explicit = false;
        m_x = 0;
    }
    bool WriteLabel(COPOSData& target, const BYTE* body, DWORD length);
    bool m_refused = false;
    int AddTwoDimensional(const std::string& data, int symbology, int width, int alignment, int textPosition);
    int AlignXFor(int width, int alignment);
    bool ChooseModules(int type, const std::string& data, int width);
    void SetX(long long x) { m_x = x < 0 ? 0 : (x > 0x7FFFFFFF ? 0x7FFFFFFF : int(x)); }
    // y moves by any amount without leaving the int range (heights come from the print data).
    void MoveY(long long d)
    {
        long long y = (long long)m_y + d;
        m_y = y > 0x7FFFFFFF ? 0x7FFFFFFF : (y < -0x7FFFFFFF - 1 ? -0x7FFFFFFF - 1 : int(y));
    }

    CString m_header;
    unsigned m_label = 0;  // counts the labels built or discarded
    std::vector<CString> m_custom;
    COPOSData m_body{1024};
    CString m_printType;
    int m_paperWidth = 0, m_paperLength = 0, m_gapLength = 0;
    CString m_paperType;
    int m_offsetLength = 0;
    int m_leftMargin = 0, m_topMargin = 0;
    int m_offsetPosition = 0, m_tearOffPosition = 0;
    int m_backFeed = 0, m_backFeedStep = 0;
    CString m_orientation;
    int m_printSpeed = 0, m_density = 0;
    CString m_operationMode;
    int m_cutterPeriod = 0;
    CLabelFontTable m_fonts;
    bool m_explicit = false;
    int m_x = 0, m_y = 0;
    int m_rotation = 0;
    int m_alignment = AlignLeft;
    int m_wmul = 1, m_hmul = 1;
    int m_lineSpacing = 0;
    bool m_reverse = false, m_bold = false, m_italic = false;
    int m_rightToLeft = 0;
    int m_intlCharSet = 0, m_codePage = 0;
    int m_narrow = 2, m_wide = 2, m_barcodeWidth = 0;
    BitmapSlot m_slots[BitmapSlots];
    int m_boxEndX = 0, m_boxEndY = 0, m_boxLineWidth = 0, m_circleValue = 0;
};
