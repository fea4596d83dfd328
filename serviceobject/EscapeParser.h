// The print data of PrintNormal and PrintImmediate: plain text, line ends and the ESC "|"
// sequences, turned into label builder calls. Sends nothing.
#pragma once

#include "LabelCommand.h"

#include <cstddef>
#include <functional>
#include <string>

// What the parser reads of the service object.
struct EscapeParseContext
{
    int characterSet = 0;
    int lineSpacingDots = 0;     // RecLineSpacing in dots
    bool capRecPapercut = false;
    const COPOSData* topLogo = nullptr;     // NULL: no top logo set
    const COPOSData* bottomLogo = nullptr;
    int hriFont = 0;             // font number of barcode text (HRISize)
    // Map-mode units to dots for the unit feed; identity when not given.
    std::function<int(int)> unitsToDots;
    // ANSI text to UTF-8 for character set 997; unchanged when not given.
    std::function<std::string(const std::string&)> toUtf8;
    // Where the application's own bytes end (the print methods append a line end after them): a
    // raw or barcode count must not reach past it.
    size_t ownLength = size_t(-1);
    // Trace lines ("Cutting ").
    std::function<void(const char*)> log;
};

// Parses length bytes of data into the builder's body. Returns the result code of the first
// refusal: 106 for an illegal or unknown sequence or a refused item (parsing goes on), 111 for a
// feed with an unknown unit letter or a body that is full; 0 when nothing was refused. The
// caller undoes a refused call as a whole (CLabelCommand::Unit).
int BuildPrintData(CLabelCommand& builder, const char* data, size_t length, const EscapeParseContext& ctx);
