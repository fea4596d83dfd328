// The USB device list over scripted sockets and real pipe devices.
#include "PipeDevice.h"
#include "RegistUsb.h"

#include <gtest/gtest.h>

namespace {

std::string Upper(std::string s)
{
    for (auto& c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return s;
}

TEST(RegistUsb, NamesOrdinalsAndIdsOfTheDevicesThatOpen)
{
    // Lower-case ids, as an INF or a driver may spell them: the list upper-cases paths and ids.
    CPipeDevice a(UsbPipeName("04b8", "0e2a", "s1"));
    CPipeDevice b(UsbPipeName("1234", "5678", "s2"));
    CPipeDevice c(UsbPipeName("04b8", "0e2a", "s3"));
    std::string gone = UsbPipeName("04b8", "0e2a", "nobody");  // listed by the system, not openable
    CScriptedUsbSource source;
    source.Set({a.Name(), gone, b.Name(), "", c.Name()});

    CRegistUsb list(&source);
    ASSERT_EQ(3, list.EnumerateUsbDevices());
    ASSERT_EQ(3, list.GetCount());

    UsbDeviceEntry* e0 = list.GetDeviceAt(0);
    UsbDeviceEntry* e1 = list.GetDeviceAt(1);
    UsbDeviceEntry* e2 = list.GetDeviceAt(2);
    ASSERT_TRUE(e0 && e1 && e2);
    EXPECT_STREQ("USB001:", e0->strUsbName);
    EXPECT_STREQ("USB002:", e1->strUsbName);
    EXPECT_STREQ("USB003:", e2->strUsbName);
    EXPECT_EQ(Upper(a.Name()), e0->strDevicePath.GetString());
    EXPECT_EQ(Upper(c.Name()), e2->strDevicePath.GetString());
    EXPECT_STREQ("04B8", e0->strVid);
    EXPECT_STREQ("0E2A", e0->strPid);
    EXPECT_STREQ("5678", e1->strPid);
    // Ordinals count per product id in list order.
    EXPECT_EQ(1, e0->nOrdinal);
    EXPECT_EQ(1, e1->nOrdinal);
    EXPECT_EQ(2, e2->nOrdinal);

    EXPECT_EQ(nullptr, list.GetDeviceAt(-1));
    EXPECT_EQ(nullptr, list.GetDeviceAt(3));
    EXPECT_EQ(e1, list.FindDeviceByName("USB002:"));
    EXPECT_EQ(nullptr, list.FindDeviceByName("usb002:"));
    EXPECT_EQ(nullptr, list.FindDeviceByName("USB004:"));

    // A fresh enumeration replaces the list.
    source.Set({b.Name()});
    ASSERT_EQ(1, list.EnumerateUsbDevices());
    EXPECT_STREQ("USB001:", list.GetDeviceAt(0)->strUsbName);
    EXPECT_EQ(1, list.GetDeviceAt(0)->nOrdinal);
    source.Set({});
    EXPECT_EQ(0, list.EnumerateUsbDevices());
    EXPECT_EQ(nullptr, list.GetDeviceAt(0));
    EXPECT_EQ(nullptr, list.FindDeviceByName("USB001:"));
}

TEST(RegistUsb, ADeviceHeldOpenWithoutSharingIsNotListed)
{
    std::string name = UsbPipeName("1234", "5678", "excl");
    // A single-instance pipe whose one instance a program holds.
    HANDLE server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 64, 64, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    HANDLE holder = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    CScriptedUsbSource source;
    source.Set({name});
    CRegistUsb list(&source);
    EXPECT_EQ(0, list.EnumerateUsbDevices());
    CloseHandle(holder);
    CloseHandle(server);
}

TEST(RegistUsb, LaterBatchesAreWalkedOnlyWhileNothingOpened)
{
    CPipeDevice early(UsbPipeName("1234", "0001", "early"));
    CPipeDevice late(UsbPipeName("1234", "0002", "late"));
    std::vector<std::string> paths(140);  // unreadable interfaces
    paths[130] = late.Name();
    CScriptedUsbSource source;
    source.Set(paths);
    CRegistUsb list(&source);
    ASSERT_EQ(1, list.EnumerateUsbDevices());  // nothing in 0..127: the next batch is walked
    EXPECT_STREQ("0002", list.GetDeviceAt(0)->strPid);

    paths[3] = early.Name();
    source.Set(paths);
    ASSERT_EQ(1, list.EnumerateUsbDevices());  // found in the first batch: index 130 not looked at
    EXPECT_STREQ("0001", list.GetDeviceAt(0)->strPid);
}

TEST(RegistUsb, FindDevicePathByPathThenByProductIdAndRank)
{
    CPipeDevice a(UsbPipeName("1234", "5678", "a"));
    CPipeDevice other(UsbPipeName("1234", "9999", "o"));
    CPipeDevice b(UsbPipeName("1234", "5678", "b"));
    CScriptedUsbSource source;
    source.Set({a.Name(), other.Name(), b.Name()});
    CRegistUsb list(&source);
    ASSERT_EQ(3, list.EnumerateUsbDevices());

    UsbDeviceEntry key;
    key.strDevicePath = Upper(b.Name()).c_str();
    key.strPid = "5678";
    key.nOrdinal = 1;
    // The stored path is present: it wins over the rank.
    EXPECT_EQ(Upper(b.Name()), key.strDevicePath.GetString());
    EXPECT_EQ(Upper(b.Name()), list.FindDevicePath(key).GetString());

    // The stored path is gone (printer moved to another socket): product id and rank decide.
    key.strDevicePath = Upper(UsbPipeName("1234", "5678", "oldsocket")).c_str();
    key.nOrdinal = 1;
    EXPECT_EQ(Upper(a.Name()), list.FindDevicePath(key).GetString());
    key.nOrdinal = 2;
    EXPECT_EQ(Upper(b.Name()), list.FindDevicePath(key).GetString());
    key.nOrdinal = 3;  // more than present: the last of them
    EXPECT_EQ(Upper(b.Name()), list.FindDevicePath(key).GetString());
    key.strPid = "5678";
    key.nOrdinal = 0;
    EXPECT_TRUE(list.FindDevicePath(key).IsEmpty());
    // Product ids compare without regard to case (stored from an INF in lower case).
    key.strPid = "abcd";
    key.nOrdinal = 1;
    EXPECT_TRUE(list.FindDevicePath(key).IsEmpty());
    CPipeDevice lower(UsbPipeName("1234", "abcd", "l"));
    source.Set({a.Name(), lower.Name()});
    ASSERT_EQ(2, list.EnumerateUsbDevices());
    EXPECT_EQ(Upper(lower.Name()), list.FindDevicePath(key).GetString());

    // Nothing of that product present, though other devices are.
    key.strPid = "4321";
    EXPECT_TRUE(list.FindDevicePath(key).IsEmpty());
    // Nothing present at all.
    source.Set({});
    list.EnumerateUsbDevices();
    key.strDevicePath = Upper(a.Name()).c_str();
    key.strPid = "5678";
    EXPECT_TRUE(list.FindDevicePath(key).IsEmpty());
}

TEST(RegistUsb, TheVendorIdCountsWhereTheKeyHasOne)
{
    CPipeDevice mine(UsbPipeName("1234", "5678", "m"));
    CPipeDevice otherMaker(UsbPipeName("9999", "5678", "o"));
    CScriptedUsbSource source;
    source.Set({otherMaker.Name(), mine.Name()});
    CRegistUsb list(&source);
    ASSERT_EQ(2, list.EnumerateUsbDevices());
    const struct
    {
        const char* vid;
        int sameModel;
        std::string found;  // FindDevicePath by product id and rank 1
    } cases[] = {
        {"1234", 1, Upper(mine.Name())},
        {"9999", 1, Upper(otherMaker.Name())},
        {"4321", 0, ""},
        {"", 0, Upper(otherMaker.Name())},  // no vendor id in the key: the product id alone
    };
    for (const auto& c : cases) {
        UsbDeviceEntry key;
        key.strDevicePath = Upper(UsbPipeName("1234", "5678", "gone")).c_str();
        key.strPid = "5678";
        key.strVid = c.vid;
        key.nOrdinal = 1;
        CString first;
        EXPECT_EQ(c.sameModel, list.CountSameModel(key, &first)) << c.vid;
        if (c.sameModel == 1) {
            EXPECT_EQ(c.found, first.GetString()) << c.vid;
        }
        EXPECT_EQ(c.found, list.FindDevicePath(key).GetString()) << c.vid;
    }
    // A listed path is found whatever its case; an unlisted one is not.
    EXPECT_EQ(Upper(mine.Name()), list.ListedPath(mine.Name().c_str()).GetString());
    EXPECT_TRUE(list.ListedPath(UsbPipeName("1234", "5678", "gone").c_str()).IsEmpty());
}

TEST(RegistUsb, IdsAreCutAtTheirOffsets)
{
    EXPECT_STREQ("04B8", CRegistUsb::VidOfPath("\\\\?\\USB#VID_04B8&PID_0E2A#5&1A2B#{A5DCBF10}"));
    EXPECT_STREQ("0E2A", CRegistUsb::PidOfPath("\\\\?\\USB#VID_04B8&PID_0E2A#5&1A2B#{A5DCBF10}"));
    EXPECT_TRUE(CRegistUsb::PidOfPath("\\\\?\\USB#VID_04B8&P").IsEmpty());
    char text[] = "ab#Z9_xy";
    CRegistUsb::MakeUpper(text);
    EXPECT_STREQ("AB#Z9_XY", text);
}

}  // namespace
