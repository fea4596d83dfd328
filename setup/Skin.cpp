#include "Skin.h"

#include "FxRes.h"
#include "resource.h"

#include <algorithm>

namespace {
// Rectangles for one region call, in a block of a private heap that grows by 100 rectangles.
class RectBatch
{
public:
    RectBatch() : m_heap(HeapCreate(0, 0, 0)) { Reserve(100); }
    ~RectBatch()
    {
        if (m_heap)
            HeapDestroy(m_heap);
    }
    bool Ok() const { return m_data != nullptr; }
    DWORD Count() const { return m_data->rdh.nCount; }
    bool Add(int x0, int y, int x1)
    {
        RGNDATAHEADER& h = m_data->rdh;
        if (h.nCount == m_capacity && !Reserve(m_capacity + 100))
            return false;
        RECT* r = reinterpret_cast<RECT*>(m_data->Buffer) + h.nCount;
        SetRect(r, x0, y, x1, y + 1);
        if (h.nCount == 0)
            h.rcBound = *r;
        else {
            h.rcBound.left = std::min(h.rcBound.left, LONG(x0));
            h.rcBound.right = std::max(h.rcBound.right, LONG(x1));
            h.rcBound.top = std::min(h.rcBound.top, LONG(y));
            h.rcBound.bottom = std::max(h.rcBound.bottom, LONG(y + 1));
        }
        ++h.nCount;
        h.nRgnSize = h.nCount * sizeof(RECT);
        return true;
    }
    // Makes a region of the rectangles held, ORs it into result, and empties the block.
    bool Flush(HRGN& result)
    {
        HRGN r = ExtCreateRegion(nullptr, sizeof(RGNDATAHEADER) + Count() * sizeof(RECT), m_data);
        m_data->rdh.nCount = 0;
        m_data->rdh.nRgnSize = 0;
        SetRectEmpty(&m_data->rdh.rcBound);
        if (!r)
            return false;
        if (!result)
            result = r;
        else {
            CombineRgn(result, result, r, RGN_OR);
            DeleteObject(r);
        }
        return true;
    }

private:
    bool Reserve(DWORD n)
    {
        if (!m_heap)
            return false;
        SIZE_T bytes = sizeof(RGNDATAHEADER) + n * sizeof(RECT);
        void* p = m_data ? HeapReAlloc(m_heap, 0, m_data, bytes) : HeapAlloc(m_heap, HEAP_ZERO_MEMORY, bytes);
        if (!p)
            return false;
        m_data = static_cast<RGNDATA*>(p);
        if (m_capacity == 0) {
            m_data->rdh.dwSize = sizeof(RGNDATAHEADER);
            m_data->rdh.iType = RDH_RECTANGLES;
        }
        m_capacity = n;
        return true;
    }

    HANDLE m_heap;
    RGNDATA* m_data = nullptr;
    DWORD m_capacity = 0;
};

struct Range
{
    BYTE lo, hi;
};

Range Tolerance(BYTE c, COLORREF key)
{
    if (key == 0)
        return {0, 16};
    if (key == 0xFFFFFF)
        return {239, 255};
    return {BYTE(c <= 16 ? 0 : c - 17), BYTE(c >= 239 ? 255 : c + 17)};
}
}

HRGN CreateRegionFromBitmap(HBITMAP bitmap, COLORREF key, BOOL inverse)
{
    if (!bitmap)
        return nullptr;
    BITMAP bm = {};
    if (!GetObjectA(bitmap, sizeof bm, &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0)
        return nullptr;
    HDC mem = CreateCompatibleDC(nullptr);
    if (!mem)
        return nullptr;
    const int w = bm.bmWidth, h = bm.bmHeight;
    BITMAPINFOHEADER bi = {};
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h;  // bottom-up: row y of the image is row h - 1 - y in memory
    bi.biPlanes = 1;
    bi.biBitCount = 32;
    bi.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(mem, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!section || !bits) {
        if (section)
            DeleteObject(section);
        DeleteDC(mem);
        return nullptr;
    }
    HGDIOBJ oldSection = SelectObject(mem, section);
    HDC src = CreateCompatibleDC(mem);
    HGDIOBJ oldSrc = src ? SelectObject(src, bitmap) : nullptr;
    BOOL copied = src && oldSrc && BitBlt(mem, 0, 0, w, h, src, 0, 0, SRCCOPY);
    GdiFlush();

    HRGN result = nullptr;
    bool ok = copied != FALSE;
    if (ok) {
        // Pixels are B, G, R, 0 in memory; compare each with the key's own channel.
        const Range r = Tolerance(GetRValue(key), key), g = Tolerance(GetGValue(key), key),
                    b = Tolerance(GetBValue(key), key);
        const int rowBytes = ((w * 32 + 31) / 32) * 4;
        RectBatch batch;
        ok = batch.Ok();
        for (int y = 0; ok && y < h; ++y) {
            const BYTE* p = static_cast<const BYTE*>(bits) + size_t(h - 1 - y) * rowBytes;
            int x = 0;
            while (ok && x < w) {
                auto match = [&](int i) {
                    const BYTE* q = p + i * 4;
                    bool in = q[0] >= b.lo && q[0] <= b.hi && q[1] >= g.lo && q[1] <= g.hi && q[2] >= r.lo &&
                              q[2] <= r.hi;
                    return inverse ? !in : in;
                };
                while (x < w && !match(x))
                    ++x;
                int start = x;
                while (x < w && match(x))
                    ++x;
                if (x > start) {
                    ok = batch.Add(start, y, x);
                    if (ok && batch.Count() == 3000)
                        ok = batch.Flush(result);
                }
            }
        }
        if (ok)
            ok = batch.Flush(result);
        if (ok && !inverse) {
            HRGN full = CreateRectRgn(0, 0, w, h);
            if (!full)
                ok = false;
            else {
                CombineRgn(result, result, full, RGN_XOR);
                DeleteObject(full);
            }
        }
    }
    if (!ok && result) {
        DeleteObject(result);
        result = nullptr;
    }
    if (src) {
        if (oldSrc)
            SelectObject(src, oldSrc);
        DeleteDC(src);
    }
    SelectObject(mem, oldSection);
    DeleteObject(section);
    DeleteDC(mem);
    return result;
}

LRESULT SkinHitTest(LRESULT systemHit) { return systemHit == HTCLIENT ? HTCAPTION : systemHit; }

BOOL IsVistaOrLater()
{
    OSVERSIONINFOA vi = {};
    vi.dwOSVersionInfoSize = sizeof vi;
    return GetVersionExA(&vi) && vi.dwMajorVersion > 5;
}

LANGID GetDefaultLangId()
{
    if (IsVistaOrLater()) {
        HMODULE k = LoadLibraryA("kernel32.dll");
        typedef LANGID(WINAPI * Fn)();
        Fn fn = k ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(k, "GetSystemDefaultLangID"))) : nullptr;
        LANGID id = fn ? fn() : 0;
        if (k)
            FreeLibrary(k);
        if (id)
            return id;
    }
    return GetUserDefaultLangID();
}

BOOL SetUILanguage(LANGID id)
{
    if (IsVistaOrLater()) {
        HMODULE k = LoadLibraryA("kernel32.dll");
        typedef LANGID(WINAPI * Fn)(LANGID);
        Fn fn = k ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(k, "SetThreadUILanguage"))) : nullptr;
        LANGID set = fn ? fn(id) : 0;
        if (k)
            FreeLibrary(k);
        if (set)
            return TRUE;
    }
    return SetThreadLocale(MAKELCID(id, SORT_DEFAULT));
}

LANGID ChooseUILanguage()
{
    LANGID id = GetDefaultLangId();
    SetUILanguage(id);
    FxSetStringLanguage(id);
    return id;
}

void PaintFooterLines(CDC& dc, const RECT& client, const CString& first, const CString& second, FooterStyle style)
{
    const int w = client.right - client.left, h = client.bottom - client.top;
    LOGFONTA lf = {};
    lf.lfHeight = 16;
    lf.lfWidth = 6;
    lf.lfWeight = style == FooterStyle::Main ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpyA(lf.lfFaceName, "Arial");
    CFont font;
    font.CreateFontIndirect(&lf);
    HGDIOBJ old = dc.SelectObject(&font);
    int oldMode = dc.SetBkMode(TRANSPARENT);
    COLORREF oldColour = dc.SetTextColor(RGB(27, 20, 100));
    CRect r1, r2;
    UINT format = DT_BOTTOM | DT_SINGLELINE;
    if (style == FooterStyle::Main) {
        r1 = CRect(w / 4, h - 40, w - 10, h - 20);
        r2 = CRect(w / 4, h - 20, w - 8, h - 5);
        format |= DT_RIGHT;
    } else {
        r1 = CRect(10, h - 40, w, h - 15);
        r2 = CRect(10, h - 20, w, h);
    }
    dc.DrawText(first, &r1, format);
    dc.SetTextColor(RGB(0, 0, 0));
    dc.DrawText(second, &r2, format);
    dc.SetTextColor(oldColour);
    dc.SetBkMode(oldMode);
    dc.SelectObject(old);
}

BEGIN_MESSAGE_MAP(CSkinDialog, CDialog)
    ON_WM_ERASEBKGND()
    ON_WM_CTLCOLOR()
    ON_WM_NCHITTEST()
    ON_WM_PAINT()
END_MESSAGE_MAP()

CSkinDialog::CSkinDialog(UINT templateId, CWnd* parent, UINT bitmapId, bool cut) : CDialog(templateId, parent)
{
    m_hBackground = static_cast<HBITMAP>(
        LoadImageA(AfxGetResourceHandle(), MAKEINTRESOURCEA(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (cut && m_hBackground)
        m_hRegion = CreateRegionFromBitmap(m_hBackground, kSkinKeyColour, FALSE);
}

CSkinDialog::~CSkinDialog()
{
    if (m_hRegion)
        DeleteObject(m_hRegion);
    if (m_hBackground)
        DeleteObject(m_hBackground);
}

BOOL CSkinDialog::OnInitDialog()
{
    BOOL r = CDialog::OnInitDialog();
    if (m_hRegion) {
        // The window owns the region it is given: hand it a copy, so the dialog can run again.
        HRGN copy = CreateRectRgn(0, 0, 0, 0);
        if (copy && CombineRgn(copy, m_hRegion, nullptr, RGN_COPY) != ERROR)
            SetWindowRgn(copy, TRUE);
        else if (copy)
            DeleteObject(copy);
    }
    return r;
}

BOOL CSkinDialog::OnEraseBkgnd(CDC* dc)
{
    if (!m_hBackground)
        return CDialog::OnEraseBkgnd(dc);
    BITMAP bm = {};
    GetObjectA(m_hBackground, sizeof bm, &bm);
    CDC mem;
    if (!mem.CreateCompatibleDC(dc))
        return CDialog::OnEraseBkgnd(dc);
    HGDIOBJ old = mem.SelectObject(m_hBackground);
    if (!old)
        return CDialog::OnEraseBkgnd(dc);
    dc->BitBlt(0, 0, bm.bmWidth, bm.bmHeight, &mem, 0, 0, SRCCOPY);
    mem.SelectObject(old);
    return TRUE;
}

HBRUSH CSkinDialog::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor)
{
    HBRUSH brush = CDialog::OnCtlColor(dc, wnd, ctlColor);
    int id = wnd ? wnd->GetDlgCtrlID() : 0;
    if (wnd && std::find(m_transparentIds.begin(), m_transparentIds.end(), id) != m_transparentIds.end()) {
        dc->SetBkMode(TRANSPARENT);
        return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    }
    return brush;
}

LRESULT CSkinDialog::OnNcHitTest(CPoint p) { return SkinHitTest(CDialog::OnNcHitTest(p)); }

void CSkinDialog::OnPaint()
{
    CPaintDC dc(m_hWnd);
    CRect client;
    GetClientRect(&client);
    PaintFooterLines(dc, client, m_strFooter1, m_strFooter2, m_footerStyle);
}
