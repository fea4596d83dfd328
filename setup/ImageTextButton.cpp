#include "ImageTextButton.h"

BEGIN_MESSAGE_MAP(CImageTextButton, CButton)
    ON_WM_SETFOCUS()
    ON_WM_ENABLE()
END_MESSAGE_MAP()

CImageTextButton::CImageTextButton() {}

void CImageTextButton::SetBitmaps(UINT normal, UINT pressed, UINT disabled)
{
    m_images.DeleteImageList();
    m_bImagesCreated = FALSE;
    CBitmap first;
    if (!first.LoadBitmap(normal))
        return;
    BITMAP bm = {};
    first.GetBitmap(&bm);
    m_bitmapSize.cx = bm.bmWidth;
    m_bitmapSize.cy = bm.bmHeight;
    m_rcDraw = CRect(1, 1, bm.bmWidth, bm.bmHeight);
    if (!m_images.Create(bm.bmWidth, bm.bmHeight, ILC_COLORDDB, 1, 2))
        return;
    m_images.Add(&first, static_cast<CBitmap*>(nullptr));
    for (UINT id : {pressed, disabled}) {
        if (!id)
            continue;
        CBitmap b;
        if (b.LoadBitmap(id))
            m_images.Add(&b, static_cast<CBitmap*>(nullptr));
    }
    m_bImagesCreated = TRUE;
}

void CImageTextButton::SetTextPosition(int x, int y)
{
    m_nTextX = x;
    m_nTextY = y;
}

void CImageTextButton::SetTextColors(COLORREF first, COLORREF second)
{
    m_colorFirst = first;
    m_colorSecond = second;
}

void CImageTextButton::SetTextFont(const char* faceName, int height)
{
    LOGFONTA lf = {};
    lf.lfHeight = height;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(lf.lfFaceName, faceName ? faceName : "", LF_FACESIZE);
    m_font.DeleteObject();
    m_font.CreateFontIndirect(&lf);
}

int CImageTextButton::SplitTextLines(const CString& caption)
{
    int count = 1;
    for (int i = 0; i < caption.GetLength(); ++i)
        if (caption[i] == '\n')
            ++count;
    if (count > 1) {
        m_lines.clear();
        int start = 0;
        for (;;) {
            int nl = caption.Find('\n', start);
            if (nl < 0) {
                m_lines.push_back(caption.Mid(start));
                break;
            }
            m_lines.push_back(caption.Mid(start, nl - start));
            start = nl + 1;
        }
        m_nLines = count;
    }
    return count;
}

void CImageTextButton::SetText(const CString& caption)
{
    if (SplitTextLines(caption) <= 1) {
        m_strCaption = caption;
        m_lines.clear();
        m_nLines = 0;
    } else {
        // The lines are drawn from the array; an older single caption must not show as well.
        m_strCaption.Empty();
    }
    if (m_hWnd)
        Invalidate();
}

void CImageTextButton::DrawItem(LPDRAWITEMSTRUCT dis)
{
    if (!dis || dis->CtlType != ODT_BUTTON)
        return;
    const int count = m_bImagesCreated ? m_images.GetImageCount() : 0;
    if (m_hWnd)
        SetWindowPos(nullptr, 0, 0, m_bitmapSize.cx, m_bitmapSize.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CDC dc;
    dc.Attach(dis->hDC);
    CRect frame = m_rcDraw;
    dc.DrawFrameControl(&frame, DFC_BUTTON, DFCS_BUTTONPUSH);

    COLORREF colour = m_colorFirst;
    if (m_bImagesCreated) {
        int image = 0;
        if (dis->itemState & ODS_DISABLED) {
            image = count == 3 ? 2 : 0;
            colour = m_colorSecond;
        } else if (dis->itemState & ODS_SELECTED) {
            image = count >= 2 ? 1 : 0;
        }
        m_images.DrawRop(&dc, image, CPoint(m_rcDraw.left, m_rcDraw.top), m_bitmapSize, SRCCOPY);
    } else if (dis->itemState & ODS_DISABLED) {
        colour = m_colorSecond;
    }

    if (!m_strCaption.IsEmpty() || !m_lines.empty()) {
        int oldMode = dc.SetBkMode(TRANSPARENT);
        COLORREF oldColour = dc.SetTextColor(colour);
        HGDIOBJ oldFont = m_font.GetSafeHandle() ? dc.SelectObject(&m_font) : nullptr;
        const int h = m_rcDraw.Height();
        if (m_nTextX == -1 || m_nTextY == -1) {
            CRect r = m_rcDraw;
            dc.DrawText(m_strCaption, &r, m_nFormat);
        } else if (!m_lines.empty()) {
            const int n = int(m_lines.size());
            for (int i = 0; i < n; ++i)
                dc.TextOut(m_nTextX, i * (h / n), m_lines[size_t(i)]);
        } else {
            dc.TextOut(m_nTextX, h / 2 - 5, m_strCaption);
        }
        if (oldFont)
            dc.SelectObject(oldFont);
        dc.SetTextColor(oldColour);
        dc.SetBkMode(oldMode);
    }
    dc.Detach();
}

void CImageTextButton::OnSetFocus(CWnd*)
{
    Default();
    Invalidate(TRUE);
}

void CImageTextButton::OnEnable(BOOL)
{
    Default();
    Invalidate(TRUE);
}
