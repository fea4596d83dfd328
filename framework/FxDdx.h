// Dialog data exchange: moves values between a dialog's members and its controls, and checks
// them on the way in. A failed check shows its message, puts the focus on the control and stops
// the exchange (UpdateData returns FALSE).
#pragma once

#ifdef _WIN32
#include "FxWnd.h"

struct FxDataExchangeFailed
{
};

class CDataExchange
{
public:
    CDataExchange(CWnd* dlg, BOOL saveAndValidate) : m_pDlgWnd(dlg), m_bSaveAndValidate(saveAndValidate) {}

    HWND PrepareCtrl(int id);      // the control's handle; remembered for the focus on failure
    HWND PrepareEditCtrl(int id);  // the same for an edit: the failure also selects its text
    [[noreturn]] void Fail();

    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
    HWND m_hWndLastControl = nullptr;
    bool m_bEditLastControl = false;
};

// Binds a control object to the dialog's control (once); a missing control is left unbound.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// Text of an edit. Loading writes the control only when its text differs, so an unchanged
// value causes no EN_CHANGE.
void DDX_Text(CDataExchange* dx, int id, CString& value);
void DDX_Text(CDataExchange* dx, int id, int& value);
void DDV_MinMaxInt(CDataExchange* dx, int value, int minValue, int maxValue);
void DDX_Check(CDataExchange* dx, int id, int& value);
// The index of the checked button in the radio group that starts at id, -1 when none is checked.
void DDX_Radio(CDataExchange* dx, int id, int& value);

// The messages of the checks, so that tests and callers can recognise them.
extern const char* const kFxRangeMessage;      // "Enter an integer between %1 and %2."
extern const char* const kFxNotNumberMessage;
#endif
