// The shared look of the setup utility: the window region cut from a bitmap, the image buttons
// drawn into a memory DC and read back, and the skin bitmap of the resources.
#include "ImageTextButton.h"
#include "Skin.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {
// A 32-bit top-down DIB section whose pixels the test reads and writes directly.
struct Canvas
{
    int w, h;
    HDC dc = nullptr;
    HBITMAP bmp = nullptr;
    HGDIOBJ old = nullptr;
    DWORD* px = nullptr;

    Canvas(int aw, int ah) : w(aw), h(ah)
    {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        dc = CreateCompatibleDC(nullptr);
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        px = static_cast<DWORD*>(bits);
        old = SelectObject(dc, bmp);
    }
    ~Canvas()
    {
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
    }
    // Detaches the bitmap from the DC so it can be handed to code that selects it itself.
    HBITMAP Release()
    {
        GdiFlush();
        SelectObject(dc, old);
        old = nullptr;
        return bmp;
    }
    void Set(int x, int y, COLORREF c) { px[y * w + x] = RGB(GetBValue(c), GetGValue(c), GetRValue(c)); }
    COLORREF At(int x, int y) const
    {
        DWORD v = px[y * w + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    void Fill(COLORREF c)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                Set(x, y, c);
    }
};

// Which pixels a region covers, from its rectangles.
std::vector<bool> RegionMask(HRGN rgn, int w, int h)
{
    std::vector<bool> mask(size_t(w * h), false);
    DWORD size = GetRegionData(rgn, 0, nullptr);
    std::vector<BYTE> buf(size);
    RGNDATA* data = reinterpret_cast<RGNDATA*>(buf.data());
    if (!size || !GetRegionData(rgn, size, data))
        return mask;
    const RECT* r = reinterpret_cast<const RECT*>(data->Buffer);
    for (DWORD i = 0; i < data->rdh.nCount; ++i)
        for (int y = std::max(0, int(r[i].top)); y < std::min(h, int(r[i].bottom)); ++y)
            for (int x = std::max(0, int(r[i].left)); x < std::min(w, int(r[i].right)); ++x)
                mask[size_t(y * w + x)] = true;
    return mask;
}

// The tolerance of one channel of the key, as the window shape is to treat it.
bool ChannelNear(int pixel, int key, COLORREF whole)
{
    if (whole == 0)
        return pixel <= 16;
    if (whole == 0xFFFFFF)
        return pixel >= 239;
    int lo = key <= 16 ? 0 : key - 17, hi = key >= 239 ? 255 : key + 17;
    return pixel >= lo && pixel <= hi;
}

bool NearKey(COLORREF p, COLORREF key)
{
    return ChannelNear(GetRValue(p), GetRValue(key), key) && ChannelNear(GetGValue(p), GetGValue(key), key) &&
           ChannelNear(GetBValue(p), GetBValue(key), key);
}

// Compares the region with the per-pixel rule: a pixel is in the region when it is not near the key.
void ExpectRegionMatches(HRGN rgn, const Canvas& c, COLORREF key)
{
    ASSERT_NE(rgn, nullptr);
    std::vector<bool> mask = RegionMask(rgn, c.w, c.h);
    int wrong = 0;
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            bool want = !NearKey(c.At(x, y), key);
            if (mask[size_t(y * c.w + x)] != want && ++wrong <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " colour 0x" << std::hex << c.At(x, y) << std::dec
                              << (want ? " missing from" : " wrongly in") << " the region";
        }
    EXPECT_EQ(wrong, 0);
    RECT box;
    GetRgnBox(rgn, &box);
    EXPECT_GE(box.left, 0);
    EXPECT_LE(box.right, c.w);
    EXPECT_LE(box.bottom, c.h);
}

struct RegionCase
{
    const char* name;
    int w, h;
    COLORREF key;
    std::function<void(Canvas&)> paint;
};
}

TEST(WindowRegion, MatchesThePerPixelRuleOverGeneratedBitmaps)
{
    const COLORREF green = RGB(0, 255, 0), grey = RGB(120, 130, 140);
    RegionCase cases[] = {
        {"left column pure green, tolerance pixels", 40, 20, green,
         [&](Canvas& c) {
             c.Fill(grey);
             for (int y = 0; y < c.h; ++y)
                 c.Set(0, y, green);
             c.Set(5, 3, RGB(0, 255, 16));   // within the tolerance: cut
             c.Set(6, 3, RGB(0, 237, 0));    // just outside: kept
             c.Set(7, 3, RGB(0, 238, 0));    // just inside: cut
             c.Set(8, 3, RGB(17, 255, 17));  // the edge of both outer channels: cut
             c.Set(9, 3, RGB(0, 255, 18));   // kept
             c.Set(10, 3, RGB(18, 250, 0));  // kept
         }},
        {"a dithered key area of more than 3000 runs", 300, 90, green,
         [&](Canvas& c) {
             c.Fill(grey);
             for (int y = 0; y < c.h; ++y)
                 for (int x = 0; x < c.w; ++x)
                     if ((x + y) % 2 == 0)
                         c.Set(x, y, green);
         }},
        {"no key pixels at all", 33, 17, green, [&](Canvas& c) { c.Fill(grey); }},
        {"everything key", 16, 9, green, [&](Canvas& c) { c.Fill(green); }},
        {"a red key compares red with red", 30, 10, RGB(255, 0, 0),
         [&](Canvas& c) {
             c.Fill(grey);
             for (int x = 0; x < 10; ++x)
                 c.Set(x, 2, RGB(255, 0, 0));
             for (int x = 10; x < 20; ++x)
                 c.Set(x, 2, RGB(0, 0, 255));
         }},
        {"a black key", 20, 10, RGB(0, 0, 0),
         [&](Canvas& c) {
             c.Fill(grey);
             c.Set(3, 3, RGB(16, 16, 16));
             c.Set(4, 3, RGB(17, 0, 0));
         }},
    };
    for (const RegionCase& rc : cases) {
        SCOPED_TRACE(rc.name);
        Canvas c(rc.w, rc.h);
        rc.paint(c);
        HBITMAP bmp = c.Release();
        HRGN rgn = CreateRegionFromBitmap(bmp, rc.key, FALSE);
        ExpectRegionMatches(rgn, c, rc.key);
        if (rgn)
            DeleteObject(rgn);
    }
}

TEST(WindowRegion, TheTolerancePixelsOfTheGreenKey)
{
    // Read back by point, independent of the rule the comparison above uses.
    Canvas c(8, 1);
    COLORREF row[8] = {RGB(0, 255, 0),  RGB(0, 255, 16), RGB(0, 237, 0),  RGB(0, 238, 0),
                       RGB(0, 255, 18), RGB(200, 0, 0),  RGB(17, 240, 17), RGB(0, 0, 0)};
    bool cut[8] = {true, true, false, true, false, false, true, false};
    for (int x = 0; x < 8; ++x)
        c.Set(x, 0, row[x]);
    HRGN rgn = CreateRegionFromBitmap(c.Release(), RGB(0, 255, 0), FALSE);
    ASSERT_NE(rgn, nullptr);
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(PtInRegion(rgn, x, 0) == FALSE, cut[x]) << "pixel " << x;
    DeleteObject(rgn);
}

TEST(WindowRegion, InverseFlagGivesTheAreaOutsideTheTolerance)
{
    Canvas c(20, 4);
    c.Fill(RGB(0, 255, 0));
    for (int x = 5; x < 9; ++x)
        c.Set(x, 1, RGB(90, 90, 90));
    HRGN rgn = CreateRegionFromBitmap(c.Release(), RGB(0, 255, 0), TRUE);
    ASSERT_NE(rgn, nullptr);
    ExpectRegionMatches(rgn, c, RGB(0, 255, 0));
    DeleteObject(rgn);
}

TEST(WindowRegion, ANullBitmapGivesNoRegion)
{
    EXPECT_EQ(CreateRegionFromBitmap(nullptr, RGB(0, 255, 0), FALSE), nullptr);
}

TEST(WindowRegion, TheSkinIsCutExactlyWhereItIsPureGreen)
{
    HBITMAP skin = static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_SKIN), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(skin, nullptr);
    BITMAP bm = {};
    GetObjectA(skin, sizeof bm, &bm);
    ASSERT_EQ(bm.bmWidth, 600);
    ASSERT_EQ(bm.bmHeight, 344);
    Canvas c(600, 344);
    HDC src = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(src, skin);
    BitBlt(c.dc, 0, 0, 600, 344, src, 0, 0, SRCCOPY);
    SelectObject(src, old);
    DeleteDC(src);
    GdiFlush();

    HRGN rgn = CreateRegionFromBitmap(skin, kSkinKeyColour, FALSE);
    ASSERT_NE(rgn, nullptr);
    std::vector<bool> mask = RegionMask(rgn, 600, 344);
    int green = 0, nearButNotKey = 0, wrong = 0;
    for (int y = 0; y < 344; ++y)
        for (int x = 0; x < 600; ++x) {
            COLORREF p = c.At(x, y);
            bool isKey = p == RGB(0, 255, 0);
            green += isKey;
            nearButNotKey += !isKey && NearKey(p, kSkinKeyColour);
            wrong += mask[size_t(y * 600 + x)] == isKey;
        }
    EXPECT_GT(green, 0);
    EXPECT_EQ(nearButNotKey, 0) << "colours near the key appear outside the cut areas";
    EXPECT_EQ(wrong, 0);
    // The window is cut to 595 x 341 with rounded corners.
    EXPECT_FALSE(PtInRegion(rgn, 0, 0));
    EXPECT_FALSE(PtInRegion(rgn, 597, 100));
    EXPECT_FALSE(PtInRegion(rgn, 100, 342));
    EXPECT_TRUE(PtInRegion(rgn, 594, 170));
    EXPECT_TRUE(PtInRegion(rgn, 14, 0));
    DeleteObject(rgn);
    DeleteObject(skin);
}

namespace {
const COLORREF kFirst = RGB(255, 0, 0), kSecond = RGB(0, 0, 255);

// An owner-drawn button in a hidden window, so that DrawItem can resize it.
struct ButtonHost
{
    HWND parent = nullptr, button = nullptr;
    CImageTextButton b;
    ButtonHost()
    {
        parent = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 300, 100, nullptr, nullptr, nullptr, nullptr);
        button = CreateWindowExA(0, "Button", "", WS_CHILD | BS_OWNERDRAW, 0, 0, 10, 10, parent,
                                 reinterpret_cast<HMENU>(1), nullptr, nullptr);
        b.SubclassWindow(button);
    }
    ~ButtonHost()
    {
        b.UnsubclassWindow();
        DestroyWindow(parent);
    }
    // Draws the button in state into a fresh canvas of the bitmap's size plus a margin.
    void Draw(Canvas& c, UINT state)
    {
        c.Fill(RGB(255, 255, 255));
        DRAWITEMSTRUCT dis = {};
        dis.CtlType = ODT_BUTTON;
        dis.CtlID = 1;
        dis.itemState = state;
        dis.hwndItem = button;
        dis.hDC = c.dc;
        SetRect(&dis.rcItem, 0, 0, c.w, c.h);
        b.DrawItem(&dis);
        GdiFlush();
    }
};

COLORREF BitmapPixel(UINT id, int x, int y)
{
    HBITMAP bmp = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    COLORREF c = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bmp);
    return c;
}

int CountColour(const Canvas& c, COLORREF colour)
{
    int n = 0;
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x)
            n += c.At(x, y) == colour;
    return n;
}
}

TEST(ImageTextButton, ImageAndTextColourFollowImageCountAndState)
{
    const UINT normal = IDB_SAVE_BUTTON, pressed = IDB_SAVE_BUTTON_PRESSED, disabled = IDB_SAVE_BUTTON_DISABLED;
    struct Row
    {
        int images;
        UINT state;
        UINT wantBitmap;
        COLORREF wantText;
    } rows[] = {
        {1, 0, normal, kFirst},           {1, ODS_SELECTED, normal, kFirst},   {1, ODS_DISABLED, normal, kSecond},
        {2, 0, normal, kFirst},           {2, ODS_SELECTED, pressed, kFirst},  {2, ODS_DISABLED, normal, kSecond},
        {3, 0, normal, kFirst},           {3, ODS_SELECTED, pressed, kFirst},  {3, ODS_DISABLED, disabled, kSecond},
        {3, ODS_SELECTED | ODS_DISABLED, disabled, kSecond},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.images << " images, state " << r.state);
        ButtonHost host;
        host.b.SetBitmaps(normal, r.images >= 2 ? pressed : 0, r.images >= 3 ? disabled : 0);
        host.b.SetTextColors(kFirst, kSecond);
        host.b.SetTextPosition(20, 6);
        host.b.SetText("Save");
        ASSERT_EQ(host.b.m_images.GetImageCount(), r.images);
        const int bw = host.b.m_bitmapSize.cx, bh = host.b.m_bitmapSize.cy;
        Canvas c(bw + 4, bh + 4);
        host.Draw(c, r.state);
        // The image is drawn at (1, 1): a point of its lower half, away from the text.
        EXPECT_EQ(c.At(1 + 4, 1 + bh - 5), BitmapPixel(r.wantBitmap, 4, bh - 5));
        COLORREF other = r.wantText == kFirst ? kSecond : kFirst;
        EXPECT_GT(CountColour(c, r.wantText), 10);
        EXPECT_EQ(CountColour(c, other), 0);
        RECT wr;
        GetWindowRect(host.button, &wr);
        EXPECT_EQ(wr.right - wr.left, bw);
        EXPECT_EQ(wr.bottom - wr.top, bh);
    }
}

TEST(ImageTextButton, TextIsPlacedByFormatLinesOrTheFixedLine)
{
    struct Row
    {
        const char* name;
        const char* caption;
        int x, y;
        // Draws the expected text onto the button without text; h is the drawing rectangle's height.
        std::function<void(HDC, const RECT&, int)> expected;
    } rows[] = {
        {"both -1: centred", "Save", -1, -1,
         [](HDC dc, const RECT& r, int) {
             RECT rr = r;
             DrawTextA(dc, "Save", -1, &rr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
         }},
        {"x -1: centred", "Cancel", -1, 10,
         [](HDC dc, const RECT& r, int) {
             RECT rr = r;
             DrawTextA(dc, "Cancel", -1, &rr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
         }},
        {"y -1: centred", "Default", 20, -1,
         [](HDC dc, const RECT& r, int) {
             RECT rr = r;
             DrawTextA(dc, "Default", -1, &rr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
         }},
        {"one line at h/2 - 5, the stored y unused", "Save", 57, 6,
         [](HDC dc, const RECT&, int h) { TextOutA(dc, 57, h / 2 - 5, "Save", 4); }},
        {"three lines at i * h/3", "A\nB\nC", 5, 0,
         [](HDC dc, const RECT&, int h) {
             TextOutA(dc, 5, 0, "A", 1);
             TextOutA(dc, 5, h / 3, "B", 1);
             TextOutA(dc, 5, 2 * (h / 3), "C", 1);
         }},
        {"two lines at i * h/2", "Top\nBottom", 9, 3,
         [](HDC dc, const RECT&, int h) {
             TextOutA(dc, 9, 0, "Top", 3);
             TextOutA(dc, 9, h / 2, "Bottom", 6);
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ButtonHost host;
        host.b.SetBitmaps(IDB_MAIN_BUTTON, IDB_MAIN_BUTTON_PRESSED, IDB_MAIN_BUTTON_DISABLED);
        host.b.SetTextColors(kFirst, kSecond);
        host.b.SetTextPosition(r.x, r.y);
        const int bw = host.b.m_bitmapSize.cx, bh = host.b.m_bitmapSize.cy;
        Canvas plain(bw + 2, bh + 2), drawn(bw + 2, bh + 2);
        host.Draw(plain, 0);
        host.b.SetText(r.caption);
        host.Draw(drawn, 0);

        const RECT rect = {1, 1, bw, bh};
        SetBkMode(plain.dc, TRANSPARENT);
        SetTextColor(plain.dc, kFirst);
        r.expected(plain.dc, rect, rect.bottom - rect.top);
        GdiFlush();
        int differ = 0, text = 0;
        for (int y = 0; y < plain.h; ++y)
            for (int x = 0; x < plain.w; ++x) {
                differ += plain.At(x, y) != drawn.At(x, y);
                text += drawn.At(x, y) == kFirst;
            }
        EXPECT_GT(text, 5);
        EXPECT_EQ(differ, 0);
    }
}

TEST(ImageTextButton, SplitTextLinesCountsAndKeepsEachLine)
{
    struct Row
    {
        const char* caption;
        int count;
        std::vector<const char*> lines;
    } rows[] = {
        {"One", 1, {}},
        {"A\nB\nC", 3, {"A", "B", "C"}},
        {"\nlead", 2, {"", "lead"}},
        {"trail\n", 2, {"trail", ""}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.caption);
        CImageTextButton b;
        EXPECT_EQ(b.SplitTextLines(r.caption), r.count);
        ASSERT_EQ(b.m_lines.size(), r.lines.size());
        for (size_t i = 0; i < r.lines.size(); ++i)
            EXPECT_STREQ(b.m_lines[i], r.lines[i]);
    }
}

TEST(Resources, TheBitmapsHaveTheirButtonAndStripSizes)
{
    struct Row
    {
        UINT id;
        int w, h;
    } rows[] = {
        {IDB_MAIN_SKIN, 600, 344},  {IDB_SKIN, 600, 344},         {IDB_TREE, 112, 16},
        {IDB_MAIN_BUTTON, 170, 36}, {IDB_SAVE_BUTTON, 150, 28},   {IDB_OK_BUTTON, 130, 28},
        {IDB_ADVANCED_BUTTON, 110, 28}, {IDB_HEALTH_BUTTON, 150, 28},
    };
    for (const Row& r : rows) {
        HBITMAP b = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(r.id));
        ASSERT_NE(b, nullptr) << r.id;
        BITMAP bm = {};
        GetObjectA(b, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, r.w) << r.id;
        EXPECT_EQ(bm.bmHeight, r.h) << r.id;
        DeleteObject(b);
    }
    EXPECT_NE(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME)), nullptr);
}

TEST(Resources, TheTreeStripCutsIntoSixteenPixelImagesOnItsMaskColour)
{
    CImageList list;
    ASSERT_TRUE(list.Create(IDB_TREE, 16, 6, RGB(0, 128, 128)));  // COLORREF 0x808000
    EXPECT_EQ(list.GetImageCount(), 7);
    // The mask colour is transparent: drawn over white, the corner of image 0 stays white.
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP b = CreateBitmap(16, 16, 1, 32, nullptr);
    HGDIOBJ old = SelectObject(dc, b);
    RECT r = {0, 0, 16, 16};
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ImageList_Draw(list, 0, dc, 0, 0, ILD_TRANSPARENT);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 255, 255));
    EXPECT_NE(GetPixel(dc, 7, 6), RGB(255, 255, 255));
    SelectObject(dc, old);
    DeleteObject(b);
    DeleteDC(dc);
}

TEST(Resources, TheManifestAsksForAdministratorRights)
{
    HRSRC r = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(r, nullptr);
    const char* p = static_cast<const char*>(LockResource(LoadResource(nullptr, r)));
    std::string text(p, SizeofResource(nullptr, r));
    EXPECT_NE(text.find("level=\"requireAdministrator\""), std::string::npos);
}
