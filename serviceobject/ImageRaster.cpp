#include "ImageRaster.h"

#include <vector>

namespace {
const int kIllegal = 106;
}

int CompressRunLength(const BYTE* in, size_t n, COPOSData& out)
{
    std::vector<BYTE> buf;
    buf.reserve(n / 2 + 16);
    size_t i = 0;
    while (i < n) {
        BYTE b = in[i];
        if (b == 0x00 || b == 0xFF) {
            size_t run = 1;
            while (i + run < n && in[i + run] == b && run < 255)
                ++run;
            buf.push_back(b);
            buf.push_back(BYTE(run));
            i += run;
        } else {
            buf.push_back(b);
            ++i;
        }
    }
    return out.Append(buf.data(), DWORD(buf.size())) == 0 ? 0 : kIllegal;
}

namespace {

// A pixel is dark when any of its channels is below threshold.
inline bool IsDark(uint32_t c, int threshold)
{
    return int(c & 0xFF) < threshold || int((c >> 8) & 0xFF) < threshold || int((c >> 16) & 0xFF) < threshold;
}

// The raster of w x h pixels; fillRow(y, row) sets the dark bits of row y in its zeroed bytes. A
// template, so that a source of plain memory is inlined into the loop.
template <class FillRow>
int MakeRasterOf(const FillRow& fillRow, int w, int h, bool compress, COPOSData& target)
{
    if (w <= 0 || h <= 0)
        return kIllegal;
    int64_t rowBytes = (int64_t(w) + 7) / 8;
    // Both header fields are 16 bits; a picture beyond them would wrap into a wrong label.
    if (rowBytes > 0xFFFF || h > 0xFFFF)
        return kIllegal;
    int64_t size = rowBytes * h;
    if (size + 4 > int64_t(COPOSData::kMaxSize))
        return kIllegal;
    std::vector<BYTE> rows(size_t(size), 0);
    for (int y = 0; y < h; ++y)
        fillRow(y, &rows[size_t(rowBytes * y)]);
    if (target.Reset(DWORD(size + 4)) != 0)
        return kIllegal;
    BYTE head[4] = {BYTE(rowBytes & 0xFF), BYTE(rowBytes >> 8), BYTE(h & 0xFF), BYTE(h >> 8)};
    target.Append(head, 4);
    if (compress)
        return CompressRunLength(rows.data(), rows.size(), target);
    return target.Append(rows.data(), DWORD(rows.size())) == 0 ? 0 : kIllegal;
}

}  // namespace

int MakeRasterFromPixels(const PixelReader& pixel, int w, int h, bool compress, int threshold, COPOSData& target)
{
    auto fill = [&pixel, w, threshold](int y, BYTE* row) {
        for (int x = 0; x < w; ++x)
            if (IsDark(pixel(x, y), threshold))
                row[x / 8] |= BYTE(0x80 >> (x % 8));
    };
    return MakeRasterOf(fill, w, h, compress, target);
}

int MakeRasterFromRows(const uint32_t* top, ptrdiff_t rowStep, int bw, int bh, int w, int h, bool compress,
                       int threshold, COPOSData& target)
{
    if (!top || bw <= 0 || bh <= 0)
        return kIllegal;
    bool blackIsDark = IsDark(0, threshold);
    auto fill = [=](int y, BYTE* row) {
        int inside = y < bh ? (w < bw ? w : bw) : 0;
        const uint32_t* src = inside ? top + ptrdiff_t(y) * rowStep : top;
        for (int x = 0; x < inside; ++x)
            if (IsDark(src[x], threshold))
                row[x >> 3] |= BYTE(0x80 >> (x & 7));
        // Beyond the pixels: black.
        if (blackIsDark)
            for (int x = inside; x < w; ++x)
                row[x >> 3] |= BYTE(0x80 >> (x & 7));
    };
    return MakeRasterOf(fill, w, h, compress, target);
}

void GreyPixels(uint32_t* px, int w, int h, int brightness, bool dither)
{
    if (!px || w <= 0 || h <= 0)
        return;
    int add = brightness * 255 / 100;
    auto clamp = [](int v) { return v > 255 ? 255 : (v < 0 ? 0 : v); };
    // The mean of the channels, rounded to the nearest, looked up by their sum: cheaper than a
    // division per pixel over a whole label's pixels.
    BYTE mean[3 * 255 + 1];
    for (int sum = 0; sum <= 3 * 255; ++sum)
        mean[sum] = BYTE((sum + 1) / 3);
    auto toGrey = [&](uint32_t c) {
        int r = int(c & 0xFF), g = int((c >> 8) & 0xFF), b = int((c >> 16) & 0xFF);
        if (brightness != 0) {
            r = clamp(r + add);
            g = clamp(g + add);
            b = clamp(b + add);
        }
        return mean[r + g + b];
    };
    size_t count = size_t(w) * size_t(h);
    if (!dither) {
        // Each pixel depends on itself only: done in place.
        for (size_t i = 0; i < count; ++i) {
            uint32_t c = px[i];
            px[i] = (c & 0xFF000000u) | uint32_t(toGrey(c)) * 0x010101u;
        }
        return;
    }
    std::vector<int> grey(count);
    for (size_t i = 0; i < count; ++i)
        grey[i] = toGrey(px[i]);
    auto spread = [&](int x, int y, int err, int part) {
        if (x < 0 || x >= w || y >= h)
            return;
        int& v = grey[size_t(y) * size_t(w) + size_t(x)];
        int num = err * part;
        int q = num >= 0 ? (num + 8) / 16 : -((-num + 8) / 16);
        v += q;
        v = v > 255 ? 255 : (v < 0 ? 0 : v);
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int& v = grey[size_t(y) * size_t(w) + size_t(x)];
            int out = v >= 128 ? 255 : 0;
            int err = v - out;
            v = out;
            spread(x + 1, y, err, 7);
            spread(x - 1, y + 1, err, 3);
            spread(x, y + 1, err, 5);
            spread(x + 1, y + 1, err, 1);
        }
    }
    for (size_t i = 0; i < count; ++i) {
        uint32_t g = uint32_t(grey[i]);
        px[i] = (px[i] & 0xFF000000u) | (g << 16) | (g << 8) | g;
    }
}
