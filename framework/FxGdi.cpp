#include "FxGdi.h"

#include "FxApp.h"

BOOL CGdiObject::Attach(HGDIOBJ h)
{
    if (!h)
        return FALSE;
    DeleteObject();
    m_hObject = h;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach()
{
    HGDIOBJ h = m_hObject;
    m_hObject = nullptr;
    return h;
}

BOOL CGdiObject::DeleteObject()
{
    if (!m_hObject)
        return FALSE;
    BOOL ok = ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return ok;
}

BOOL CFont::CreateFontIndirect(const LOGFONTA* lf)
{
    return Attach(::CreateFontIndirectA(lf));
}

BOOL CBitmap::LoadBitmap(UINT id)
{
    return Attach(::LoadBitmapA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id)));
}

BOOL CBitmap::CreateCompatibleBitmap(HDC dc, int width, int height)
{
    return Attach(::CreateCompatibleBitmap(dc, width, height));
}

int CBitmap::GetBitmap(BITMAP* bm) const
{
    return m_hObject ? ::GetObjectA(m_hObject, sizeof(BITMAP), bm) : 0;
}

BOOL CBrush::CreateSolidBrush(COLORREF c) { return Attach(::CreateSolidBrush(c)); }

CDC::~CDC()
{
    if (!m_hDC)
        return;
    if (m_own == Own::Delete)
        ::DeleteDC(m_hDC);
    else if (m_own == Own::Release)
        ::ReleaseDC(m_hWndOwner, m_hDC);
}

BOOL CDC::Attach(HDC dc)
{
    if (!dc)
        return FALSE;
    m_hDC = dc;
    m_own = Own::None;
    return TRUE;
}

HDC CDC::Detach()
{
    HDC dc = m_hDC;
    m_hDC = nullptr;
    m_own = Own::None;
    return dc;
}

BOOL CDC::CreateCompatibleDC(CDC* other)
{
    HDC dc = ::CreateCompatibleDC(other ? other->m_hDC : nullptr);
    if (!dc)
        return FALSE;
    m_hDC = dc;
    m_own = Own::Delete;
    return TRUE;
}

void CDC::FillSolidRect(const RECT& r, COLORREF c)
{
    COLORREF old = ::SetBkColor(m_hDC, c);
    ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, old);
}

CPaintDC::CPaintDC(HWND wnd)
{
    m_hWndOwner = wnd;
    m_hDC = ::BeginPaint(wnd, &m_ps);
    m_own = Own::Paint;
}

CPaintDC::~CPaintDC()
{
    if (m_hDC)
        ::EndPaint(m_hWndOwner, &m_ps);
    m_hDC = nullptr;
}

CClientDC::CClientDC(HWND wnd)
{
    m_hWndOwner = wnd;
    m_hDC = ::GetDC(wnd);
    m_own = Own::Release;
}

BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int grow)
{
    DeleteImageList();
    m_hImageList = ImageList_Create(cx, cy, flags, initial, grow);
    return m_hImageList != nullptr;
}

BOOL CImageList::Create(UINT bitmapId, int cx, int grow, COLORREF mask)
{
    DeleteImageList();
    m_hImageList = ImageList_LoadImageA(AfxGetResourceHandle(), MAKEINTRESOURCEA(bitmapId), cx, grow, mask,
                                        IMAGE_BITMAP, LR_CREATEDIBSECTION);
    return m_hImageList != nullptr;
}

BOOL CImageList::DeleteImageList()
{
    if (!m_hImageList)
        return FALSE;
    ImageList_Destroy(m_hImageList);
    m_hImageList = nullptr;
    return TRUE;
}

int CImageList::Add(CBitmap* bitmap, CBitmap* mask)
{
    return ImageList_Add(m_hImageList, *bitmap, mask ? static_cast<HBITMAP>(*mask) : nullptr);
}

int CImageList::Add(CBitmap* bitmap, COLORREF mask)
{
    return ImageList_AddMasked(m_hImageList, *bitmap, mask);
}

BOOL CImageList::DrawRop(CDC* dc, int image, POINT p, SIZE size, DWORD rop)
{
    IMAGELISTDRAWPARAMS ip = {};
    ip.cbSize = sizeof ip;
    ip.himl = m_hImageList;
    ip.i = image;
    ip.hdcDst = dc->m_hDC;
    ip.x = p.x;
    ip.y = p.y;
    ip.cx = size.cx;
    ip.cy = size.cy;
    ip.rgbBk = CLR_DEFAULT;
    ip.rgbFg = CLR_DEFAULT;
    ip.fStyle = ILD_ROP;
    ip.dwRop = rop;
    return ImageList_DrawIndirect(&ip);
}
