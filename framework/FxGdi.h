// Geometry and GDI wrappers of the window layer: points, rectangles, device contexts, fonts,
// bitmaps and image lists. Each owns its handle unless it was attached from elsewhere.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>

#include "FxString.h"

class CPoint : public POINT
{
public:
    CPoint() { x = y = 0; }
    CPoint(int ax, int ay) { x = ax; y = ay; }
    explicit CPoint(LPARAM lp) { x = short(LOWORD(lp)); y = short(HIWORD(lp)); }
};

class CRect : public RECT
{
public:
    CRect() { left = top = right = bottom = 0; }
    CRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
    CRect(const RECT& r) { *static_cast<RECT*>(this) = r; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool PtInRect(POINT p) const { return ::PtInRect(this, p) != FALSE; }
};

// A GDI object (font, bitmap, brush, region): deleted with the wrapper unless detached.
class CGdiObject
{
public:
    CGdiObject() {}
    virtual ~CGdiObject() { DeleteObject(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    BOOL Attach(HGDIOBJ h);
    HGDIOBJ Detach();
    BOOL DeleteObject();
    HGDIOBJ GetSafeHandle() const { return m_hObject; }

    HGDIOBJ m_hObject = nullptr;
};

class CFont : public CGdiObject
{
public:
    BOOL CreateFontIndirect(const LOGFONTA* lf);
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
};

class CBitmap : public CGdiObject
{
public:
    BOOL LoadBitmap(UINT id);
    BOOL CreateCompatibleBitmap(HDC dc, int width, int height);
    int GetBitmap(BITMAP* bm) const;
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};

class CBrush : public CGdiObject
{
public:
    BOOL CreateSolidBrush(COLORREF c);
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};

// A device context. CDC itself deletes what it created (CreateCompatibleDC); CPaintDC and
// CClientDC release theirs.
class CDC
{
public:
    CDC() {}
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    BOOL Attach(HDC dc);
    HDC Detach();
    BOOL CreateCompatibleDC(CDC* other);
    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }

    HGDIOBJ SelectObject(HGDIOBJ obj) { return ::SelectObject(m_hDC, obj); }
    HGDIOBJ SelectObject(CGdiObject* obj) { return ::SelectObject(m_hDC, obj->m_hObject); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
    COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
    int DrawText(const char* text, RECT* r, UINT format)
    {
        return ::DrawTextA(m_hDC, text, -1, r, format);
    }
    BOOL TextOut(int x, int y, const CString& text)
    {
        return ::TextOutA(m_hDC, x, y, text, text.GetLength());
    }
    BOOL BitBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, DWORD rop)
    {
        return ::BitBlt(m_hDC, x, y, w, h, src ? src->m_hDC : nullptr, sx, sy, rop);
    }
    BOOL DrawFrameControl(RECT* r, UINT type, UINT state)
    {
        return ::DrawFrameControl(m_hDC, r, type, state);
    }
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }
    void FillSolidRect(const RECT& r, COLORREF c);

    HDC m_hDC = nullptr;

protected:
    enum class Own { None, Delete, Release, Paint };
    Own m_own = Own::None;
    HWND m_hWndOwner = nullptr;
};

class CPaintDC : public CDC
{
public:
    explicit CPaintDC(HWND wnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps;
};

class CClientDC : public CDC
{
public:
    explicit CClientDC(HWND wnd);
};

// An image list of equal-sized images (common controls).
class CImageList
{
public:
    CImageList() {}
    ~CImageList() { DeleteImageList(); }
    CImageList(const CImageList&) = delete;
    CImageList& operator=(const CImageList&) = delete;

    BOOL Create(int cx, int cy, UINT flags, int initial, int grow);
    // A strip bitmap resource cut into images cx wide, with the mask colour made transparent.
    BOOL Create(UINT bitmapId, int cx, int grow, COLORREF mask);
    BOOL DeleteImageList();
    int Add(CBitmap* bitmap, CBitmap* mask);
    int Add(CBitmap* bitmap, COLORREF mask);
    int GetImageCount() const { return m_hImageList ? ImageList_GetImageCount(m_hImageList) : 0; }
    BOOL Draw(CDC* dc, int image, POINT p, UINT style)
    {
        return ImageList_Draw(m_hImageList, image, dc->m_hDC, p.x, p.y, style);
    }
    // Draws image at p in size (cx, cy) with a raster operation (ILD_ROP), default colours.
    BOOL DrawRop(CDC* dc, int image, POINT p, SIZE size, DWORD rop);
    operator HIMAGELIST() const { return m_hImageList; }

    HIMAGELIST m_hImageList = nullptr;
};
#endif
