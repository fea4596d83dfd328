#include "FxDialog.h"

#include "FxApp.h"
#include "FxDdx.h"

namespace {
CDialog* g_activeModal = nullptr;  // the window layer runs on one thread
}

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, OnOKCommand)
    ON_COMMAND(IDCANCEL, OnCancelCommand)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog()
{
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
}

CDialog* CDialog::GetActiveModal() { return g_activeModal; }

INT_PTR CALLBACK FxDlgProc(HWND h, UINT msg, WPARAM, LPARAM lp)
{
    // Only the first message is ours here: from then on the dialog's window procedure is
    // subclassed and every message goes through the object's message map.
    if (msg != WM_INITDIALOG)
        return FALSE;
    CDialog* dlg = reinterpret_cast<CDialog*>(lp);
    if (!dlg || !dlg->SubclassWindow(h))
        return TRUE;
    try {
        return dlg->OnInitDialog();
    } catch (...) {
        dlg->EndDialog(-1);
        return TRUE;
    }
}

INT_PTR CDialog::DoModal()
{
    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    m_bEnded = false;
    m_nModalResult = -1;
    m_pOuterModal = g_activeModal;
    g_activeModal = this;
    bool parentWasEnabled = false;
    if (parent)
        parentWasEnabled = !::EnableWindow(parent, FALSE);
    HWND h = CreateDialogParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), parent, FxDlgProc,
                                reinterpret_cast<LPARAM>(this));
    // A window that could not be bound to this object has no loop to run and would stay behind.
    if (h && !m_hWnd) {
        if (::IsWindow(h))
            ::DestroyWindow(h);
        h = nullptr;
    }
    if (h) {
        if (!m_bEnded)
            ::ShowWindow(h, SW_SHOW);
        MSG msg;
        while (!m_bEnded && m_hWnd) {
            BOOL got = GetMessageA(&msg, nullptr, 0, 0);
            if (got == 0) {
                PostQuitMessage(int(msg.wParam));
                break;
            }
            if (got < 0)
                break;
            bool handled = false;
            try {
                handled = PreTranslateMessage(&msg) != FALSE;
            } catch (...) {
                handled = true;
            }
            if (!handled) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
    if (parent && parentWasEnabled)
        ::EnableWindow(parent, TRUE);
    if (parent && ::GetActiveWindow() == m_hWnd)
        ::SetActiveWindow(parent);
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
    g_activeModal = m_pOuterModal;
    return h ? m_nModalResult : -1;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const FxDataExchangeFailed&) {
        return FALSE;
    }
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(INT_PTR result)
{
    m_nModalResult = result;
    m_bEnded = true;
    if (m_hWnd)
        ::ShowWindow(m_hWnd, SW_HIDE);
    // Wake the modal loop should it be waiting.
    ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::PreTranslateMessage(MSG* msg)
{
    return m_hWnd && ::IsDialogMessageA(m_hWnd, msg);
}
