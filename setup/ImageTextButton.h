// CImageTextButton: an owner-drawn push button made of state bitmaps (normal, pressed,
// disabled) with its caption drawn over them.
#pragma once

#include "Fx.h"
#include "FxCtrl.h"

#include <vector>

class CImageTextButton : public CButton
{
public:
    CImageTextButton();

    // Bitmap resource ids; 0 leaves that state out. A normal bitmap that does not load leaves
    // the button without images.
    void SetBitmaps(UINT normal, UINT pressed, UINT disabled);
    void SetTextPosition(int x, int y);
    void SetTextColors(COLORREF first, COLORREF second);
    void SetTextFont(const char* faceName, int height);
    void SetText(const CString& caption);
    // Lines separated by "\n": their count; more than one are kept in the lines array.
    int SplitTextLines(const CString& caption);

    void DrawItem(LPDRAWITEMSTRUCT dis) override;
    void OnSetFocus(CWnd* oldWnd);
    void OnEnable(BOOL enable);

    SIZE m_bitmapSize = {0, 0};
    CImageList m_images;
    BOOL m_bImagesCreated = FALSE;
    CString m_strCaption;
    CRect m_rcDraw;
    COLORREF m_colorFirst = 0xFFFFFF;   // normal and pressed
    COLORREF m_colorSecond = 0xFFFFFF;  // disabled
    int m_nTextX = -1, m_nTextY = -1;   // -1 in either: placed by m_nFormat
    UINT m_nFormat = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    CFont m_font;
    std::vector<CString> m_lines;
    int m_nLines = 0;

protected:
    DECLARE_MESSAGE_MAP()
};
