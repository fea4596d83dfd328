// Picture files and memory bitmaps to the printer raster.
#include "LabelCommand.h"
#include "LabelImage.h"
#include "qlks.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <cstring>
#include <vector>

namespace {

std::vector<BYTE> Bytes(const COPOSData& d) { return std::vector<BYTE>(d.GetData(), d.GetData() + d.GetLength()); }

// A BMP file of w x h (w a multiple of 8) whose left half is black and right half white, at the
// given depth; palettes hold black and white (and a grey that is never used).
std::string HalfBlackBmp(int bits, int w, int h)
{
    int stride = ((w * bits + 31) / 32) * 4;
    int colours = bits <= 8 ? (1 << bits) : 0;
    std::string pal;
    for (int i = 0; i < colours; ++i) {
        BYTE v = i == 0 ? 0 : (i == 1 ? 255 : 128);
        pal += std::string{char(v), char(v), char(v), 0};
    }
    std::string px;
    for (int y = 0; y < h; ++y) {
        std::string row(size_t(stride), '\0');
        for (int x = 0; x < w; ++x) {
            bool white = x >= w / 2;
            if (bits == 1)
                row[size_t(x / 8)] = char(BYTE(row[size_t(x / 8)]) | (white ? 0x80 >> (x % 8) : 0));
            else if (bits == 4)
                row[size_t(x / 2)] = char(BYTE(row[size_t(x / 2)]) | (white ? (x % 2 ? 0x01 : 0x10) : 0));
            else if (bits == 8)
                row[size_t(x)] = white ? 1 : 0;
            else
                for (int c = 0; c < bits / 8; ++c)
                    row[size_t(x * (bits / 8) + c)] = char(white ? 0xFF : 0x00);
        }
        px += row;
    }
    DWORD offset = 14 + 40 + DWORD(pal.size());
    DWORD size = offset + DWORD(px.size());
    std::string f(14 + 40, '\0');
    f[0] = 'B';
    f[1] = 'M';
    std::memcpy(&f[2], &size, 4);
    std::memcpy(&f[10], &offset, 4);
    BITMAPINFOHEADER bi = {};
    bi.biSize = 40;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = WORD(bits);
    bi.biCompression = BI_RGB;
    bi.biClrUsed = DWORD(colours);
    std::memcpy(&f[14], &bi, 40);
    return f + pal + px;
}

// The raster of a picture printed as it is: header, then per row the row bytes.
std::vector<BYTE> Raster(const CString& file, int requested = -11, int type = 0, int* width = nullptr,
                         bool compress = false)
{
    CLabelImage img;
    int isPicture = -1;
    EXPECT_EQ(0, img.LoadImage(file, isPicture)) << file.GetString();
    EXPECT_EQ(1, isPicture);
    int w = img.CalcWidth(requested, false, type, 100), ow = 0, oh = 0;
    HDC dc = img.ConvertImage(w, 0, false, ow, oh);
    EXPECT_NE(nullptr, dc);
    COPOSData out;
    if (dc) {
        EXPECT_EQ(0, img.MakeRaster(dc, ow, oh, compress, 127, out));
    }
    if (width)
        *width = ow;
    return Bytes(out);
}

std::vector<BYTE> HalfBlackRaster(int rowBytes, int rows)
{
    std::vector<BYTE> r = {BYTE(rowBytes), 0, BYTE(rows), 0};
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < rowBytes; ++x)
            r.push_back(x < rowBytes / 2 ? 0xFF : 0x00);
    return r;
}

class LabelImageTest : public ::testing::Test
{
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    CTempFolder folder;
};

// The dots the printer decodes from a raster sent as a label's image.
std::vector<BYTE> PrinterDots(const std::vector<BYTE>& raster, bool compressed)
{
    COPOSData data;
    data.Append(raster.data(), DWORD(raster.size()));
    CLabelCommand b;
    b.SetPrintType("D");
    b.SetPaper(832, 1200, 24, "G", 0);
    b.SetOrientation("T");
    EXPECT_EQ(0, b.AddImage(data, compressed, true, 32, 4, -1));
    COPOSData label;
    b.BuildLabel(label);
    qlks::Label parsed = qlks::parseLabel(qlks::Bytes(label.GetData(), label.GetData() + label.GetLength()));
    EXPECT_TRUE(parsed.complete);
    EXPECT_EQ(0u, parsed.flags) << qlks::describe(parsed);
    const qlks::Command* c = parsed.find(compressed ? qlks::Op::RasterRle : qlks::Op::Raster);
    return c ? c->pixels : std::vector<BYTE>();
}

TEST_F(LabelImageTest, BmpFilesOfEveryDepth)
{
    const std::vector<BYTE> plain = HalfBlackRaster(4, 4);
    const std::vector<BYTE> dots(plain.begin() + 4, plain.end());
    COPOSData packed;
    packed.Append(plain.data(), 4);
    CompressRunLength(dots.data(), dots.size(), packed);
    for (int bits : {1, 4, 8, 24, 32}) {
        std::string name = "half" + std::to_string(bits) + ".bmp";
        ASSERT_TRUE(folder.Write(name, HalfBlackBmp(bits, 32, 4)));
        for (bool compress : {false, true}) {
            std::vector<BYTE> r = Raster(folder.File(name).c_str(), -11, 0, nullptr, compress);
            EXPECT_EQ(compress ? Bytes(packed) : plain, r) << bits << " bits, compressed " << compress;
            EXPECT_EQ(dots, PrinterDots(r, compress)) << bits << " bits, compressed " << compress;
        }
    }
}

TEST_F(LabelImageTest, JpegGifAndTransparency)
{
    CString dir(WinPath(IMAGE_DIR).c_str());
    EXPECT_EQ(HalfBlackRaster(4, 16), Raster(dir + "\\blocks.jpg"));
    // The transparent half is paper.
    EXPECT_EQ(HalfBlackRaster(2, 8), Raster(dir + "\\clear.gif"));
}

TEST_F(LabelImageTest, WidthsDeviceLimitsAndScaling)
{
    ASSERT_TRUE(folder.Write("wide.bmp", HalfBlackBmp(24, 400, 40)));
    int w = 0;
    std::vector<BYTE> r = Raster(folder.File("wide.bmp").c_str(), -11, 1, &w);
    EXPECT_EQ(200, w);  // a type 1 device prints at most 200 dots
    ASSERT_GE(r.size(), 4u);
    EXPECT_EQ(25, r[0]);
    EXPECT_EQ(20, r[2]);  // half the height

    CLabelImage img;
    int pic = 0;
    ASSERT_EQ(0, img.LoadImage(folder.File("wide.bmp").c_str(), pic));
    struct Row { int requested; bool quarter; int type; int magnification; int width; } rows[] = {
        {-11, false, 0, 100, 400}, {-11, false, 3, 100, 248}, {-11, false, 0, 50, 200},
        {-11, false, 0, 0, 400},   {-11, false, 0, -5, 400},  {100, true, 0, 100, 75},
        {100, false, 0, 200, 200},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.width, img.CalcWidth(row.requested, row.quarter, row.type, row.magnification))
            << row.requested << " " << row.type << " " << row.magnification;
}

TEST_F(LabelImageTest, FilesThatAreNotPicturesToConvert)
{
    ASSERT_TRUE(folder.Write("label.PCX", "not decoded"));
    ASSERT_TRUE(folder.Write("label.Pcx", "not decoded"));
    CLabelImage img;
    int pic = -1;
    EXPECT_EQ(0, img.LoadImage(folder.File("label.PCX").c_str(), pic));
    EXPECT_EQ(0, pic);
    EXPECT_EQ(106, img.LoadImage(folder.File("missing.pcx").c_str(), pic));
    EXPECT_EQ(106, img.LoadImage(folder.File("label.Pcx").c_str(), pic));  // given to the decoder
    EXPECT_EQ(1, pic);
    EXPECT_EQ(106, img.LoadImage(folder.File("missing.bmp").c_str(), pic));
    CString dir(WinPath(IMAGE_DIR).c_str());
    EXPECT_EQ(106, img.LoadImage(dir + "\\icon.ico", pic));  // an icon has no bitmap to sample
    int ow = 0, oh = 0;
    EXPECT_EQ(nullptr, img.ConvertImage(100, 0, false, ow, oh));  // nothing loaded

    // A PCX file goes as it is, placed by the window its header gives.
    auto pcx = [](int x0, int y0, int x1, int y1, char maker, size_t length) {
        std::string h(length, '\0');
        const int v[4] = {x0, y0, x1, y1};
        if (length > 0)
            h[0] = maker;
        for (size_t i = 0; i < 4 && 4 + 2 * i + 1 < length; ++i) {
            h[4 + 2 * i] = char(v[i] & 0xFF);
            h[5 + 2 * i] = char(v[i] >> 8);
        }
        return h;
    };
    struct Pcx { const char* what; std::string file; bool ok; int w, h; } pcxRows[] = {
        {"a window from 0,0", pcx(0, 0, 15, 7, 0x0A, 140), true, 16, 8},
        {"a window from 2,3", pcx(2, 3, 401, 302, 0x0A, 128), true, 400, 300},
        {"a header cut short", pcx(0, 0, 15, 7, 0x0A, 127), false, 0, 0},
        {"no PCX maker byte", pcx(0, 0, 15, 7, 0x0B, 140), false, 0, 0},
        {"a window that ends before it starts", pcx(20, 0, 15, 7, 0x0A, 140), false, 0, 0},
    };
    for (const Pcx& r : pcxRows) {
        int w = 0, h = 0;
        COPOSData file;
        file.Append(reinterpret_cast<const BYTE*>(r.file.data()), DWORD(r.file.size()));
        EXPECT_EQ(r.ok, CKVTImage::PcxSize(file, &w, &h)) << r.what;
        EXPECT_EQ(r.w, w) << r.what;
        EXPECT_EQ(r.h, h) << r.what;
    }
}

TEST_F(LabelImageTest, MemoryBitmapAndFileData)
{
    // A 16 x 2 bitmap drawn in memory: black left half.
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 16, 2);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, bmp);
    RECT all = {0, 0, 16, 2}, left = {0, 0, 8, 2};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    FillRect(dc, &left, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    CLabelImage img;
    img.AttachBitmap(bmp);
    int ow = 0, oh = 0;
    HDC out = img.ConvertImage(img.CalcWidth(-11, false, 0, 100), 0, false, ow, oh);
    ASSERT_NE(nullptr, out);
    COPOSData r;
    ASSERT_EQ(0, img.MakeRaster(out, ow, oh, true, 127, r));
    // Compressed rows: 0xFF run of 1, 0x00 run of 1, per row.
    EXPECT_EQ(std::vector<BYTE>({2, 0, 2, 0, 0xFF, 1, 0x00, 1, 0xFF, 1, 0x00, 1}), Bytes(r));

    // A bitmap the conversion did not make is read through a copy of its pixels.
    HDC own = CreateCompatibleDC(nullptr);
    ASSERT_NE(nullptr, own);
    HGDIOBJ ownOld = SelectObject(own, img.Bitmap());
    COPOSData direct;
    EXPECT_EQ(0, img.MakeRaster(own, 16, 2, true, 127, direct));
    SelectObject(own, ownOld);
    DeleteDC(own);
    EXPECT_EQ(Bytes(r), Bytes(direct));

    // Small files and files of several read pieces, with NUL bytes in them.
    for (size_t size : {size_t(3000), size_t(200000)}) {
        std::string content(size, 'x');
        content[size / 2] = '\0';
        content[size - 1] = 'y';
        EXPECT_TRUE(folder.Write("raw.bin", content)) << size;
        COPOSData data;
        EXPECT_EQ(0, CKVTImage::ReadFileToData(folder.File("raw.bin").c_str(), data)) << size;
        EXPECT_EQ(content, std::string(reinterpret_cast<const char*>(data.GetData()), data.GetLength())) << size;
    }
    COPOSData data;
    EXPECT_EQ(106, CKVTImage::ReadFileToData(folder.File("none.bin").c_str(), data));
}

// A 24-bit BMP whose channels run through their whole range, so that grey values fall on
// both sides of the threshold and close to it.
std::string GradientBmp(int w, int h)
{
    std::string f = HalfBlackBmp(24, w, h);
    size_t offset = 14 + 40, stride = size_t((w * 3 + 3) / 4 * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            char* p = &f[offset + size_t(y) * stride + size_t(x) * 3];
            p[0] = char(BYTE(x * 7 + y));
            p[1] = char(BYTE(x * 255 / w));
            p[2] = char(BYTE(y * 255 / h));
        }
    return f;
}

TEST_F(LabelImageTest, ADecodedPictureConvertsAsItsRenderedCopy)
{
    // A picture without transparent parts is converted from the decoder's own bitmap; it must
    // give the raster of the copy rendered on white, at its own width and scaled.
    ASSERT_TRUE(folder.Write("gradient.bmp", GradientBmp(50, 30)));
    ASSERT_TRUE(folder.Write("half8.bmp", HalfBlackBmp(8, 32, 4)));
    CString dir(WinPath(IMAGE_DIR).c_str());
    const CString files[] = {folder.File("gradient.bmp").c_str(), folder.File("half8.bmp").c_str(),
                             dir + "\\blocks.jpg", dir + "\\clear.gif"};
    for (const CString& file : files) {
        for (int requested : {-11, 20, 77}) {
            std::vector<BYTE> direct = Raster(file, requested);
            CLabelImage copy;
            HBITMAP rendered = CKVTImage::LoadImageFile(file);
            if (!rendered) {
                ADD_FAILURE() << "not loaded: " << file.GetString();
                continue;
            }
            copy.AttachBitmap(rendered);
            int ow = 0, oh = 0;
            HDC dc = copy.ConvertImage(copy.CalcWidth(requested, false, 0, 100), 0, false, ow, oh);
            if (!dc) {
                ADD_FAILURE() << "not converted: " << file.GetString();
                continue;
            }
            COPOSData out;
            EXPECT_EQ(0, copy.MakeRaster(dc, ow, oh, false, 127, out)) << file.GetString();
            EXPECT_GT(direct.size(), 4u);
            EXPECT_EQ(Bytes(out), direct) << file.GetString() << " at " << requested;
        }
    }
}

TEST_F(LabelImageTest, APictureThatCannotBeDrawnIsRefused)
{
    int ow = -1, oh = -1;
    // A bitmap another device context holds cannot be selected to draw from.
    HDC screen = GetDC(nullptr);
    HBITMAP held = CreateCompatibleBitmap(screen, 16, 2);
    ReleaseDC(nullptr, screen);
    HDC holder = CreateCompatibleDC(nullptr);
    HGDIOBJ holderOld = SelectObject(holder, held);
    CLabelImage img;
    img.AttachBitmap(held);
    EXPECT_EQ(nullptr, img.ConvertImage(16, 0, false, ow, oh));
    EXPECT_EQ(0, ow);
    // Let go by the other context, the same bitmap converts.
    SelectObject(holder, holderOld);
    DeleteDC(holder);
    EXPECT_NE(nullptr, img.ConvertImage(16, 0, false, ow, oh));
    EXPECT_EQ(16, ow);

    // A handle that is no bitmap at all, though its description read as a bitmap's gives a size
    // (colour 16 as the width, the hatch style as the height).
    LOGBRUSH lb = {BS_HATCHED, RGB(16, 0, 0), HS_CROSS};
    CLabelImage brush;
    brush.AttachBitmap(reinterpret_cast<HBITMAP>(CreateBrushIndirect(&lb)));
    EXPECT_EQ(nullptr, brush.ConvertImage(16, 0, false, ow, oh));
    EXPECT_EQ(0, ow);
}

}  // namespace
