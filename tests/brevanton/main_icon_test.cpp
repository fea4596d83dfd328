// The main dialog's icon, drawn in the middle of the client area of the minimised window.
#include "BrevantonDlg.h"
#include "resource.h"

#include <gtest/gtest.h>

namespace {
// The box of the pixels that are not white after painting into a white w x h bitmap.
RECT PaintedBox(int w, int h, HICON icon)
{
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    RECT all = {0, 0, w, h};
    FillRect(mem, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    CDC dc;
    dc.Attach(mem);
    PaintMinimisedIcon(dc, all, icon);
    dc.Detach();
    RECT box = {w, h, -1, -1};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if ((GetPixel(mem, x, y) & 0xFFFFFF) != 0xFFFFFF) {
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x + 1);
                box.bottom = std::max<LONG>(box.bottom, y + 1);
            }
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return box;
}
}

TEST(MainIcon, TheMinimisedWindowShowsItsIconCentred)
{
    HICON icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                               0, 0, LR_DEFAULTSIZE | LR_SHARED));
    ASSERT_NE(icon, nullptr);
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    struct
    {
        int w, h;
    } sizes[] = {{cx, cy}, {160, 36}, {37, 200}, {cx + 1, cy + 1}};
    for (auto s : sizes) {
        SCOPED_TRACE(std::to_string(s.w) + " x " + std::to_string(s.h));
        RECT box = PaintedBox(s.w, s.h, icon);
        ASSERT_LT(box.left, box.right) << "something was drawn";
        const int x0 = (s.w - cx + 1) / 2, y0 = (s.h - cy + 1) / 2;
        // Inside the icon's cell at the centre, and reaching into both halves of it.
        EXPECT_GE(box.left, x0);
        EXPECT_GE(box.top, y0);
        EXPECT_LE(box.right, x0 + cx);
        EXPECT_LE(box.bottom, y0 + cy);
        EXPECT_LT(box.left, x0 + cx / 2);
        EXPECT_GT(box.right, x0 + cx / 2);
        EXPECT_LT(box.top, y0 + cy / 2);
        EXPECT_GT(box.bottom, y0 + cy / 2);
    }
}
