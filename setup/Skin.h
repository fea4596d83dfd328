// What every dialog of the setup utility shares: the window shape cut from a skin bitmap by a
// key colour, the skin painted as background, transparent labels, dragging by any client
// point, the two footer lines, and the choice of the UI language.
#pragma once

#include "Fx.h"
#include "FxDialog.h"

#include <vector>

// The key colour of every skin: where it is, the window is cut away.
const COLORREF kSkinKeyColour = RGB(0, 255, 0);

// The region of the pixels whose colour differs from key (inverse FALSE) or, with inverse
// TRUE, of the pixels outside the key's tolerance as well; null for a null bitmap or when GDI
// fails. Each channel matches within 17 of the key's value (0..16 and 239..255 at the ends).
HRGN CreateRegionFromBitmap(HBITMAP bitmap, COLORREF key, BOOL inverse);

// The skinned dialogs' hit test: a point of the client area drags the window; every other
// result (caption buttons, borders, transparent children) stays as the system found it.
LRESULT SkinHitTest(LRESULT systemHit);

BOOL IsVistaOrLater();
LANGID GetDefaultLangId();
BOOL SetUILanguage(LANGID id);
// Makes the UI language follow the system's default: the thread's UI language as far as the
// system allows, and the string table the texts are loaded from.
LANGID ChooseUILanguage();

enum class FooterStyle {
    Main,    // bold, right-aligned above the bottom edge
    Dialog,  // normal weight, left-aligned at the bottom
};
// Draws the footer lines (strings 105 and 106) over the client rectangle.
void PaintFooterLines(CDC& dc, const RECT& client, const CString& first, const CString& second, FooterStyle style);

// A dialog with a skin: background bitmap, window region, transparent labels, drag anywhere,
// footer lines.
class CSkinDialog : public CDialog
{
public:
    // bitmapId: the skin; cut: whether the window is shaped by the skin's key colour.
    CSkinDialog(UINT templateId, CWnd* parent, UINT bitmapId, bool cut = true);
    ~CSkinDialog() override;

    BOOL OnInitDialog() override;
    BOOL OnEraseBkgnd(CDC* dc);
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);
    LRESULT OnNcHitTest(CPoint p);
    void OnPaint();

    HBITMAP m_hBackground = nullptr;
    HRGN m_hRegion = nullptr;

protected:
    DECLARE_MESSAGE_MAP()
    // The labels that show the skin through them.
    std::vector<int> m_transparentIds;
    CString m_strFooter1, m_strFooter2;
    FooterStyle m_footerStyle = FooterStyle::Dialog;
};
