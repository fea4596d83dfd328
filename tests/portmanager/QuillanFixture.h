// A fresh Quillan per test with the recording transports in its four slots, an isolated HKLM
// and an install folder; the calls that reach the transports are read back from a file.
#pragma once

#include "QuillanClient.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#define SERVICEINFO "Software\\OLEforRetail\\ServiceInfo\\VESK OPOS"
#define POSPRINTER_KEY "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\"

class QuillanTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_reg.reset(new CTestRegistry);
        m_folder.reset(new CTempFolder);
        m_recFile = m_folder->File("calls.txt");
        SetEnvironmentVariableA("VESK_REC_FILE", m_recFile.c_str());
        SetEnvironmentVariableA("VESK_REC_OPEN", nullptr);
        SetEnvironmentVariableA("VESK_REC_CREATE_EVENT_usb", nullptr);
        m_reg->WriteServiceInfo(m_folder->Path());
        for (const char* kind : {"com", "lpt", "usb", "net"})
            m_reg->SetString(SERVICEINFO, (std::string(kind) + "dir").c_str(), RecDll(kind).c_str());
        ASSERT_TRUE(q.Load(WinPath(QUILLAN_PATH)));
    }

    void TearDown() override
    {
        if (q.Loaded()) {
            EXPECT_EQ(q.FreeChildDll(), 0) << "a test left port records behind";
            q.Unload();
        }
        SetEnvironmentVariableA("VESK_REC_FILE", nullptr);
        m_folder.reset();
        m_reg.reset();
    }

    static std::string RecDll(const char* kind) { return TestBinDir() + "\\rec_" + kind + ".dll"; }

    std::vector<std::string> Calls() const
    {
        std::vector<std::string> lines;
        std::string all = ReadWholeFile(m_recFile);
        size_t start = 0;
        while (start < all.size()) {
            size_t nl = all.find('\n', start);
            if (nl == std::string::npos)
                nl = all.size();
            lines.push_back(all.substr(start, nl - start));
            start = nl + 1;
        }
        return lines;
    }

    int Count(const std::string& needle) const
    {
        int n = 0;
        for (const std::string& l : Calls())
            n += l.find(needle) != std::string::npos;
        return n;
    }

    // Index of the first call line containing needle, -1 when none.
    int IndexOf(const std::string& needle) const
    {
        std::vector<std::string> lines = Calls();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(needle) != std::string::npos)
                return int(i);
        return -1;
    }

    // A label printer device key whose model INF lies in the install folder, with its log values
    // and the [SPECIAL] keys of setup_label.inf.
    void Device(const char* name, DWORD log, int portLog, DWORD binary, int encLog)
    {
        std::string key = std::string(POSPRINTER_KEY) + name;
        m_reg->SetString(key.c_str(), "inf", m_folder->File("lbprn.inf").c_str());
        m_reg->SetDWORD(key.c_str(), "Log", log);
        m_reg->SetDWORD(key.c_str(), "Binary", binary);
        m_folder->Write("setup_label.inf", "[SPECIAL]\r\nPortLog=" + std::to_string(portLog) +
                                               "\r\nEncLog=" + std::to_string(encLog) + "\r\n");
    }

    // Quillan's own log, "" when it wrote none.
    std::string QlnLog() const
    {
        for (const std::string& n : m_folder->List("Log"))
            if (n.compare(0, 6, "d_Qln_") == 0)
                return m_folder->Read("Log\\" + n);
        return std::string();
    }

    std::unique_ptr<CTestRegistry> m_reg;
    std::unique_ptr<CTempFolder> m_folder;
    std::string m_recFile;
    QuillanClient q;
};
