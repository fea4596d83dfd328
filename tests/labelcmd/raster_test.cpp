// The printer raster: header, bit order, thresholds, grey steps and run-length compression.
#include "ImageRaster.h"
#include "LabelTestKit.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<BYTE> Bytes(const COPOSData& d) { return std::vector<BYTE>(d.GetData(), d.GetData() + d.GetLength()); }

uint32_t Rgb(int r, int g, int b) { return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16; }

TEST(ImageRaster, RowsBitsAndThreshold)
{
    // 10 x 2: row 0 dark at x 0 and 9, row 1 dark at x 8 only.
    auto pixel = [](int x, int y) -> uint32_t {
        bool dark = (y == 0 && (x == 0 || x == 9)) || (y == 1 && x == 8);
        return dark ? Rgb(0, 0, 0) : Rgb(255, 255, 255);
    };
    COPOSData out;
    ASSERT_EQ(0, MakeRasterFromPixels(pixel, 10, 2, false, 127, out));
    EXPECT_EQ(std::vector<BYTE>({2, 0, 2, 0, 0x80, 0x40, 0x00, 0x80}), Bytes(out));

    struct Row { uint32_t colour; BYTE bit; } rows[] = {
        {Rgb(128, 128, 128), 0x00},  // half grey is light at 127
        {Rgb(126, 255, 255), 0x80},  // any channel below the threshold is dark
        {Rgb(255, 255, 100), 0x80},
    };
    for (const Row& r : rows) {
        COPOSData one;
        MakeRasterFromPixels([&r](int, int) { return r.colour; }, 1, 1, false, 127, one);
        EXPECT_EQ(5u, one.GetLength()) << std::hex << r.colour;
        if (one.GetLength() != 5u)
            continue;
        EXPECT_EQ(r.bit, one.GetData()[4]) << std::hex << r.colour;
    }

    COPOSData refused;
    EXPECT_EQ(106, MakeRasterFromPixels(pixel, 0, 2, false, 127, refused));
    EXPECT_EQ(106, MakeRasterFromPixels(pixel, 8 * 0x10000, 1, false, 127, refused));  // row bytes overflow 16 bits
    EXPECT_EQ(106, MakeRasterFromPixels(pixel, 8, 0x10000, false, 127, refused));
}

TEST(ImageRaster, PixelRowsInMemoryGiveTheSameRaster)
{
    // 11 x 3 pixels, a different pattern on each row, in 0x00RRGGBB as a DIB holds them.
    const int bw = 11, bh = 3;
    std::vector<uint32_t> topDown(size_t(bw * bh));
    for (int y = 0; y < bh; ++y)
        for (int x = 0; x < bw; ++x)
            topDown[size_t(y * bw + x)] = (x * (y + 1)) % 3 == 0 ? 0x00000000u : 0x00FFFFFFu;
    std::vector<uint32_t> bottomUp;
    for (int y = bh - 1; y >= 0; --y)
        bottomUp.insert(bottomUp.end(), topDown.begin() + y * bw, topDown.begin() + (y + 1) * bw);
    // Pixels outside the rows read as black.
    auto pixel = [&](int x, int y) -> uint32_t { return x < bw && y < bh ? topDown[size_t(y * bw + x)] : 0; };
    struct Case { int w, h, threshold; bool compress; } cases[] = {
        {11, 3, 127, false}, {11, 3, 127, true}, {8, 2, 127, false}, {20, 5, 127, false}, {20, 5, 0, false},
    };
    for (const Case& c : cases) {
        COPOSData want, fromTop, fromBottom;
        EXPECT_EQ(0, MakeRasterFromPixels(pixel, c.w, c.h, c.compress, c.threshold, want)) << c.w << "x" << c.h;
        EXPECT_EQ(0, MakeRasterFromRows(topDown.data(), bw, bw, bh, c.w, c.h, c.compress, c.threshold, fromTop));
        EXPECT_EQ(0, MakeRasterFromRows(bottomUp.data() + (bh - 1) * bw, -bw, bw, bh, c.w, c.h, c.compress,
                                        c.threshold, fromBottom));
        EXPECT_EQ(Bytes(want), Bytes(fromTop)) << c.w << "x" << c.h;
        EXPECT_EQ(Bytes(want), Bytes(fromBottom)) << c.w << "x" << c.h;
    }
    COPOSData refused;
    EXPECT_EQ(106, MakeRasterFromRows(nullptr, bw, bw, bh, 8, 1, false, 127, refused));
    EXPECT_EQ(106, MakeRasterFromRows(topDown.data(), bw, bw, bh, 8, 0x10000, false, 127, refused));
}

TEST(ImageRaster, GreyIsTheRoundedMeanAndDitherGivesBlackAndWhite)
{
    std::vector<uint32_t> px = {Rgb(255, 255, 100), Rgb(1, 1, 2), Rgb(10, 20, 30)};
    GreyPixels(px.data(), 3, 1, 0, false);
    EXPECT_EQ(Rgb(203, 203, 203), px[0]);  // 610 / 3 = 203.3
    EXPECT_EQ(Rgb(1, 1, 1), px[1]);        // 4 / 3 = 1.3
    EXPECT_EQ(Rgb(20, 20, 20), px[2]);

    std::vector<uint32_t> bright = {Rgb(200, 200, 200)};
    GreyPixels(bright.data(), 1, 1, 50, false);  // + 127, clamped
    EXPECT_EQ(Rgb(255, 255, 255), bright[0]);

    std::vector<uint32_t> field(16 * 16, Rgb(128, 128, 128));
    GreyPixels(field.data(), 16, 16, 0, true);
    int dark = 0;
    for (uint32_t c : field) {
        ASSERT_TRUE(c == Rgb(0, 0, 0) || c == Rgb(255, 255, 255));
        dark += c == 0;
    }
    EXPECT_GT(dark, 64);   // half grey diffuses to about half dark
    EXPECT_LT(dark, 192);
}

TEST(ImageRaster, RunLengthCompression)
{
    struct Row { std::vector<BYTE> in, out; } rows[] = {
        {std::vector<BYTE>(300, 0x00), {0x00, 255, 0x00, 45}},
        {{0x12, 0xFF, 0xFF, 0x34, 0x00}, {0x12, 0xFF, 2, 0x34, 0x00, 1}},
        {{}, {}},
    };
    for (const Row& r : rows) {
        COPOSData out(1);
        CompressRunLength(r.in.data(), r.in.size(), out);
        EXPECT_EQ(r.out, Bytes(out));
    }

    // A compressed raster label decodes at the printer to the rows it was made from.
    auto pixel = [](int x, int y) { return (x + y) % 3 == 0 ? Rgb(0, 0, 0) : Rgb(255, 255, 255); };
    COPOSData plain, packed;
    MakeRasterFromPixels(pixel, 300, 40, false, 127, plain);
    MakeRasterFromPixels(pixel, 300, 40, true, 127, packed);
    CLabelCommand b;
    Configure(b);
    ASSERT_EQ(0, b.AddImage(packed, true, true, 300, 40, -1));
    COPOSData label;
    b.BuildLabel(label);
    qlks::Label parsed = Parse(label);
    EXPECT_EQ(0u, parsed.flags) << qlks::describe(parsed);
    const qlks::Command* c = parsed.find(qlks::Op::RasterRle);
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(std::vector<BYTE>(plain.GetData() + 4, plain.GetData() + plain.GetLength()), c->pixels);
}

}  // namespace
