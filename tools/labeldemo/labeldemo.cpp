// labeldemo: an OPOS application printing labels. It creates the POSPrinter Control Object by
// its published class id, which creates the Service Object that the device key names, and calls
// it only through its dispatch interface, by member name, as any automation client does:
// Open, ClaimDevice, DeviceEnabled, one label with text, a barcode, a QR code, a box and a
// bitmap printed synchronously, a batch printed with AsyncMode on (waiting for each
// OutputCompleteEvent), CheckHealth, then DeviceEnabled off, ReleaseDevice and Close. It prints
// every call with its result and every event with its arguments.
//
//   labeldemo.exe <device name> [batch labels]
//
// Exit code 0 when every call succeeded and every queued label was reported complete.
#include "TestCoControls.h"

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// {CCB90152-B81E-11D2-AB74-0040054C3719}: the published POSPrinter Control Object.
const CLSID kPosPrinterClass = {0xCCB90152, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};
const long kStation = 2;  // the receipt station: the label
const long kBmAsIs = -11, kCentre = -2, kTextNone = -11, kTextBelow = -13;
const long kCode128 = 110, kQrCode = 204;
const long kErrorClear = 12;
const DWORD kEventWaitMs = 60000;

std::string Narrow(const wchar_t* w)
{
    if (!w)
        return std::string();
    char buf[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, w, -1, buf, sizeof buf, nullptr, nullptr);
    return buf;
}

// Text as it is shown in a call line: escapes and line ends made visible.
std::string Shown(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\x1b')
            out += "ESC";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

void Say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::fflush(stdout);
}

// The events the Control Object fires, printed as they come and counted.
class EventSink final : public IDispatch
{
public:
    int outputComplete = 0;
    int errors = 0;
    int total = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, DIID_TestCoPOSPrinterEvents)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(InterlockedDecrement(&m_refs)); }  // on the stack
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override
    {
        if (n)
            *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        UINT n = p ? p->cArgs : 0;
        // The argument i of the event, in its own order.
        auto arg = [&](UINT i) -> VARIANT* { return i < n ? &p->rgvarg[n - 1 - i] : nullptr; };
        auto num = [&](UINT i) -> long {
            VARIANT* v = arg(i);
            if (!v)
                return 0;
            if (v->vt == (VT_BYREF | VT_I4))
                return v->plVal ? *v->plVal : 0;
            return v->vt == VT_I4 ? v->lVal : 0;
        };
        ++total;
        switch (id) {
        case kEventOutputComplete:
            ++outputComplete;
            Say("   event OutputCompleteEvent(OutputID=%ld)\n", num(0));
            break;
        case kEventStatusUpdate:
            Say("   event StatusUpdateEvent(Data=%ld)\n", num(0));
            break;
        case kEventError: {
            ++errors;
            Say("   event ErrorEvent(ResultCode=%ld %s, ResultCodeExtended=%ld, ErrorLocus=%ld, ErrorResponse=%ld)",
                num(0), OposResultName(num(0)), num(1), num(2), num(3));
            VARIANT* r = arg(3);
            if (r && r->vt == (VT_BYREF | VT_I4) && r->plVal) {
                *r->plVal = kErrorClear;  // a demonstration does not retry: the queued labels go
                Say(" -> answered %ld (clear)", kErrorClear);
            }
            Say("\n");
            break;
        }
        case kEventDirectIO: {
            VARIANT* s = arg(2);
            std::string text = s && s->vt == (VT_BYREF | VT_BSTR) && s->pbstrVal ? Narrow(*s->pbstrVal) : "";
            Say("   event DirectIOEvent(EventNumber=%ld, Data=%ld, String=\"%s\")\n", num(0), num(1), text.c_str());
            break;
        }
        case kEventData:
            Say("   event DataEvent(Status=%ld)\n", num(0));
            break;
        default:
            Say("   event %ld with %u arguments\n", long(id), n);
            break;
        }
        return S_OK;
    }

private:
    LONG m_refs = 1;
};

// Events come in through this thread's message queue.
void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Pumps messages until done() holds or the bound has passed; returns done().
template <class F>
bool PumpUntil(F done, DWORD boundMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        Pump();
        if (done())
            return true;
        DWORD spent = GetTickCount() - start;
        if (spent >= boundMs)
            return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, boundMs - spent < 100 ? boundMs - spent : 100, QS_ALLINPUT);
    }
}

// One argument of a call, with the text it is shown as.
struct Arg
{
    VARIANT v;
    std::string shown;
};
Arg Num(long n)
{
    Arg a;
    VariantInit(&a.v);
    a.v.vt = VT_I4;
    a.v.lVal = n;
    a.shown = std::to_string(n);
    return a;
}
Arg Text(const std::string& s)
{
    Arg a;
    VariantInit(&a.v);
    a.v.vt = VT_BSTR;
    std::vector<wchar_t> w(s.size() + 1);
    MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w.data(), int(w.size()));
    a.v.bstrVal = SysAllocString(w.data());
    a.shown = "\"" + Shown(s) + "\"";
    return a;
}
Arg Bool(bool b)
{
    Arg a;
    VariantInit(&a.v);
    a.v.vt = VT_BOOL;
    a.v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    a.shown = b ? "TRUE" : "FALSE";
    return a;
}

// The Control Object through IDispatch: member ids by name, calls with the OPOS result shown.
class PosPrinter
{
public:
    explicit PosPrinter(IDispatch* d) : m_d(d) {}
    int failures = 0;

    // A method with a long result; every result but 0 counts as a failure.
    long Call(const char* name, std::vector<Arg> args) { return CallAs(name, std::move(args), true); }
    long CallAs(const char* name, std::vector<Arg> args, bool mustSucceed)
    {
        std::string shown;
        for (size_t i = 0; i < args.size(); ++i)
            shown += (i ? ", " : "") + args[i].shown;
        VARIANT r;
        HRESULT hr = Invoke(name, DISPATCH_METHOD, args, &r);
        long rc = r.vt == VT_I4 ? r.lVal : -1;
        if (FAILED(hr)) {
            Say("   %s(%s): the call failed, hr 0x%08lx\n", name, shown.c_str(), static_cast<unsigned long>(hr));
            ++failures;
        } else {
            Say("   %s(%s) = %ld (%s)\n", name, shown.c_str(), rc, OposResultName(rc));
            if (rc != 0 && mustSucceed)
                ++failures;
        }
        VariantClear(&r);
        Pump();
        return FAILED(hr) ? -1 : rc;
    }
    // A property put; its outcome is the ResultCode read back.
    long Put(const char* name, Arg value)
    {
        std::vector<Arg> args;
        args.push_back(value);
        HRESULT hr = Invoke(name, DISPATCH_PROPERTYPUT, args, nullptr);
        if (FAILED(hr)) {
            Say("   %s = %s: the call failed, hr 0x%08lx\n", name, value.shown.c_str(), static_cast<unsigned long>(hr));
            ++failures;
            return -1;
        }
        long rc = GetNumber("ResultCode");
        Say("   %s = %s: ResultCode %ld (%s)\n", name, value.shown.c_str(), rc, OposResultName(rc));
        if (rc != 0)
            ++failures;
        Pump();
        return rc;
    }
    long GetNumber(const char* name)
    {
        VARIANT r;
        std::vector<Arg> none;
        if (FAILED(Invoke(name, DISPATCH_PROPERTYGET, none, &r)))
            return -1;
        long n = r.vt == VT_I4 ? r.lVal : r.vt == VT_BOOL ? (r.boolVal ? 1 : 0) : -1;
        VariantClear(&r);
        return n;
    }
    std::string GetText(const char* name)
    {
        VARIANT r;
        std::vector<Arg> none;
        std::string s = "?";
        if (SUCCEEDED(Invoke(name, DISPATCH_PROPERTYGET, none, &r)) && r.vt == VT_BSTR)
            s = Narrow(r.bstrVal);
        VariantClear(&r);
        return s;
    }

private:
    HRESULT Invoke(const char* name, WORD kind, std::vector<Arg>& args, VARIANT* result)
    {
        if (result)
            VariantInit(result);
        std::vector<wchar_t> w(strlen(name) + 1);
        MultiByteToWideChar(CP_ACP, 0, name, -1, w.data(), int(w.size()));
        LPOLESTR names[1] = {w.data()};
        DISPID id = DISPID_UNKNOWN;
        HRESULT hr = m_d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (SUCCEEDED(hr)) {
            std::vector<VARIANT> rg(args.size() + 1);
            for (size_t i = 0; i < args.size(); ++i)
                rg[args.size() - 1 - i] = args[i].v;  // last to first
            DISPID put = DISPID_PROPERTYPUT;
            DISPPARAMS dp = {args.empty() ? nullptr : rg.data(), kind == DISPATCH_PROPERTYPUT ? &put : nullptr,
                             UINT(args.size()), kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
            EXCEPINFO ex = {};
            UINT argErr = 0;
            hr = m_d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &dp, result, &ex, &argErr);
        }
        for (Arg& a : args)
            VariantClear(&a.v);
        return hr;
    }

    IDispatch* m_d;
};

// A 24-bit BMP of w x h pixels: a black frame and a black diagonal cross on white.
bool WriteBitmap(const std::string& path, int w, int h)
{
    int stride = (w * 3 + 3) / 4 * 4;
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    ih.biSize = sizeof ih;
    ih.biWidth = w;
    ih.biHeight = h;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    ih.biCompression = BI_RGB;
    ih.biSizeImage = DWORD(stride * h);
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + ih.biSizeImage;
    std::vector<unsigned char> pixels(size_t(stride) * size_t(h), 0xFF);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool frame = x < 4 || y < 4 || x >= w - 4 || y >= h - 4;
            int dx = x * h / w;
            bool cross = std::abs(dx - y) < 3 || std::abs(dx - (h - 1 - y)) < 3;
            if (frame || cross)
                for (int c = 0; c < 3; ++c)
                    pixels[size_t(y) * size_t(stride) + size_t(x) * 3 + size_t(c)] = 0;
        }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(&fh, sizeof fh, 1, f) == 1 && std::fwrite(&ih, sizeof ih, 1, f) == 1 &&
              std::fwrite(pixels.data(), pixels.size(), 1, f) == 1;
    return std::fclose(f) == 0 && ok;
}

std::string ServerPath()
{
    wchar_t* text = nullptr;
    std::string path = "(unknown)";
    if (SUCCEEDED(StringFromCLSID(kPosPrinterClass, &text))) {
        std::string key = "CLSID\\" + Narrow(text) + "\\InprocServer32";
        char buf[MAX_PATH] = "";
        LONG size = sizeof buf;
        if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), buf, &size) == ERROR_SUCCESS)
            path = buf;
        CoTaskMemFree(text);
    }
    return path;
}

int Run(const char* device, int batch)
{
    IDispatch* disp = nullptr;
    HRESULT hr = CoCreateInstance(kPosPrinterClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&disp));
    if (FAILED(hr)) {
        Say("labeldemo: no POSPrinter Control Object {CCB90152-B81E-11D2-AB74-0040054C3719} (hr 0x%08lx)\n",
            static_cast<unsigned long>(hr));
        return 1;
    }
    Say("labeldemo: POSPrinter Control Object {CCB90152-B81E-11D2-AB74-0040054C3719} from %s\n", ServerPath().c_str());

    EventSink sink;
    IConnectionPoint* cp = nullptr;
    DWORD cookie = 0;
    IConnectionPointContainer* cpc = nullptr;
    if (SUCCEEDED(disp->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)))) {
        if (SUCCEEDED(cpc->FindConnectionPoint(DIID_TestCoPOSPrinterEvents, &cp)) && FAILED(cp->Advise(&sink, &cookie))) {
            cp->Release();
            cp = nullptr;
        }
        cpc->Release();
    }
    Say("labeldemo: events %s\n", cp ? "connected" : "NOT connected (the Control Object has no events interface)");

    PosPrinter ptr(disp);
    Say("\n-- open, claim, enable\n");
    long rc = ptr.Call("Open", {Text(device)});
    if (rc == 0) {
        Say("   DeviceDescription \"%s\", ServiceObjectDescription \"%s\", ServiceObjectVersion %ld\n",
            ptr.GetText("DeviceDescription").c_str(), ptr.GetText("ServiceObjectDescription").c_str(),
            ptr.GetNumber("ServiceObjectVersion"));
        ptr.Call("ClaimDevice", {Num(3000)});
        ptr.Put("DeviceEnabled", Bool(true));
        Say("   PowerState %ld, State %ld\n", ptr.GetNumber("PowerState"), ptr.GetNumber("State"));

        Say("\n-- one label, synchronously: text, a barcode, a QR code, a box and a bitmap\n");
        char tmp[MAX_PATH] = "";
        GetTempPathA(sizeof tmp, tmp);
        std::string bmp = std::string(tmp) + "labeldemo.bmp";
        if (WriteBitmap(bmp, 96, 64))
            Say("   wrote %s (96 x 64, 24-bit)\n", bmp.c_str());
        else
            Say("   could not write %s\n", bmp.c_str());
        ptr.Put("AsyncMode", Bool(false));
        ptr.Call("PrintNormal", {Num(kStation), Text("\x1b|cA\x1b|bCVESK label demonstration\n")});
        ptr.Call("PrintNormal", {Num(kStation), Text("Item 0001  Blue widget  2 pcs\n")});
        ptr.Call("PrintBarCode", {Num(kStation), Text("VESK-0001"), Num(kCode128), Num(60), Num(300), Num(kCentre),
                                  Num(kTextBelow)});
        ptr.Call("PrintBarCode", {Num(kStation), Text("https://example.com/"), Num(kQrCode), Num(200), Num(200),
                                  Num(kCentre), Num(kTextNone)});
        ptr.Call("PrintBitmap", {Num(kStation), Text(bmp), Num(kBmAsIs), Num(kCentre)});
        // The box last: its corners are explicit positions, which would hold for what follows.
        ptr.Call("PrintNormal", {Num(kStation), Text("\x1b|16xP\x1b|16yP\x1b|796xeP\x1b|120yeP\x1b|1bD")});
        ptr.Call("MarkFeed", {Num(1)});

        Say("\n-- %d labels, asynchronously\n", batch);
        ptr.Put("AsyncMode", Bool(true));
        int queued = 0;
        for (int i = 1; i <= batch; ++i) {
            char line[64], code[16];
            std::snprintf(line, sizeof line, "Batch label %d of %d\n", i, batch);
            std::snprintf(code, sizeof code, "VESK-B%03d", i);
            ptr.Call("PrintNormal", {Num(kStation), Text(line)});
            ptr.Call("PrintBarCode", {Num(kStation), Text(code), Num(kCode128), Num(50), Num(250), Num(kCentre),
                                      Num(kTextBelow)});
            if (ptr.Call("MarkFeed", {Num(1)}) == 0) {
                ++queued;
                Say("   OutputID %ld\n", ptr.GetNumber("OutputID"));
            }
        }
        Say("   waiting for %d OutputCompleteEvents\n", queued);
        // An ErrorEvent answered with clear ends the queue: no more completions come after it.
        PumpUntil([&] { return sink.outputComplete >= queued || sink.errors > 0; }, kEventWaitMs);
        bool all = sink.outputComplete >= queued;
        Say("   %d of %d labels reported complete%s\n", sink.outputComplete, queued, all ? "" : ": MISSING");
        if (!all)
            ++ptr.failures;
        ptr.Put("AsyncMode", Bool(false));

        Say("\n-- health\n");
        ptr.Call("CheckHealth", {Num(1)});
        Say("   CheckHealthText \"%s\"\n", ptr.GetText("CheckHealthText").c_str());

        Say("\n-- disable, release, close\n");
        ptr.Put("DeviceEnabled", Bool(false));
        ptr.Call("ReleaseDevice", {});
        DeleteFileA(bmp.c_str());
    }
    ptr.Call("Close", {});
    Pump();
    if (cp) {
        cp->Unadvise(cookie);
        cp->Release();
    }
    disp->Release();
    Say("\nlabeldemo: %d events received; %d call%s failed\n", sink.total, ptr.failures,
        ptr.failures == 1 ? "" : "s");
    return ptr.failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: labeldemo.exe <device name> [batch labels]\n");
        return 2;
    }
    int batch = argc > 2 ? std::atoi(argv[2]) : 5;
    if (batch < 0 || batch > 1000) {
        std::fprintf(stderr, "labeldemo: batch labels must be 0..1000\n");
        return 2;
    }
    if (FAILED(CoInitialize(nullptr))) {
        std::fprintf(stderr, "labeldemo: CoInitialize failed\n");
        return 1;
    }
    int rc = Run(argv[1], batch);
    CoUninitialize();
    return rc;
}
