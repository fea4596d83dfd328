// usb.dll through its exports, as the port manager binds it.
#include "DeviceOption.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

namespace {

typedef int(WINAPI* CreatePortFn)();
typedef int(WINAPI* DeletePortFn)(int);
typedef int(WINAPI* OpenPortFn)(int, DWORD);
typedef int(WINAPI* IsPowerStateFn)(int, DWORD);
typedef int(WINAPI* SetDeviceOptionFn)(int, DeviceOption, DWORD);

template <class F>
F Bind(HMODULE dll, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

TEST(UsbDll, ExportsIdsAndAnOpenWithoutDevice)
{
    HMODULE dll = LoadLibraryA((TestBinDir() + "\\usb.dll").c_str());
    ASSERT_TRUE(dll);
    for (const char* name : {"SetDeviceOption", "OpenPort", "ClosePort", "Read", "ReadAvailable", "Write", "Clear",
                             "IsPowerState", "GetASBState", "SetObject", "CreatePort", "CreatePort4Log", "DeletePort",
                             "SetWrite"})
        EXPECT_TRUE(GetProcAddress(dll, name)) << name;
    auto create = Bind<CreatePortFn>(dll, "CreatePort");
    auto remove = Bind<DeletePortFn>(dll, "DeletePort");
    auto open = Bind<OpenPortFn>(dll, "OpenPort");
    auto power = Bind<IsPowerStateFn>(dll, "IsPowerState");
    auto setopt = Bind<SetDeviceOptionFn>(dll, "SetDeviceOption");

    EXPECT_EQ(0, open(30000, DEVTYPE_LABEL));  // no port yet
    EXPECT_EQ(30000, create());
    EXPECT_EQ(30001, create());
    DeviceOption dop = {};
    EXPECT_EQ(0, setopt(30000, dop, DEVTYPE_LABEL));
    CString path = "\\\\?\\USB#VID_1234&PID_5678#NOTHERE#{A5DCBF10-6530-11D2-901F-00C04FB951ED}";
    dop.strPortName = path.AddRefHandle();
    EXPECT_EQ(1, setopt(30000, dop, DEVTYPE_LABEL));  // the export releases the record's reference
    EXPECT_EQ(2, path.GetRefCount());                 // the port keeps one
    // Wine has no USB device interfaces: the SetupAPI list is empty and the open fails.
    EXPECT_EQ(0, open(30000, DEVTYPE_LABEL));
    EXPECT_EQ(PS_OFFLINE, power(30000, DEVTYPE_LABEL));
    EXPECT_EQ(1, remove(30000));
    EXPECT_EQ(1, path.GetRefCount());
    EXPECT_EQ(1, remove(30001));
    EXPECT_EQ(30002, create());  // ids are never reused
    FreeLibrary(dll);
}

}  // namespace
