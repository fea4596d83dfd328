// qlndemo: prints labels through the port manager the way the label printer service object
// does: Quillan loaded by the path the installer registered, the transports loaded by Quillan,
// one port created for a label printer device key, its settings handed over, opened, a status
// request answered, labels written in output-size chunks, and everything released again.
//
//   qlndemo.exe <device name> [labels]
//
// The device key is HKLM\Software\OLEforRetail\ServiceOPOS\POSPrinter\<device name> (as the
// setup utility writes it). Exit code 0 when every step worked.
#include "DeviceOption.h"
#include "PortManagerApi.h"
#include "Registry.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {


struct Quillan : QlnApi
{
    HMODULE module = nullptr;
    FnSetDeviceOption SetDeviceOption = nullptr;
    FnOpenPort OpenPort = nullptr;
    FnClosePort ClosePort = nullptr;
    FnRead Read = nullptr;
    FnIdDev ReadAvailable = nullptr;
    FnWrite Write = nullptr;
    FnClear Clear = nullptr;
    FnIdDev IsPowerState = nullptr;
    FnGetASBState GetASBState = nullptr;
    FnCreatePort CreatePort = nullptr;
    FnRemovePort RemovePort = nullptr;
    FnNoArgs FreeChildDll = nullptr;
    FnNoArgs LoadChildDll = nullptr;
    FnSetWrite SetWrite = nullptr;
};

template <class T>
void Bind(HMODULE m, const char* name, T& fn)
{
    fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

const DWORD kLabel = 32;  // DevType of the label printer

bool LoadQuillan(Quillan& q, CString& path)
{
    CRegistry reg(HKEY_LOCAL_MACHINE);
    reg.GetString(VESK_SERVICEINFO_KEY, "qlnadir", path);
    if (path.IsEmpty())
        reg.GetString(VESK_SERVICEINFO_KEY, "qlndir", path);
    if (path.IsEmpty()) {
        std::printf("no qlnadir or qlndir under HKLM\\%s: is the driver set installed?\n", VESK_SERVICEINFO_KEY);
        return false;
    }
    q.module = LoadLibraryA(path);
    if (!q.module) {
        std::printf("cannot load %s (error %lu)\n", path.GetString(), GetLastError());
        return false;
    }
    Bind(q.module, "SetDeviceOption", q.SetDeviceOption);
    Bind(q.module, "OpenPort", q.OpenPort);
    Bind(q.module, "ClosePort", q.ClosePort);
    Bind(q.module, "Read", q.Read);
    Bind(q.module, "ReadAvailable", q.ReadAvailable);
    Bind(q.module, "Write", q.Write);
    Bind(q.module, "Clear", q.Clear);
    Bind(q.module, "IsPowerState", q.IsPowerState);
    Bind(q.module, "GetASBState", q.GetASBState);
    Bind(q.module, "CreatePort", q.CreatePort);
    Bind(q.module, "RemovePort", q.RemovePort);
    Bind(q.module, "FreeChildDll", q.FreeChildDll);
    Bind(q.module, "LoadChildDll", q.LoadChildDll);
    Bind(q.module, "SetWrite", q.SetWrite);
    if (!q.SetDeviceOption || !q.OpenPort || !q.ClosePort || !q.Read || !q.ReadAvailable || !q.Write || !q.Clear ||
        !q.IsPowerState || !q.GetASBState || !q.FreeChildDll || !q.LoadChildDll || !q.CreatePort || !q.RemovePort) {
        std::printf("%s lacks port manager exports\n", path.GetString());
        return false;
    }
    return true;
}

CString RegText(CRegistry& reg, const CString& key, const char* name, const char* def)
{
    CString v(def);
    reg.GetString(key, name, v);
    return v;
}

// The port settings of the device key, filled as the service object fills them.
bool ReadDevice(const char* device, DeviceOption& dop, CString& port)
{
    CRegistry reg(HKEY_LOCAL_MACHINE);
    CString key = CString(VESK_SERVICEOPOS_KEY "\\POSPrinter\\") + device;
    memset(&dop, 0, sizeof dop);
    port = RegText(reg, key, "Port", "");
    if (port.IsEmpty()) {
        std::printf("device key HKLM\\%s has no Port value\n", key.GetString());
        return false;
    }
    dop.dwInBufSize = DWORD(atoi(RegText(reg, key, "InputBuf", "4096")));
    dop.dwOutBufSize = DWORD(atoi(RegText(reg, key, "OutputBuf", "4096")));
    if (port.Left(3) == "COM") {
        dop.dwReadIntervalTimeout = 2;
        dop.dwReadTotalTimeoutMultiplier = 0;
        dop.dwReadTotalTimeoutConstant = 50;
        dop.dwWriteTotalTimeoutMultiplier = 10;
        dop.dwWriteTotalTimeoutConstant = 5000;
        dop.dwBaudRate = DWORD(atoi(RegText(reg, key, "BaudRate", "9600")));
        dop.dwByteSize = DWORD(atoi(RegText(reg, key, "BitLength", "8")));
        dop.dwParity = DWORD(atoi(RegText(reg, key, "Parity", "0")));
        dop.dwStopBits = DWORD(atoi(RegText(reg, key, "Stop", "0")));
        CString hs = RegText(reg, key, "HandShake", "CTS/RTS");
        dop.dwFlowControl = hs == "Xon/Xoff" ? 1 : hs == "None" ? 2 : 0;
        reg.GetDWORD(key, "UsingBT", dop.dwUsingBT);
    } else {
        port = RegText(reg, key, "TcpIp", "");
        DWORD tcpPort = 9100;
        reg.GetDWORD(key, "TcpPort", tcpPort);
        dop.dwBaudRate = tcpPort;
        reg.GetDWORD(key, "Wireless", dop.dwWireless);
        dop.dwTcpTimeout = 500;
        dop.dwConnTimeout = 1000;
        dop.dwConnRetryCount = 3;
    }
    dop.strPortName = const_cast<char*>(port.GetString());
    return true;
}

// A label as the label command builder lays it out: setup lines ending with "CUTn", the body, "P1".
std::string SampleLabel(int n, const CString& port)
{
    char body[512];
    std::snprintf(body, sizeof body,
                  "T26,20,3,1,1,0,0,N,N,F,'VESK OPOS demo label %d'\r\n"
                  "T26,60,3,1,1,0,0,N,N,F,'printed through Quillan on %s'\r\n"
                  "B126,110,1,2,5,80,0,0,'VESK-%04d'\r\n"
                  "BD10,10,800,400,O\r\n",
                  n, port.GetString(), n);
    return std::string("SL406,24,G,0\r\nSW812\r\nSTd\r\nSM10,0\r\nSS4\r\nSD8\r\nSOT\r\nSA0\r\nTA0\r\nCS0,0\r\nCUTn\r\n") +
           body + "P1\r\n";
}

// The service object's status request: "^cu\r\n", one answer byte within 5000 ms.
int StatusRequest(Quillan& q, int id)
{
    static const char req[] = "^cu\r\n";
    q.Clear(id, kLabel);
    if (q.Write(reinterpret_cast<const BYTE*>(req), 5, id, kLabel) != 5)
        return -1;
    DWORD start = GetTickCount();
    while (q.ReadAvailable(id, kLabel) == 0 && GetTickCount() - start < 5000)
        Sleep(30);
    BYTE answer = 0;
    return q.Read(&answer, 1, 5000, id, kLabel) == 1 ? answer : -1;
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2) {
        std::printf("usage: qlndemo <device name> [labels]\n");
        return 2;
    }
    const char* device = argv[1];
    int labels = argc > 2 ? atoi(argv[2]) : 2;
    if (labels < 1)
        labels = 1;

    Quillan q;
    CString path;
    if (!LoadQuillan(q, path))
        return 1;
    std::printf("Quillan        %s\n", path.GetString());
    std::printf("LoadChildDll   %d\n", q.LoadChildDll());

    DeviceOption dop;
    CString port;
    if (!ReadDevice(device, dop, port))
        return 1;
    CString dev(device);
    int id = q.CreatePort(dev.AddRefHandle(), port.AddRefHandle(), kLabel);
    std::printf("CreatePort     (%s, %s, %lu) = %d\n", device, port.GetString(), (unsigned long)kLabel, id);
    if (id == 0)
        return 1;

    bool ok = true;
    int r = q.SetDeviceOption(DeviceOptionCopy(dop), id, kLabel);
    std::printf("SetDeviceOption %d  (baud/TCP port %lu, output size %lu)\n", r, (unsigned long)dop.dwBaudRate,
                (unsigned long)dop.dwOutBufSize);
    ok = r != 0;
    if (ok) {
        r = q.OpenPort(id, kLabel);
        std::printf("OpenPort       %d\n", r);
        ok = r != 0;
    }
    if (ok) {
        int status = StatusRequest(q, id);
        std::printf("status         %s0x%02x\n", status < 0 ? "no answer " : "", status < 0 ? 0 : status);
        ok = status >= 0;
        DWORD chunk = dop.dwOutBufSize ? dop.dwOutBufSize : 4096;
        for (int n = 1; ok && n <= labels; ++n) {
            std::string label = SampleLabel(n, port);
            size_t sent = 0;
            while (sent < label.size()) {
                DWORD len = DWORD(label.size() - sent) < chunk ? DWORD(label.size() - sent) : chunk;
                int w = q.Write(reinterpret_cast<const BYTE*>(label.data() + sent), len, id, kLabel);
                if (w <= 0)
                    break;
                sent += size_t(w);
            }
            std::printf("label %-8d %u of %u bytes written\n", n, unsigned(sent), unsigned(label.size()));
            ok = sent == label.size();
        }
        int after = StatusRequest(q, id);
        std::printf("status         %s0x%02x\n", after < 0 ? "no answer " : "", after < 0 ? 0 : after);
        ok = ok && after >= 0;
        std::printf("power state    %d\n", q.IsPowerState(id, kLabel));
        q.ClosePort(id, kLabel);
        std::printf("ClosePort\n");
    }
    std::printf("RemovePort     %d\n", q.RemovePort(kLabel, id));
    std::printf("FreeChildDll   %d\n", q.FreeChildDll());
    FreeLibrary(q.module);
    std::printf("%s\n", ok ? "done" : "FAILED");
    return ok ? 0 : 1;
}
