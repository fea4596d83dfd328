// A label printer object made in the test process (not through COM), opened on the world's
// device LP1 with a test Control Object for its callbacks, claimed and enabled: the tests reach
// its output path and its members directly.
#pragma once

#include "LABELPrinter.h"
#include "OposConst.h"
#include "SoTestKit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A claimed and enabled device (OutputBuf as given, paper 800 x 600 dots of the media given).
struct Device
{
    explicit Device(CSoWorld& world, bool async = false, const char* outputBuf = "16", const char* paperType = "G",
                    bool keyPaper = true)
        : w(world)
    {
        const char* key = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\LP1";
        w.reg.SetString(key, "OutputBuf", outputBuf);
        if (keyPaper) {
            w.reg.SetDWORD(key, "PaperWidth", 800);
            w.reg.SetDWORD(key, "PaperLength", 600);
        }
        w.reg.SetDWORD(key, "GapLength", 24);
        w.reg.SetString(key, "PrintType", "D");
        w.reg.SetString(key, "PaperType", paperType);
        w.reg.SetString(key, "Orientation", "T");
        co = w.NewControlObject();
        IDispatch* d = nullptr;
        co->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
        so = new CLABELPrinter;
        so->ExternalAddRef();
        open = so->OpenService("POSPrinter", "LP1", d);
        d->Release();  // the world keeps the Control Object
        if (open == 0)
            open = so->ClaimDevice(1000);
        if (open == 0) {
            so->SetPropertyNumber(3, 1);
            open = so->ResultCode;
        }
        so->SetPropertyNumber(8001, async);
        from = int(w.port.Calls().size());
    }
    ~Device()
    {
        so->Close();
        so->ExternalRelease();
    }
    // A job of one chunk (the object takes it over).
    long Print(const std::string& bytes, BOOL async)
    {
        CPrintDataList list;
        COPOSData* d = new COPOSData;
        d->Append(reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
        list.AddTail(d);
        so->P_PrintOrEnqueue(async, list);
        EXPECT_TRUE(list.IsEmpty());
        return so->ResultCode;
    }
    // A label of the device's builder with one text line, handed to the output path.
    long PrintText(const std::string& text, BOOL async)
    {
        so->m_builder.AddText(text.c_str());
        COPOSData* d = new COPOSData;
        so->m_builder.BuildLabel(*d);
        CPrintDataList list;
        list.AddTail(d);
        so->P_PrintOrEnqueue(async, list);
        return so->ResultCode;
    }
    // The calls made since the device was ready.
    std::vector<std::string> Calls(const std::string& prefix) const
    {
        std::vector<std::string> all = w.port.Calls(), out;
        for (size_t i = size_t(from); i < all.size(); ++i)
            if (all[i].compare(0, prefix.size(), prefix) == 0)
                out.push_back(all[i]);
        return out;
    }
    std::vector<TestCoEvent> Events(const char* name)
    {
        std::vector<TestCoEvent> out;
        TestCoEvent e;
        for (int i = 0; co->GetEvent(i, &e); ++i)
            if (std::string(e.name) == name)
                out.push_back(e);
        return out;
    }
    std::vector<long> Completed()
    {
        std::vector<long> ids;
        for (const TestCoEvent& e : Events("SOOutputComplete"))
            ids.push_back(e.args[0]);
        return ids;
    }
    // Pumps until the Control Object has seen n callbacks of this name.
    bool WaitFor(const char* name, size_t n, DWORD ms = 60000)
    {
        DWORD start = GetTickCount();
        while (Events(name).size() < n) {
            if (GetTickCount() - start > ms)
                return false;
            co->WaitForEvents(1 << 20, 50);
        }
        return true;
    }
    bool WaitIdle(DWORD ms = 60000)
    {
        DWORD start = GetTickCount();
        while (so->QueuedJobs() || so->JobsInProgress() || so->State != OPOS_S_IDLE) {
            if (GetTickCount() - start > ms)
                return false;
            co->WaitForEvents(1 << 20, 50);
        }
        return true;
    }
    // Pumps until the newest callback of this name carries the value.
    bool WaitForValue(const char* name, long value, DWORD ms = 60000)
    {
        DWORD start = GetTickCount();
        for (;;) {
            std::vector<TestCoEvent> e = Events(name);
            if (!e.empty() && e.back().args[0] == value)
                return true;
            if (GetTickCount() - start > ms)
                return false;
            co->WaitForEvents(1 << 20, 50);
        }
    }
    std::string Written() const { return w.port.Written().substr(written0); }

    CSoWorld& w;
    ITestControlObject* co = nullptr;
    CLABELPrinter* so = nullptr;
    long open = -1;
    int from = 0;
    size_t written0 = 0;
};

