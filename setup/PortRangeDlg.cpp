#include "PortRangeDlg.h"

#include "FxDdx.h"
#include "FxRes.h"
#include "Registry.h"
#include "resource.h"

namespace {
const int kDefaultSerialRange = 10, kDefaultParallelRange = 2;
const UINT kMsgRegistryReadFailed = 68;
}

BEGIN_MESSAGE_MAP(CPortRangeDlg, CSkinDialog)
    ON_BN_CLICKED(IDOK, OnBnClickedOk)
    ON_BN_CLICKED(IDC_DEFAULT, OnBnClickedDefault)
END_MESSAGE_MAP()

CPortRangeDlg::CPortRangeDlg(CWnd* parent) : CSkinDialog(IDD_PORTRANGE, parent, IDB_SKIN)
{
    m_transparentIds = {IDC_COM_RANGE_LABEL, IDC_LPT_RANGE_LABEL, IDC_COM_RANGE_LIMITS, IDC_LPT_RANGE_LIMITS};
    m_footerStyle = FooterStyle::Dialog;
}

void CPortRangeDlg::DoDataExchange(CDataExchange* dx)
{
    CSkinDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_LPT_RANGE_SPIN, m_spinParallel);
    DDX_Control(dx, IDC_COM_RANGE_SPIN, m_spinSerial);
    DDX_Text(dx, IDC_COM_RANGE, m_nSerialRange);
    DDV_MinMaxInt(dx, m_nSerialRange, 1, 50);
    DDX_Text(dx, IDC_LPT_RANGE, m_nParallelRange);
    DDV_MinMaxInt(dx, m_nParallelRange, 1, 10);
}

void CPortRangeDlg::LoadCaptions()
{
    ChooseUILanguage();
    m_strSave = FxLoadString(53);
    m_strCancel = FxLoadString(13);
    m_strDefault = FxLoadString(39);
    m_strSerialLabel = FxLoadString(37);
    m_strParallelLabel = FxLoadString(38);
    m_strFooter1 = FxLoadString(IDS_FOOTER_1);
    m_strFooter2 = FxLoadString(IDS_FOOTER_2);
    m_btnOk.SetText(m_strSave);
    m_btnCancel.SetText(m_strCancel);
    m_btnDefault.SetText(m_strDefault);
    SetDlgItemText(IDC_COM_RANGE_LABEL, m_strSerialLabel);
    SetDlgItemText(IDC_LPT_RANGE_LABEL, m_strParallelLabel);
}

BOOL CPortRangeDlg::OnInitDialog()
{
    CSkinDialog::OnInitDialog();
    CRect r;
    GetWindowRect(&r);
    MoveWindow(r.left, r.top + 1, 595, 341);

    struct
    {
        CImageTextButton& button;
        int id, textX;
    } buttons[] = {{m_btnOk, IDOK, 57}, {m_btnCancel, IDCANCEL, 52}, {m_btnDefault, IDC_DEFAULT, 55}};
    for (auto& b : buttons) {
        b.button.SetBitmaps(IDB_SAVE_BUTTON, IDB_SAVE_BUTTON_PRESSED, IDB_SAVE_BUTTON_DISABLED);
        b.button.SetTextColors(0x265800, 0x818181);
        b.button.SetTextPosition(b.textX, 6);
        b.button.SubclassDlgItem(UINT(b.id), this);
    }
    LoadCaptions();

    // Without the install folder the file would be "\setup.inf" at the root of the current
    // drive: say so and write nothing.
    CString installDir;
    CRegistry reg;
    if (!reg.GetString(VESK_SERVICEINFO_KEY, "Installdir", installDir) || installDir.IsEmpty()) {
        AfxMessageBox(FxLoadString(kMsgRegistryReadFailed), MB_OK);
        EndDialog(IDCANCEL);
        return FALSE;
    }
    m_strSetupInf = installDir + "\\setup.inf";

    m_nSerialRange = int(GetPrivateProfileIntA("DESCRIPTION", "COMRange", kDefaultSerialRange, m_strSetupInf));
    m_nParallelRange = int(GetPrivateProfileIntA("DESCRIPTION", "LPTRange", kDefaultParallelRange, m_strSetupInf));
    m_spinSerial.SetRange32(1, 50);
    m_spinSerial.SetPos32(m_nSerialRange);
    m_spinParallel.SetRange32(1, 10);
    m_spinParallel.SetPos32(m_nParallelRange);
    UpdateData(FALSE);
    return TRUE;
}

void CPortRangeDlg::OnBnClickedOk()
{
    if (!UpdateData(TRUE))
        return;
    CString serial, parallel;
    serial.Format("%d", m_nSerialRange);
    parallel.Format("%d", m_nParallelRange);
    bool written = WritePrivateProfileStringA("Description", "COMRange", serial, m_strSetupInf) != FALSE;
    written = WritePrivateProfileStringA("Description", "LPTRange", parallel, m_strSetupInf) != FALSE && written;
    // A range that did not reach the file is not saved: the dialog says so and stays.
    if (!written) {
        AfxMessageBox(CString("Failed to write file! : ") + m_strSetupInf, MB_OK);
        return;
    }
    CSkinDialog::OnOK();
}

void CPortRangeDlg::OnBnClickedDefault()
{
    m_nSerialRange = kDefaultSerialRange;
    m_nParallelRange = kDefaultParallelRange;
    UpdateData(FALSE);
}
