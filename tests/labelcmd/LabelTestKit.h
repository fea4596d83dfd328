// Helpers of the label builder tests: a builder with a known font table and the body as text.
#pragma once

#include "LabelCommand.h"
#include "qlks.h"

#include <string>

inline std::string BodyText(const CLabelCommand& b)
{
    return std::string(reinterpret_cast<const char*>(b.Body().GetData()), b.Body().GetLength());
}

inline std::string DataText(const COPOSData& d) { return std::string(reinterpret_cast<const char*>(d.GetData()), d.GetLength()); }

// Fonts: 0 bitmap "0" (10x20, ASCII 6, gap 1), 1 bitmap "1" (12x24), 2 vector "U0" (16x16).
inline void GiveFonts(CLabelCommand& b, int current = 0)
{
    LabelFontSpec f0, f1, f2;
    f0.FontName = "0"; f0.FontW = 10; f0.FontH = 20; f0.FontGap = 1; f0.ASCIIW = 6;
    f1.FontName = "1"; f1.FontW = 12; f1.FontH = 24; f1.FontGap = 2;
    f2.FontType = LABELFONT_VECTOR; f2.FontName = "U0"; f2.FontW = 16; f2.FontH = 16; f2.ASCIIW = 8;
    b.FontTable().Build({f0, f1, f2}, {}, current);
}

// A builder set up as a 4-inch 203 dpi device with cutter.
inline void Configure(CLabelCommand& b)
{
    b.SetPrintType("D");
    b.SetPaper(832, 1200, 24, "G", 0);
    b.SetMargins(0, 0);
    b.SetPrintSpeed(4);
    b.SetDensity(10);
    b.SetOrientation("T");
    b.SetOperationMode("C", 1);
    GiveFonts(b);
}

inline qlks::Label Parse(const COPOSData& label)
{
    qlks::Bytes raw(label.GetData(), label.GetData() + label.GetLength());
    return qlks::parseLabel(raw);
}
