// QLKS label stream parser: the printer's view of the bytes a driver sends.
//
// Portable C++17, no operating-system calls: the printer simulator runs it on every byte it
// receives, and tests run it on label bytes they fetch, so both sides read labels the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace qlks {

using Bytes = std::vector<std::uint8_t>;

// One command line of a label. The setup commands are listed in the order a label carries them.
enum class Op {
    Unknown,
    PaperLength,    // SL
    PaperWidth,     // SW
    PrintType,      // ST
    Margins,        // SM
    BackFeed,       // SF
    PrintSpeed,     // SS
    Density,        // SD
    Orientation,    // SO
    OffsetPosition, // SA
    TearOffPosition,// TA
    CharSet,        // CS
    CutSetup,       // CUTn
    Text,           // T   bitmap-font text
    VectorText,     // V   vector-font text
    Barcode,        // B1  one-dimensional barcode
    Pdf417,         // B2 .. P
    MaxiCode,       // B2 .. M
    QrCode,         // B2 .. Q
    Raster,         // LD  raster image, binary
    RasterRle,      // LCR run-length compressed raster image, binary
    ImageStore,     // IS  stored image file, binary
    ImageRecall,    // IR
    Box,            // BD  (also DirectIO's free text: field "text", flagged kFreeText)
    Circle,         // CD  (also DirectIO's free text: field "text", flagged kFreeText)
    Cut,            // CUTy
    Rewind,         // RWDy
    Print,          // P1  ends the label
};

const char* opName(Op op);

enum Flag : unsigned {
    kUnknown = 1,    // a line no command form knows
    kMalformed = 2,  // a known command whose fields or payload do not fit its form
    kOutOfOrder = 4, // a line in a place the label order does not allow
    kMissing = 8,    // (label only) a required setup line is absent
    kInterleaved = 16, // (label only) a status request stood between its lines, though a label
                       // goes out as one buffer under the port lock
    kFreeText = 32,  // a BD or CD line that fits no form: only DirectIO sends the application's text so
    kValue = 64,     // (builder labels) a value the label cannot print: a position beyond its own page,
                     // a font or HRI font it has not, a size out of range, data its symbology does not
                     // take, a box ending before its start, a page of no size
};

constexpr long kNoValue = std::numeric_limits<long>::min();

struct Field {
    std::string name;
    bool isNumber = false;
    long number = 0;
    std::string text; // words and quoted texts (unescaped where the command escapes)
};

struct Command {
    Op op = Op::Unknown;
    std::string mnemonic;     // "SL", "T", "B2", "LD", "CUTy", ...; empty for unknown lines
    std::vector<Field> fields;
    Bytes payload;            // LD/LCR: header and rows as sent; IS: the stored bytes
    Bytes pixels;             // LD/LCR: the rows uncompressed
    Bytes raw;                // the bytes as received, line end included
    unsigned flags = 0;
    std::string problem;      // why it is flagged

    long num(std::string_view name) const;         // kNoValue when absent or not a number
    std::string str(std::string_view name) const;  // empty when absent
    bool has(std::string_view name) const;
};

struct Label {
    std::vector<Command> commands; // in arrival order; P1 last when complete
    Bytes raw;
    bool complete = false;
    bool testLabel = false;        // read as CheckHealth's fixed test label, by that label's own rules
    unsigned flags = 0;            // every command's flags, kMissing and kInterleaved
    std::vector<std::string> problems;
    long long startTime = 0, endTime = 0;

    const Command* find(Op op, std::size_t nth = 0) const;
    std::size_t count(Op op) const;
};

// What the stream holds besides labels, in arrival order.
struct Event {
    enum Kind { KeepAlive, Init, StatusRequest, LabelDone, LineFeed } kind;
    long long time = 0;   // the time given with the bytes that completed it
    std::size_t label = 0; // LabelDone: index into labels()
};

// Splits a byte stream into labels and the items between them: 0x00 keep-alive, 0x40
// initialisation, 0x0A the line feed sent before a retried job, and the status request
// "^cu\r\n". The status request is taken and answered at any line start. Inside a label it flags
// the label, and stays in the label's bytes, when a line of the label follows it (a label is
// written as one buffer under the port lock, so nothing comes between its lines); it does not
// when the label was cut short and only the status check of the failed write followed. A line
// feed where a line of an open label should start ends that label as cut short. Feed bytes in
// any split; items complete as their last byte arrives. A label is judged when it ends: by the
// builder's rules, or, when it carries CheckHealth's test frame and no ST line, by the test
// label's own rules.
class StreamParser {
public:
    void feed(const std::uint8_t* data, std::size_t n, long long time = 0);
    void feed(const Bytes& b, long long time = 0) { feed(b.data(), b.size(), time); }
    // Ends the stream: an open label is kept as incomplete.
    void finish();

    const std::vector<Label>& labels() const { return labels_; }
    const std::vector<Event>& events() const { return events_; }
    std::size_t count(Event::Kind kind) const;
    bool inLabel() const { return open_; }
    std::size_t pendingBytes() const { return buf_.size() - pos_; }
    // Bytes of the label now open (0 between labels).
    std::size_t labelBytes() const { return open_ ? cur_.raw.size() + pendingBytes() : 0; }

private:
    enum class Step { NeedMore, Done };
    Step step(long long time);
    Step labelItem(long long time);
    void closeLabel(long long time);
    void closePartial(long long time);
    void addCommand(Command c);

    Bytes buf_;            // received bytes not yet consumed start at pos_
    std::size_t pos_ = 0;
    std::size_t scanFrom_ = 0; // where the search for a line end resumes
    bool open_ = false;
    std::size_t statusInLabel_ = 0; // status requests after the last line of the open label
    Label cur_;
    std::vector<Label> labels_;
    std::vector<Event> events_;
};

// Parses one text line (without its line end) into a command by the builder's forms; never throws.
Command parseLine(std::string_view line);

// Parses a whole label's bytes (as fetched from the simulator).
Label parseLabel(const Bytes& raw);

// The automatic status frame byte sets: four bytes, each from the set for its position.
bool isAsbFrame(const std::uint8_t frame[4]);
bool isIasbFrame(const std::uint8_t frame[4]);

// Readable one-line form of a label for test failure messages.
std::string describe(const Label& label);

} // namespace qlks
