// The system module through the built library: TLOpen/TLClose, its info, the
// interface list and the registers behind its port.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CtiLibrary.h"

using namespace GenTL;
using TestSupport::CtiLibrary;

namespace {

class SystemModule : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GC_ERR_SUCCESS, cti.GCInitLib());
        ASSERT_EQ(GC_ERR_SUCCESS, cti.TLOpen(&system));
    }
    void TearDown() override { cti.GCCloseLib(); }

    uint32_t ReadRegister(uint64_t address) {
        uint32_t value = 0;
        size_t size = 4;
        EXPECT_EQ(GC_ERR_SUCCESS, cti.GCReadPort(system, address, &value, &size));
        return value;
    }
    std::string ReadString(uint64_t address, size_t size) {
        std::string text(size, '\0');
        EXPECT_EQ(GC_ERR_SUCCESS, cti.GCReadPort(system, address, &text[0], &size));
        return text.c_str();
    }

    CtiLibrary cti;
    TL_HANDLE system = nullptr;
};

TEST_F(SystemModule, OpenRefusesInUseAndNullArguments) {
    TL_HANDLE second = nullptr;
    EXPECT_EQ(GC_ERR_RESOURCE_IN_USE, cti.TLOpen(&second));
    EXPECT_EQ(nullptr, second);
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER, cti.TLOpen(nullptr));
    EXPECT_EQ("Specified phSystem is invalid: phSystem = 0x0000000000000000.", cti.LastErrorText());

    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLClose(system));
    // phSystem is an output only: a variable still holding the closed handle
    // (after TLClose, or GCCloseLib and GCInitLib) opens the system again.
    TL_HANDLE stale = system;
    EXPECT_EQ(GC_ERR_SUCCESS, cti.TLOpen(&stale));
    EXPECT_NE(nullptr, stale);
    TL_HANDLE again = stale;
    EXPECT_EQ(GC_ERR_RESOURCE_IN_USE, cti.TLOpen(&again));
    EXPECT_EQ(0u, cti.LastErrorText().find("Specified phSystem is in use: phSystem = 0x"));
    EXPECT_EQ(GC_ERR_SUCCESS, cti.TLClose(stale));
    ASSERT_EQ(GC_ERR_SUCCESS, cti.GCCloseLib());
    ASSERT_EQ(GC_ERR_SUCCESS, cti.GCInitLib());
    EXPECT_EQ(GC_ERR_SUCCESS, cti.TLOpen(&stale));
    system = stale;
}

TEST_F(SystemModule, CloseChecksTheOriginalHandle) {
    int notAModule = 0;
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.TLClose(nullptr));
    EXPECT_EQ("Specified hSystem is invalid: hSystem = 0x0000000000000000.", cti.LastErrorText());
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.TLClose(&notAModule));
    EXPECT_EQ(
        0u, cti.LastErrorText().find("Specified hSystem is not the original handle: hSystem = 0x"));
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLClose(system));
    // Closed: every system-level export fails its system check.
    uint32_t count = 0;
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.TLGetNumInterfaces(system, &count));
    EXPECT_EQ("GC_ERR_INVALID_HANDLE", cti.LastErrorText());
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.TLClose(system));
}

TEST_F(SystemModule, GetInfoDiffersFromGCGetInfoOnlyWhereDesigned) {
    INFO_DATATYPE type = 0;
    char text[256] = {};
    size_t size = sizeof text;
    EXPECT_EQ(GC_ERR_SUCCESS, cti.TLGetInfo(system, TL_INFO_NAME, &type, text, &size));
    EXPECT_STREQ(GEVTLKRV_FILE_NAME, text);
    size = sizeof text;
    EXPECT_EQ(GC_ERR_SUCCESS, cti.TLGetInfo(system, TL_INFO_ID, &type, text, &size));
    EXPECT_STREQ(GEVTLKRV_FILE_NAME, text) << "the system's ID is its file name, as its TLID";
    size = sizeof text;
    EXPECT_EQ(GC_ERR_NOT_IMPLEMENTED, cti.TLGetInfo(system, 999, &type, text, &size));
    EXPECT_EQ("Requested iInfoCmd is not implemented; iInfoCmd = 999.", cti.LastErrorText());
    size = sizeof text;
    EXPECT_EQ(GC_ERR_SUCCESS, cti.TLGetInfo(system, TL_INFO_VENDOR, &type, text, &size));
    EXPECT_STREQ("Tarvane GmbH", text);
    // Success of TLGetInfo leaves the record alone.
    EXPECT_EQ("Requested iInfoCmd is not implemented; iInfoCmd = 999.", cti.LastErrorText());

    int notAModule = 0;
    size = sizeof text;
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER,
              cti.TLGetInfo(&notAModule, TL_INFO_VENDOR, &type, text, &size));
    EXPECT_EQ(" Invalid TL handle", cti.LastErrorText());
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.TLGetInfo(nullptr, TL_INFO_VENDOR, &type, text, &size));
}

TEST_F(SystemModule, InterfaceListHasOneGigEInterfaceAfterUpdate) {
    uint32_t count = 7;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLGetNumInterfaces(system, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(0u, ReadRegister(0x004));

    bool8_t changed = 0;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLUpdateInterfaceList(system, &changed, 100));
    EXPECT_EQ(1, changed);
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLUpdateInterfaceList(system, &changed, 100));
    EXPECT_EQ(0, changed);
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLUpdateInterfaceList(system, nullptr, 100));
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLGetNumInterfaces(system, &count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(1u, ReadRegister(0x004));

    size_t size = 0;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLGetInterfaceID(system, 0, nullptr, &size));
    EXPECT_EQ(15u, size);
    char id[32] = {};
    size = sizeof id;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLGetInterfaceID(system, 0, id, &size));
    EXPECT_STREQ("GigE Interface", id);
    EXPECT_EQ(GC_ERR_INVALID_INDEX, cti.TLGetInterfaceID(system, 1, id, &size));
    EXPECT_EQ("Requested iIndex (1) is invalid.", cti.LastErrorText());

    INFO_DATATYPE type = 0;
    char value[64] = {};
    size = sizeof value;
    ASSERT_EQ(GC_ERR_SUCCESS,
              cti.TLGetInterfaceInfo(system, "GigE Interface", INTERFACE_INFO_DISPLAYNAME, &type,
                                     value, &size));
    EXPECT_STREQ("GigE Interface", value);
    size = sizeof value;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLGetInterfaceInfo(system, "GigE Interface",
                                                     INTERFACE_INFO_TLTYPE, &type, value, &size));
    EXPECT_STREQ("GEV", value);
    EXPECT_EQ(GC_ERR_INVALID_ID,
              cti.TLGetInterfaceInfo(system, "GigE", INTERFACE_INFO_ID, &type, value, &size));
    EXPECT_EQ("Requested strIfaceID 'GigE' is invalid.", cti.LastErrorText());
    EXPECT_EQ(GC_ERR_NOT_IMPLEMENTED,
              cti.TLGetInterfaceInfo(system, "GigE Interface", 3, &type, value, &size));
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER,
              cti.TLGetInterfaceInfo(system, nullptr, 0, &type, value, &size));
    EXPECT_EQ("Specified sIfaceID is invalid: sIfaceID = 0x0000000000000000.", cti.LastErrorText());
}

TEST_F(SystemModule, SelectorRegisterFillsTheInterfaceName) {
    const uint32_t zero = 0;
    size_t size = 4;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.GCWritePort(system, 0x008, &zero, &size));
    EXPECT_EQ("", ReadString(0x740, 256));
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLUpdateInterfaceList(system, nullptr, 0));
    // The ID TLGetInterfaceID gives.
    EXPECT_EQ("GigE Interface", ReadString(0x740, 256));
    // An index past the list selects nothing rather than reading past it.
    const uint32_t five = 5;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.GCWritePort(system, 0x008, &five, &size));
    EXPECT_EQ("", ReadString(0x740, 256));
    EXPECT_EQ(5u, ReadRegister(0x008));
}

TEST_F(SystemModule, RegistersHoldTheLibraryIdentity) {
    EXPECT_EQ(2u, ReadRegister(0x00C));
    EXPECT_EQ(6u, ReadRegister(0x0D8));
    EXPECT_EQ(1u, ReadRegister(0x0DC));
    EXPECT_EQ("Tarvane GmbH", ReadString(0x048, 64));
    EXPECT_EQ("GEVTLKRV", ReadString(0x088, 64));
    EXPECT_EQ(GEVTLKRV_FILE_NAME, ReadString(0x100, 256));
    // The full path, with the system's separator before the file name.
    const std::string path = ReadString(0x200, 1024);
    const size_t name = path.rfind(GEVTLKRV_FILE_NAME);
    ASSERT_NE(std::string::npos, name);
    ASSERT_GT(name, 0u);
    EXPECT_TRUE(path[name - 1] == '/' || path[name - 1] == '\\') << path;
    EXPECT_EQ("KRV GEV TL Interface", ReadString(0x600, 64));
    EXPECT_EQ("GEV", ReadString(0x700, 64));

    INFO_DATATYPE type = 0;
    char version[32] = {};
    size_t size = sizeof version;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.GCGetInfo(TL_INFO_VERSION, &type, version, &size));
    EXPECT_EQ(version, ReadString(0x0C8, 16));

    // The display name was redefined over its first 64 bytes; the rest of
    // its first definition stays, zero.
    EXPECT_EQ(0u, ReadRegister(0x640));
    EXPECT_EQ(0u, ReadRegister(0x6FC));
}

TEST_F(SystemModule, OpenInterfaceMatchesTheNameAndOpensItOnce) {
    IF_HANDLE iface = nullptr;
    EXPECT_EQ(GC_ERR_INVALID_ID, cti.TLOpenInterface(system, "USB3", &iface));
    EXPECT_EQ("Requested interface name 'USB3' is invalid.", cti.LastErrorText());
    // The first open updates the list itself.
    uint32_t count = 0;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLGetNumInterfaces(system, &count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER, cti.TLOpenInterface(system, "GigE", nullptr));
    EXPECT_EQ("Specified phIface is invalid: phIface = 0x0000000000000000.", cti.LastErrorText());
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER, cti.TLOpenInterface(system, nullptr, &iface));
    int notAModule = 0;
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.TLOpenInterface(&notAModule, "GigE", &iface));
    EXPECT_EQ(0u, cti.LastErrorText().find(
                      "Specified hSystem is invalid or not the original handle: hSystem = 0x"));
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLOpenInterface(system, "gige", &iface));
    ASSERT_NE(nullptr, iface);
    IF_HANDLE again = nullptr;
    EXPECT_EQ(GC_ERR_RESOURCE_IN_USE, cti.TLOpenInterface(system, "gige", &again));
    EXPECT_EQ(iface, again) << "the handle of the first open";
    TL_HANDLE parent = nullptr;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.IFGetParentTL(iface, &parent));
    EXPECT_EQ(system, parent);
    EXPECT_EQ(GC_ERR_SUCCESS, cti.IFClose(iface));
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.IFClose(iface)) << "closed interfaces are unknown";
}

}  // namespace
