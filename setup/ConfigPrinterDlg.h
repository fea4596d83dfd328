// CConfigPrinterDlg: edits one device key of the printer, line display, MSR or smart-card class:
// the interface and port, the serial settings, buffers and logical device name, and, for the
// receipt and label printers, the printer settings that the advanced dialogs edit. OK, Check
// Health and the label Advanced button save the key; Cancel of an add removes it again.
#pragma once

#include "ConfigPrinterParts.h"
#include "FxCtrl.h"
#include "ImageTextButton.h"
#include "OposControls.h"
#include "RegistUsb.h"
#include "Skin.h"

#include <vector>

class CConfigPrinterDlg : public CSkinDialog
{
public:
    // findAvailablePort: setup.inf [SPECIAL] FindAvailablePort as the main dialog read it; not 0
    // offers exactly the machine's COM and LPT ports.
    explicit CConfigPrinterDlg(CWnd* parent = nullptr, int findAvailablePort = 0);
    ~CConfigPrinterDlg() override;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;

    // Ports and interfaces.
    BOOL LoadPortRanges();
    BOOL EnumeratePorts();
    void LoadPortSettings();
    void FillPortList();
    BOOL LoadBufferSizes(int interfaceType);
    CString GetPortText(int index);
    BOOL IsPortAvailable(const CString& port);
    // Whether another device key holds the port (IsPortAvailable without taking the controls).
    bool PortHeld(const CString& port);
    // The binding a save would write, from what the dialog shows (the controls already taken);
    // OK, Check Health, the label Advanced button and the save decide by it alone.
    cfgprn::PortBinding BindingToSave();
    // Says why a binding is refused; a held selection goes back to a port that may be used.
    void SayRefusal(const cfgprn::PortBinding& binding);
    BOOL CheckLdn();
    // Writes the device key; a write the registry refuses is said, naming the key, and fails it.
    BOOL SavePortSettings();
    void LoadCaptions();

    // Line display extras: the display's virtual COM port, its driver's installer, and for the
    // model that can hang on a receipt printer, the host printers.
    int FindDisplayComPort();
    void RunVComInstaller();
    int ListHostPrinters();

    // Printer settings.
    void LoadReceiptSettings();
    BOOL LoadLabelSettings();
    // FALSE when the registry refused a write.
    BOOL SaveReceiptSettings();
    BOOL SaveLabelSettings();
    void ShowReceiptAdvanced();
    void ShowLabelAdvanced();

    // Handlers.
    void OnCbnSelchangePort();
    void OnBnClickedSerial();
    void OnBnClickedParallel();
    void OnBnClickedUsb();
    void OnBnClickedEthernet();
    void OnBnClickedBluetooth();
    void OnBnClickedWirelessLan();
    void OnBnClickedLog();
    void OnBnClickedBinary();
    void OnBnClickedThroughPrinter();
    void OnBnClickedOk();
    void OnBnClickedCancel();
    void OnBnClickedAdvanced();
    void OnBnClickedCheckHealth();
    void OnMove(int x, int y);
    void OnCancel() override { OnBnClickedCancel(); }
    void OnOK() override { OnBnClickedOk(); }

    // Set by the opener.
    CString m_strKeyName;
    BOOL m_bAddMode = FALSE;
    int m_nClassCode = 0;

    // Port half.
    int m_nFindAvailablePort = 0;
    CString m_strClassKey, m_strInstallDir, m_strDeviceName;
    int m_nInterface = -1;
    DWORD m_nPortType = 0, m_nPortTypeN = 0;
    DWORD m_nModel = 0, m_nModelN = 0;
    CString m_strVid, m_strPid, m_strUsbDeviceName;
    DWORD m_nUsbCount = 0;
    CString m_strTcpIp;
    int m_nTcpPort = 9100;
    int m_bUsingBT = 0, m_bWireless = 0, m_bLog = 0, m_bBinary = 0;
    DWORD m_nLogSavingDays = 14;
    int m_bThroughPrinter = 0;
    int m_nComRange = 10, m_nLptRange = 2;
    std::vector<int> m_listComPorts, m_listLptPorts;
    int m_nInBufDefault = 4096, m_nOutBufDefault = 4096;
    CString m_strStoredPort, m_strLastPort;
    BOOL m_bSaved = FALSE;
    CRegistUsb m_usbList;
    BOOL m_bInitialised = FALSE;
    CString m_strTimeout = "1000";
    CString m_strInputBuf, m_strOutputBuf, m_strOutInterval, m_strInputSleep, m_strLdn, m_strKeyNameShown;

    // Receipt printer settings.
    CString m_strCharacterSet, m_strDefaultFont, m_strCharacterSetList, m_strRecLineCharsList;
    DWORD m_nInternationalCharSet = 0, m_nThai3Pass = 0, m_nLeftMargine = 0, m_nCharSpace = 0, m_nUsingFontC = 0,
          m_nFeedCut = 0, m_nRecMobile = 0, m_nCapGrayscale = 0;
    DWORD m_nImageGrayscale = 0, m_nImageRLE = 0, m_nImageSplitCount = 246, m_nImageBrightness = 0,
          m_nImageDithering = 0, m_nImageTwoColor = 0, m_nImageThresholdValue = 127;

    // Label printer settings (offsets signed; see SaveLabelSettings for their stored form).
    int m_nLanguageType = 0;
    CString m_strPrintType, m_strPaperType, m_strOperationMode, m_strOrientation;
    int m_nPaperWidth = 0, m_nPaperLength = 0, m_nLeftMargin = 0, m_nTopMargin = 0, m_nOffsetLength = 0,
        m_nGapLength = 0, m_nBackFeed = 0, m_nBackFeedStep = 0, m_nOffsetPosition = 0, m_nTearOffPosition = 0,
        m_nCutterPeriod = 1, m_nPrintSpeed = 3, m_nDensity = 10, m_nHRISize = 1, m_nRightToLeft = 0;

    CComboBox m_cmbPort, m_cmbBaud, m_cmbBitLength, m_cmbParity, m_cmbStopBits, m_cmbFlow, m_cmbHostPrinters;
    CImageTextButton m_btnOk, m_btnCancel, m_btnCheckHealth, m_btnAdvanced;
    COPOSPOSPrinter m_ctlPOSPrinter;

protected:
    // Hosts the POSPrinter Control Object (1039) when the dialog opens.
    virtual BOOL CreatePrinterControl(const RECT& rect);
    // The advanced dialogs, run modally; tests drive them through these.
    virtual INT_PTR RunReceiptAdvanced(class CConfigPrinterAdvDlg& dlg);
    virtual INT_PTR RunLabelAdvanced(class CLabelAdvancedDlg& dlg);

    CString DeviceKey() const { return m_strClassKey + m_strKeyName; }
    CString ModelInf() const;
    // The other device keys of the class (this dialog's own left out), up to the first "[" name.
    std::vector<CString> OtherDeviceKeys() const;
    void EnableInterfaceControls();
    void TakeControls() { UpdateData(TRUE); }
    void PushControls() { UpdateData(FALSE); }
    void ChangeInterface(int interfaceType);
    // Where USB goes when no device of the model is present: the first interface the model
    // offers (serial, parallel, Ethernet; without a mask Ethernet first), or USB itself.
    int UsbFallbackInterface() const;
    // Where a key with an empty Port opens: Ethernet when the model offers it, else USB, else the
    // first interface it offers.
    int InterfaceOfUnboundKey() const;
    // A selection never rests on a port or USB device another key holds: the last accepted one,
    // else the first free one takes its place (none: no selection).
    void SelectFreePort();
    // The USB list item of the stored device (by its interface path), or -1 while it is absent.
    int StoredUsbItem();
    // The line display that can hang on a receipt printer (through check 1091).
    BOOL CanUseHostPrinter() const;
    // The serial radio, the port list and the serial lists: off while the display goes through a
    // host printer.
    void EnableSerialControls(BOOL on);
    BOOL AliasIsOurs(const CString& ldn);
    void Cancel();

    CRect m_rcWindow;
    DECLARE_MESSAGE_MAP()
};
