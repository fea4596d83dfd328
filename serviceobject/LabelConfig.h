// The configuration of one label printer device, read when the service is opened: the device's
// registry key, its model INF file, custom.inf and preform.inf in the same folder. It yields the
// port settings record, the label settings (handed to the builder), the fonts, the capabilities
// and property defaults, and the list of property setters the configuration calls, in order,
// for the object to apply.
#pragma once

#include "DeviceOption.h"
#include "FxString.h"
#include "LabelCommand.h"

#include <functional>
#include <vector>

class IUsbInterfaceSource;

// One conversion row between map-mode units and dots: (v x mul + add) / div.
struct MapModeRow
{
    int mul, add, div;
};

// The conversion tables, indexed by map mode 1 (dots) .. 4 (0.01 mm); index 0 unused.
struct MapModeTables
{
    MapModeRow lineOut[5];
    MapModeRow lineIn[5];
    MapModeRow doubleIn[5];
    MapModeRow widthOut[5];
    MapModeRow positionIn[5];
    MapModeTables();  // the rows of a 96/208 dpi device until a model file says otherwise
    // Rows for a device of the given vertical and horizontal resolution.
    void SetResolution(int dpiHigh, int dpiWidth);
    static int Convert(int value, const MapModeRow& row);
};

// A property setter the configuration calls; the object applies them in list order.
struct ConfigSetterCall
{
    enum Kind {
        CharacterSet,
        PageModeArea,
        PageModePrintArea,
        PageModePrintDirection,
        PageModeVerticalPosition,
        PageModeHorizontalPosition,
        ConvertPageModeUnits,
        RecLineChars,
    };
    Kind kind;
    int number;
    CString text;
};

class CLabelConfig
{
public:
    typedef std::function<void(int level, const CString& line)> LogFn;
    enum { LevelInfo = 0, LevelError = 10 };

    CLabelConfig();
    ~CLabelConfig();
    CLabelConfig(const CLabelConfig&) = delete;
    CLabelConfig& operator=(const CLabelConfig&) = delete;

    // Reads the device key. Returns 0, or 106 when the port name or DeviceName comes out
    // empty. usbSource: the USB interface walk (NULL: the system's).
    int APS_RegistryLoad(const CString& deviceName, CLabelCommand& builder, IUsbInterfaceSource* usbSource = nullptr);
    // Reads the model INF file. 0, or 106 for a missing or unusable resolution or line metric.
    int APS_INFLoad(const CString& infPath, CLabelCommand& builder);
    // custom.inf and preform.inf of the INF folder into the builder.
    void LoadPreformAndCustom(CLabelCommand& builder);
    void LoadDownloadFonts();
    // The values of every key of a section except UsePre, in file order.
    static void ReadIniSection(const char* section, const CString& file, std::vector<CString>& out);

    void SetLog(LogFn log) { m_log = std::move(log); }
    // The model INF file (its folder holds custom.inf, preform.inf and the font files). Without
    // it, the registry load takes the device key's value inf.
    void SetInfPath(const CString& path);
    const CString& InfPath() const { return m_infPath; }
    const CString& InfFolder() const { return m_infFolder; }
    CString PortName() const { return DeviceOptionPortName(m_dop); }

    // ---- what the configuration yields
    DeviceOption m_dop;  // owns its port name handle
    MapModeTables m_mapMode;
    int m_twipsPerDot = 0;
    std::vector<ConfigSetterCall> m_setters;  // from the last load, in order

    // label settings
    CString PrintType, PaperType, OperationMode, Orientation;
    int PaperWidth = 0, PaperLength = 0, GapLength = 0, OffsetLength = 0, LeftMargin = 0, TopMargin = 0;
    // The device key gave the paper: the model file's page area does not replace it.
    bool PaperFromKey = false;
    // The configured page in dots (the key's paper, or the model file's page where the key has
    // none): what every label carries unless the application sets a print area.
    int PageWidth = 0, PageLength = 0;
    int BackFeed = 0, BackFeedStep = 0, OffsetPosition = 0, TearOffPosition = 0, CutterPeriod = 0;
    int PrintSpeed = 0, Density = 0, HRISize = 0, RightToLeft = 0;
    DWORD Type = 0, Model = 0, LanguageType = 0;
    CString DeviceDescription = "Not Select", DeviceName = "Not Select", ServiceObjectDescription;
    long ServiceObjectVersion = 1013000;
    long CapPowerReporting = 0;
    std::vector<DownloadedFont> DownloadFonts;

    // from the model INF
    CString RecBarCodeRotationList, RecBitmapRotationList, CharacterSetList, FontTypefaceList, RecLineCharsList;
    long CapCompareFirmwareVersion = 0, CapStatisticsReporting = 0, CapUpdateFirmware = 0, CapUpdateStatistics = 0;
    long CapCoverSensor = 0, CapRec2Color = 0, CapRecBarCode = 0, CapRecBitmap = 0, CapRecBold = 0;
    long CapRecItalic = 0, CapRecUnderline = 0, CapRecCartridgeSensor = 0, CapRecColor = 0, CapRecDhigh = 0;
    long CapRecDwide = 0, CapRecDwideDhigh = 0, CapRecEmptySensor = 0, CapRecNearEndSensor = 0;
    long CapRecMarkFeed = 0, CapRecPapercut = 0, CapRecLeft90 = 0, CapRecRight90 = 0, CapRecRotate180 = 0;
    long CapRecStamp = 0;
    long CharacterSet = 0;
    long RecLineChars = 0, RecLineHeight = 0, RecLineSpacing = 0, RecLineWidth = 0;
    long RecSidewaysMaxLines = 0, RecSidewaysMaxChars = 0, RecLinesToPaperCut = 0;
    long RecLineSpacingDots = 0, RecLineWidthDots = 0;
    long CapConcurrentPageMode = 0, CapMapCharacterSet = 0, CapRecPageMode = 0, MapCharacterSet = 0;
    CString PageModeArea, PageModePrintArea;
    long PageModeDescriptor = 0, PageModeHorizontalPosition = 0, PageModePrintDirection = 0;
    long PageModeStation = 0, PageModeVerticalPosition = 0;
    int InternationalCharSet = 0;
    long LinecharsNormal = 0, LinecharsCompressed = 0, DotsPerNormalChar = 0, DotsPerCompressedChar = 0;
    long DotsPerNormalCharHeight = 0, DotsPerCompressedCharHeight = 0;
    long DpiHigh = 0, DpiWidth = 0;
    long DirectIOPredefine = 1, DirectIOOutput = 0, DirectIOCheckStatus = 0, DirectIOCheckStatusSue = 0;
    long DirectIOInternationalChar = 0;
    long BmAsis = 0, BarHigh = 0;
    long ImageMagnification = 100;
    CString CheckHealthText = "Not Excuted";
    std::vector<CString> CustomCommands;
    int UsePre = 0;

private:
    void Info(const char* format, ...);
    void Error(const char* format, ...);
    void Line(int level, const char* format, va_list args);
    void SetPortName(const CString& name);
    void Setter(ConfigSetterCall::Kind kind, int number, const CString& text = CString());

    LogFn m_log;
    CString m_infPath;
    CString m_infFolder;
};
