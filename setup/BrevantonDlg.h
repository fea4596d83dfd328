// CBrevantonDlg: the setup utility's main window. It lists this driver set's devices in a tree,
// shows a summary of the selected one, removes it, runs CheckHealth on it through the hosted
// POSPrinter Control Object and starts the other dialogs.
#pragma once

#include "FxCtrl.h"
#include "FxGdi.h"
#include "ImageTextButton.h"
#include "OposControls.h"
#include "Skin.h"

#include <functional>

// How the Utility folder is opened (ShellExecuteA in the program); a test sees the call instead.
typedef std::function<void(const char* verb, const char* path)> ShellOpenFn;
void ShellOpenWithSystem(const char* verb, const char* path);
// A minimised window shows its icon in the middle of its client area.
void PaintMinimisedIcon(CDC& dc, const RECT& client, HICON icon);

class CBrevantonDlg : public CSkinDialog
{
public:
    explicit CBrevantonDlg(CWnd* parent = nullptr);
    ~CBrevantonDlg() override;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    BOOL PreTranslateMessage(MSG* msg) override;
    void OnOK() override;

    void LoadCaptions();
    void InitDeviceTree();
    void FillDeviceTree(int classCode);
    // Whether the key belongs to this driver set: its model (the name before the first "_") is a
    // section of the class INF, and a known model key holds this driver set's ProgID.
    BOOL IsOwnDevice(const CString& keyName, int classCode);
    void RefreshDeviceTree();
    // Selects the current device's item again after a fill, or, when it is gone, clears the
    // current device and selects the root.
    void SelectCurrentDevice();
    void EnableDeviceButtons(int depth);
    void ShowDeviceSummary(const CString& keyName);
    BOOL HasLabelSupport();

    void OnTvnSelchangedDeviceTree(NMHDR* nm, LRESULT* result);
    void OnBnClickedAddDevice();
    void OnBnClickedAddCashDrawer();
    void OnBnClickedRemoveDevice();
    void OnBnClickedModifyDevice();
    void OnBnClickedCheckHealth();
    void OnBnClickedPortRange();
    void OnBnClickedUtility();
    void OnBnClickedExit();
    HCURSOR OnQueryDragIcon();
    void OnPaint();

    CString Installdir;
    CImageTextButton m_btnAddDevice, m_btnAddCashDrawer, m_btnRemoveDevice, m_btnModifyDevice, m_btnCheckHealth,
        m_btnPortRange, m_btnUtility, m_btnExit;
    CImageList m_imageList;
    HTREEITEM m_hRoot = nullptr;
    // Category items of the classes the tree does not list: never made, so they match nothing.
    HTREEITEM m_hPOSPrinter = nullptr, m_hCashDrawer = nullptr, m_hLineDisplay = nullptr, m_hMSR = nullptr,
              m_hSmartCard = nullptr;
    BOOL m_bLabelSupport = FALSE;
    HTREEITEM m_hLabelPrinter = nullptr;

    CTreeCtrl m_treeDevice;
    CString m_strSummary;
    COPOSPOSPrinter m_ctlPOSPrinter;
    CFont m_captionFont;
    HICON m_hIcon = nullptr;

    // The current device: its key name, key path and class.
    CString m_strDeviceKeyName, m_strDeviceKeyPath, m_strClassKeyPath;
    int m_nClassCode = 0;
    CString m_strSummaryHeading;
    // While the tree is refilled its selection changes are not the user's.
    BOOL m_bRefilling = FALSE;

    // Captions of the categories (57, 41, 58, 59, 104, 112), of the buttons (2 to 11) and the rest.
    CString m_strPOSPrinter, m_strCashDrawer, m_strMSR, m_strDisplay, m_strSmartCard, m_strLabelPrinter;
    CString m_strButtonCaptions[10];
    CString m_strListCaption, m_strDescription, m_strNotUsed, m_strReceiptPrinter, m_strLabelSeries, m_strStandard;
    CString m_strHeadings[6];

    // The new device of the last completed Add Device.
    int m_nAddedClassCode = 0;
    CString m_strAddedKeyName;

    ShellOpenFn m_shellOpen = ShellOpenWithSystem;
    // setup.inf [SPECIAL] FindAvailablePort, handed to the printer configuration dialog.
    int m_nFindAvailablePort = 0;

protected:
    // Hosts the POSPrinter Control Object in the dialog (at its start).
    virtual BOOL CreatePrinterControl(const RECT& rect);
    // Runs the printer configuration dialog on a device key (add mode after Add Device).
    virtual INT_PTR RunPrinterConfiguration(const CString& keyName, int classCode, BOOL addMode);

    // The selected device item under a category that was made, accepted by IsOwnDevice: its
    // name and class. FALSE for the root, a category, or nothing selected.
    BOOL SelectedDevice(CString& name, int& classCode);
    int ClassOfCategory(HTREEITEM category) const;
    DECLARE_MESSAGE_MAP()
};
