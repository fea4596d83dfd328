// labelbench: the cost of the Service Object's picture conversion and of its print-data path.
//
// 1. Image conversion: an 812 x 1218 picture (a 4 x 6 inch label at 203 dpi), written by this
//    program as a 24-bit BMP file with a colour pattern, goes through the Service Object's own
//    code (LoadImage, CalcWidth to 812 dots, ConvertImage, MakeRaster) and, as the baseline,
//    through a plain loop that reads the same file, makes each pixel grey, thresholds and packs
//    it. Both must give the same raster; both times and their ratio are printed.
// 2. Print data: a 1 MB and a 2 MB print line (text with escape sequences mixed in) through
//    BuildPrintData and BuildLabel; both times and their ratio (linear growth gives about 2).
//
// Each figure is the best of several runs (the median is printed beside it). Run it through
// tools/labelbench/labelbench.sh, which builds it and runs it in the build's Wine prefix.
#include "EscapeParser.h"
#include "LabelCommand.h"
#include "LabelImage.h"
#include "LabelTestKit.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchKit.h"

namespace {

using benchkit::Figures;
using benchkit::Now;
using benchkit::Timing;

const int kWidth = 812;
const int kHeight = 1218;
const int kThreshold = 127;
const int kImageRuns = 7;
const int kTextRuns = 7;

// ---- image conversion

// A 24-bit bottom-up BMP: colour gradients crossed by a pattern, so that grey values cover the
// whole range and the threshold cuts through every row.
std::string PatternBmp(int w, int h)
{
    int stride = (w * 3 + 3) / 4 * 4;
    std::string px(size_t(stride) * size_t(h), '\0');
    for (int y = 0; y < h; ++y) {
        int fileRow = h - 1 - y;  // bottom-up
        BYTE* row = reinterpret_cast<BYTE*>(&px[size_t(fileRow) * size_t(stride)]);
        for (int x = 0; x < w; ++x) {
            BYTE r = BYTE(x * 255 / (w - 1));
            BYTE g = BYTE(y * 255 / (h - 1));
            BYTE b = BYTE(((x / 16) ^ (y / 16)) & 1 ? 230 : 20);
            row[x * 3 + 0] = b;
            row[x * 3 + 1] = g;
            row[x * 3 + 2] = r;
        }
    }
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;  // "BM"
    fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    fh.bfSize = fh.bfOffBits + DWORD(px.size());
    BITMAPINFOHEADER bi = {};
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = BI_RGB;
    std::string f(reinterpret_cast<const char*>(&fh), sizeof fh);
    f.append(reinterpret_cast<const char*>(&bi), sizeof bi);
    return f + px;
}

bool WriteWholeFile(const std::string& name, const std::string& bytes)
{
    HANDLE f = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD put = 0;
    BOOL ok = WriteFile(f, bytes.data(), DWORD(bytes.size()), &put, nullptr);
    CloseHandle(f);
    return ok && put == bytes.size();
}

// The times of the Service Object's three steps in one conversion.
struct Steps
{
    double load = 0, convert = 0, raster = 0;
};

// The Service Object's way: decode, scale to 812 dots, grey, raster (not compressed).
bool ServiceObjectRaster(const std::string& file, COPOSData& out, Steps& steps)
{
    CLabelImage img;
    int isPicture = 0;
    double t0 = Now();
    if (img.LoadImage(CString(file.c_str()), isPicture) != 0 || isPicture != 1)
        return false;
    double t1 = Now();
    int w = img.CalcWidth(kWidth, false, 0, 100), ow = 0, oh = 0;
    HDC dc = img.ConvertImage(w, 0, false, ow, oh);
    if (!dc)
        return false;
    double t2 = Now();
    bool ok = img.MakeRaster(dc, ow, oh, false, kThreshold, out) == 0;
    steps = {t1 - t0, t2 - t1, Now() - t2};
    return ok;
}

// The baseline: read the same file in one call, take its 24-bit pixels as they are, grey them as
// the Service Object does (the rounded mean), threshold and pack, leftmost pixel in the top bit.
bool PlainRaster(const std::string& file, COPOSData& out)
{
    HANDLE f = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    std::vector<BYTE> bytes(GetFileSize(f, nullptr));
    DWORD got = 0;
    BOOL read = ReadFile(f, bytes.data(), DWORD(bytes.size()), &got, nullptr);
    CloseHandle(f);
    if (!read || got != bytes.size() || bytes.size() < 54)
        return false;
    const BYTE* d = bytes.data();
    DWORD offset;
    BITMAPINFOHEADER bi;
    std::memcpy(&offset, d + 10, 4);
    std::memcpy(&bi, d + 14, sizeof bi);
    int w = bi.biWidth, h = bi.biHeight;
    int stride = (w * 3 + 3) / 4 * 4;
    if (bi.biBitCount != 24 || w <= 0 || h <= 0 || offset + DWORD(stride) * DWORD(h) > bytes.size())
        return false;
    int rowBytes = (w + 7) / 8;
    std::vector<BYTE> rows(size_t(rowBytes) * size_t(h), 0);
    for (int y = 0; y < h; ++y) {
        const BYTE* src = d + offset + size_t(h - 1 - y) * size_t(stride);
        BYTE* row = &rows[size_t(y) * size_t(rowBytes)];
        for (int x = 0; x < w; ++x) {
            int grey = (src[0] + src[1] + src[2] + 1) / 3;
            src += 3;
            if (grey < kThreshold)
                row[x >> 3] |= BYTE(0x80 >> (x & 7));
        }
    }
    BYTE head[4] = {BYTE(rowBytes & 0xFF), BYTE(rowBytes >> 8), BYTE(h & 0xFF), BYTE(h >> 8)};
    out.Reset(DWORD(rows.size() + 4));
    return out.Append(head, 4) == 0 && out.Append(rows.data(), DWORD(rows.size())) == 0;
}

bool Same(const COPOSData& a, const COPOSData& b)
{
    return a.GetLength() == b.GetLength() && std::memcmp(a.GetData(), b.GetData(), a.GetLength()) == 0;
}

int ImageBenchmark()
{
    char tmp[MAX_PATH];
    if (!GetTempPathA(sizeof tmp, tmp)) {
        std::printf("labelbench: no temporary folder (%lu)\n", GetLastError());
        return 1;
    }
    std::string file = std::string(tmp) + "labelbench-" + std::to_string(GetCurrentProcessId()) + ".bmp";
    if (!WriteWholeFile(file, PatternBmp(kWidth, kHeight))) {
        std::printf("labelbench: cannot write %s (%lu)\n", file.c_str(), GetLastError());
        return 1;
    }
    int rc = 0;
    COPOSData so(1), plain(1);
    Steps steps, fastest;
    bool ok = ServiceObjectRaster(file, so, fastest) && PlainRaster(file, plain);
    if (!ok) {
        std::printf("labelbench: image conversion failed\n");
        rc = 1;
    } else if (!Same(so, plain)) {
        std::printf("labelbench: the two rasters differ (%u and %u bytes)\n", unsigned(so.GetLength()),
                    unsigned(plain.GetLength()));
        rc = 1;
    } else {
        // Alternating the two keeps a noisy neighbour from weighing on one side only.
        std::vector<double> a, b;
        for (int i = 0; i < kImageRuns && ok; ++i) {
            double t0 = Now();
            ok = ServiceObjectRaster(file, so, steps);
            double t1 = Now();
            if (i == 0 || t1 - t0 < fastest.load + fastest.convert + fastest.raster)
                fastest = steps;
            ok = ok && PlainRaster(file, plain);
            double t2 = Now();
            a.push_back(t1 - t0);
            b.push_back(t2 - t1);
        }
        if (!ok) {
            std::printf("labelbench: image conversion failed\n");
            rc = 1;
        } else {
            Timing tSo = Figures(a), tPlain = Figures(b);
            double ratio = tSo.best / tPlain.best;
            std::printf("image          %dx%d 24-bit BMP to %u raster bytes, best of %d (median)\n", kWidth,
                        kHeight, unsigned(so.GetLength()), kImageRuns);
            std::printf("service object %8.1f ms  (%.1f ms)\n", tSo.best * 1e3, tSo.median * 1e3);
            std::printf("  its steps    load %.1f ms, scale and grey %.1f ms, raster %.1f ms (fastest run)\n",
                        fastest.load * 1e3, fastest.convert * 1e3, fastest.raster * 1e3);
            std::printf("plain pack     %8.1f ms  (%.1f ms)\n", tPlain.best * 1e3, tPlain.median * 1e3);
            std::printf("ratio          %8.3f  (aim at most 1.5: %s)\n", ratio, ratio <= 1.5 ? "met" : "MISSED");
        }
    }
    DeleteFileA(file.c_str());
    return rc;
}

// ---- escape parsing and label building

// One print line of about size bytes: text (with quotes and backslashes to escape) and escape
// sequences of attributes, alignment, fonts, sizes and positions, ended by a line feed.
std::string PrintLine(size_t size)
{
    static const char* pieces[] = {
        "Order 1234 for O'Brien ", "\x1b|bC", "bold part ", "\x1b|N", "path C:\\labels\\a ",
        "\x1b|cA", "centred ", "\x1b|2C", "wide ", "\x1b|1C", "\x1b|iC", "italic ", "\x1b|!iC",
        "\x1b|rA", "right ", "\x1b|lA", "\x1b|rvC", "reverse ", "\x1b|!rvC", "\x1b|4C", "big ",
        "\x1b|N", "\x1b|120xP", "at x ", "\x1b|1fT", "font one ", "\x1b|0fT", "\x1b|30fwS",
        "char width ", "\x1b|N", "plain text with nothing special in it at all ",
    };
    std::string s;
    s.reserve(size);
    for (size_t i = 0;; ++i) {
        const char* p = pieces[i % (sizeof pieces / sizeof pieces[0])];
        if (s.size() + std::strlen(p) + 1 > size)
            break;
        s += p;
    }
    // Whole sequences only; the rest is plain text.
    s.resize(size - 1, 'x');
    s += '\n';
    return s;
}

struct TextResult
{
    int rc = 0;
    COPOSData label{1};
};

// A device set up as the builder's tests set it up (a 4-inch 203 dpi printer with cutter).
bool BuildOnce(const std::string& line, TextResult& r)
{
    CLabelCommand b;
    Configure(b);
    EscapeParseContext ctx;
    ctx.lineSpacingDots = 30;
    ctx.capRecPapercut = true;
    r.rc = BuildPrintData(b, line.data(), line.size(), ctx);
    r.label.Reset(1);
    return b.BuildLabel(r.label) == 0 && r.label.GetLength() > line.size() / 2;
}

int TextBenchmark()
{
    const size_t mb = 1u << 20;
    std::string one = PrintLine(mb), two = PrintLine(2 * mb);
    TextResult r1, r2;
    if (!BuildOnce(one, r1) || !BuildOnce(two, r2)) {
        std::printf("labelbench: label building failed\n");
        return 1;
    }
    // What is measured must be a label the printer takes (checked once, outside the timing).
    for (const TextResult* r : {&r1, &r2}) {
        qlks::Label parsed = Parse(r->label);
        if (r->rc != 0 || !parsed.complete || !parsed.problems.empty()) {
            std::printf("labelbench: the label is not right (result %d, %s): %s\n", r->rc,
                        parsed.complete ? "complete" : "incomplete",
                        parsed.problems.empty() ? "" : parsed.problems.front().c_str());
            return 1;
        }
    }
    std::vector<double> a, b;
    for (int i = 0; i < kTextRuns; ++i) {
        double t0 = Now();
        bool ok = BuildOnce(one, r1);
        double t1 = Now();
        ok = ok && BuildOnce(two, r2);
        double t2 = Now();
        if (!ok) {
            std::printf("labelbench: label building failed\n");
            return 1;
        }
        a.push_back(t1 - t0);
        b.push_back(t2 - t1);
    }
    Timing t1 = Figures(a), t2 = Figures(b);
    double ratio = t2.best / t1.best;
    std::printf("print line     BuildPrintData + BuildLabel, best of %d (median)\n", kTextRuns);
    std::printf("1 MB           %8.1f ms  (%.1f ms)  label %u bytes, result %d\n", t1.best * 1e3, t1.median * 1e3, unsigned(r1.label.GetLength()), r1.rc);
    std::printf("2 MB           %8.1f ms  (%.1f ms)  label %u bytes, result %d\n", t2.best * 1e3, t2.median * 1e3, unsigned(r2.label.GetLength()), r2.rc);
    std::printf("ratio          %8.3f  (aim at most 2.2: %s)\n", ratio, ratio <= 2.2 ? "met" : "MISSED");
    return 0;
}

}  // namespace

int main()
{
    CoInitialize(nullptr);
    int rc = ImageBenchmark();
    rc |= TextBenchmark();
    CoUninitialize();
    return rc;
}
