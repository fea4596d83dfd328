#include "SelectConnectPrinterDlg.h"

#include "DeviceKey.h"
#include "FxDdx.h"
#include "FxRes.h"
#include "resource.h"

#include <cstring>

namespace {
const UINT kMsgNoPrinter = 55;
}

BOOL IsDrawerHostPrinter(const char* keyName)
{
    if (!keyName || !keyName[0])
        return FALSE;
    if (strncmp(keyName, "LQT", 3) == 0)
        return TRUE;
    return strncmp(keyName, "KPT", 3) == 0 && !strstr(keyName, "E80");
}

BEGIN_MESSAGE_MAP(CSelectConnectPrinterDlg, CSkinDialog)
    ON_LBN_SELCHANGE(IDC_PRINTER_LIST, OnLbnSelchangePrinterList)
END_MESSAGE_MAP()

CSelectConnectPrinterDlg::CSelectConnectPrinterDlg(CWnd* parent)
    : CSkinDialog(IDD_SELECT_CONNECT_PRINTER, parent, IDB_SKIN)
{
    m_transparentIds = {IDC_PRINTER_LIST_LABEL};
    m_footerStyle = FooterStyle::Dialog;
}

void CSelectConnectPrinterDlg::DoDataExchange(CDataExchange* dx)
{
    CSkinDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_PRINTER_LIST, m_lbPrinter);
}

BOOL CSelectConnectPrinterDlg::OnInitDialog()
{
    CSkinDialog::OnInitDialog();
    CRect r;
    GetWindowRect(&r);
    MoveWindow(r.left, r.top + 1, 595, 337);
    m_btnCancel.SetBitmaps(IDB_SAVE_BUTTON, IDB_SAVE_BUTTON_PRESSED, IDB_SAVE_BUTTON_DISABLED);
    m_btnCancel.SetTextColors(0x265800, 0x818181);
    m_btnCancel.SetTextPosition(52, 6);
    m_btnCancel.SubclassDlgItem(IDCANCEL, this);
    UpdateData(FALSE);

    for (const CString& name : ListDeviceKeys(ClassKeyPath(DEVCLASS_POSPRINTER), true, KEY_ALL_ACCESS))
        if (IsDrawerHostPrinter(name))
            m_lbPrinter.AddString(name);
    if (m_lbPrinter.GetCount() == 0) {
        AfxMessageBox(FxLoadString(kMsgNoPrinter), MB_OK);
        EndDialog(IDCANCEL);
        return FALSE;
    }
    LoadCaptions();
    return TRUE;
}

void CSelectConnectPrinterDlg::LoadCaptions()
{
    m_strCancel = FxLoadString(13);
    m_strTitle = FxLoadString(52);
    m_strFooter1 = FxLoadString(IDS_FOOTER_1);
    m_strFooter2 = FxLoadString(IDS_FOOTER_2);
    m_btnCancel.SetText(m_strCancel);
    SetDlgItemText(IDC_PRINTER_LIST_LABEL, m_strTitle);
}

void CSelectConnectPrinterDlg::OnLbnSelchangePrinterList()
{
    int sel = m_lbPrinter.GetCurSel();
    if (sel < 0)
        return;
    m_lbPrinter.GetText(sel, m_strSelectedPrinter);
    EndDialog(IDOK);
}
