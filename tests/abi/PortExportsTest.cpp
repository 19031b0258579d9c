// The port exports on the system module's port: URLs, port info, block and
// stacked access, and handles that are not ports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CtiLibrary.h"

using namespace GenTL;
using TestSupport::CtiLibrary;

namespace {

class PortExports : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GC_ERR_SUCCESS, cti.GCInitLib());
        ASSERT_EQ(GC_ERR_SUCCESS, cti.TLOpen(&system));
    }
    void TearDown() override { cti.GCCloseLib(); }

    CtiLibrary cti;
    TL_HANDLE system = nullptr;
};

TEST_F(PortExports, URLNamesTheDescriptionAndItsBytesAreThere) {
    size_t size = 0;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.GCGetPortURL(system, nullptr, &size));
    std::vector<char> url(size, '#');
    ASSERT_EQ(GC_ERR_SUCCESS, cti.GCGetPortURL(system, url.data(), &size));
    const std::string text = url.data();
    EXPECT_EQ(text.size() + 2, size);  // room for the final ";" the text goes without
    EXPECT_EQ('\0', url[text.size() + 1]);
    ASSERT_EQ(0u, text.find("Local:KRTL.xml;940;"));
    EXPECT_NE(';', text.back());
    const size_t xmlSize = std::strtoul(text.c_str() + text.rfind(';') + 1, nullptr, 16);
    EXPECT_EQ(0u, xmlSize % 4);

    std::string xml(xmlSize, '#');
    size_t readSize = xmlSize;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.GCReadPort(system, 0x940, &xml[0], &readSize));
    EXPECT_EQ(0u, xml.find("<?xml"));
    EXPECT_NE(std::string::npos, xml.find("RegisterDescription"));
    EXPECT_EQ('\0', xml.back());  // padded with NULs
    EXPECT_EQ(xml.find('\0'), xml.find_last_not_of('\0') + 1);

    // Too small: refused with the size set to what is needed.
    size_t small = 8;
    char buffer[8];
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER, cti.GCGetPortURL(system, buffer, &small));
    EXPECT_EQ("Invalid Buffer Size", cti.LastErrorText());
    EXPECT_EQ(size, small);
    size_t zero = 0;
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER, cti.GCGetPortURL(system, buffer, &zero));
    EXPECT_EQ(0u,
              cti.LastErrorText().find("Specified piSize is invalid even though sURL is present"));
}

TEST_F(PortExports, URLInfoAndPortInfo) {
    INFO_DATATYPE type = 0;
    int32_t number = -1;
    size_t size = sizeof number;
    ASSERT_EQ(GC_ERR_SUCCESS,
              cti.GCGetPortURLInfo(system, 0, URL_INFO_FILE_VER_SUBMINOR, &type, &number, &size));
    EXPECT_EQ(INFO_DATATYPE_INT32, type);
    EXPECT_EQ(2, number);
    EXPECT_EQ(GC_ERR_INVALID_INDEX,
              cti.GCGetPortURLInfo(system, 1, URL_INFO_URL, &type, &number, &size));
    uint64_t fileSize = 0;
    size = sizeof fileSize;
    ASSERT_EQ(GC_ERR_SUCCESS,
              cti.GCGetPortURLInfo(system, 0, URL_INFO_FILE_SIZE, &type, &fileSize, &size));
    EXPECT_EQ(INFO_DATATYPE_UINT64, type);
    EXPECT_GT(fileSize, 0u);
    size = sizeof number;
    EXPECT_EQ(GC_ERR_NOT_IMPLEMENTED, cti.GCGetPortURLInfo(system, 0, 11, &type, &number, &size));
    char url[128] = {};
    size = sizeof url;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.GCGetPortURLInfo(system, 0, URL_INFO_URL, &type, url, &size));
    EXPECT_EQ(0u, std::string(url).find("Local:KRTL.xml;940;"));

    char text[64] = {};
    size = sizeof text;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.GCGetPortInfo(system, PORT_INFO_MODULE, &type, text, &size));
    EXPECT_STREQ("TLSystem", text);
    size = sizeof text;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.GCGetPortInfo(system, PORT_INFO_PORTNAME, &type, text, &size));
    EXPECT_STREQ("TLPort", text);
    bool8_t flag = 7;
    size = 1;
    ASSERT_EQ(GC_ERR_SUCCESS, cti.GCGetPortInfo(system, PORT_INFO_BIG_ENDIAN, &type, &flag, &size));
    EXPECT_EQ(INFO_DATATYPE_BOOL8, type);
    EXPECT_EQ(0, flag);
    EXPECT_EQ(GC_ERR_NOT_IMPLEMENTED, cti.GCGetPortInfo(system, 13, &type, text, &size));
    EXPECT_EQ("Requested iInfoCmd is not implemented; iInfoCmd = 13.", cti.LastErrorText());

    uint32_t urls = 0;
    EXPECT_EQ(GC_ERR_SUCCESS, cti.GCGetNumPortURLs(system, &urls));
    EXPECT_EQ(1u, urls);
    // Success not recorded.
    EXPECT_EQ("Requested iInfoCmd is not implemented; iInfoCmd = 13.", cti.LastErrorText());
}

TEST_F(PortExports, BlockAccessChecks) {
    uint32_t word = 0;
    size_t size = 4;
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER, cti.GCReadPort(system, 0x4, nullptr, &size));
    EXPECT_EQ("Specified pBuffer is invalid: pBuffer = 0x0000000000000000.", cti.LastErrorText());
    size = 0;
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER, cti.GCReadPort(system, 0x4, &word, &size));
    EXPECT_EQ(
        0u, cti.LastErrorText().find("Specified piSize is invalid even though pBuffer is present"));
    size = 4;
    EXPECT_EQ(GC_ERR_INVALID_ADDRESS, cti.GCReadPort(system, 0x2, &word, &size));
    EXPECT_EQ("Address and/or uiSize have to be multiples of four.", cti.LastErrorText());
    size = 6;
    EXPECT_EQ(GC_ERR_INVALID_ADDRESS, cti.GCReadPort(system, 0x4, &word, &size));
    size = 4;
    EXPECT_EQ(GC_ERR_ERROR, cti.GCReadPort(system, 0x100000, &word, &size));
    EXPECT_EQ("Register 100000 is not available.", cti.LastErrorText());
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER, cti.GCReadPort(system, 0xFFFFFFF0ull, &word, &size));
    EXPECT_EQ(0u, cti.LastErrorText().find("Address too large: 0 <= "));
    EXPECT_EQ(GC_ERR_INVALID_ADDRESS, cti.GCReadPort(system, ~0ull, &word, &size));
    EXPECT_EQ(GC_ERR_ACCESS_DENIED, cti.GCWritePort(system, 0x004, &word, &size));
    EXPECT_EQ("Register 4 is not writable.", cti.LastErrorText());
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.GCReadPort(nullptr, 0x4, &word, &size));
    EXPECT_EQ("Specified hPort is invalid: hPort = 0x0000000000000000.", cti.LastErrorText());

    // An unaligned consumer buffer works, and a failing block keeps the words before it.
    std::vector<unsigned char> bytes(13, 0xEE);
    size = 12;
    EXPECT_EQ(GC_ERR_SUCCESS, cti.GCReadPort(system, 0x004, bytes.data() + 1, &size));
    uint32_t count = 0, selector = 0xFFFFFFFF;
    std::memcpy(&count, bytes.data() + 1, 4);
    std::memcpy(&selector, bytes.data() + 5, 4);
    EXPECT_EQ(0u, count);
    EXPECT_EQ(0u, selector);
    EXPECT_EQ(0xEE, bytes[0]);
    EXPECT_EQ(2, bytes[9]);  // 0x00C, the TL type, was read
    size = 16;               // 0x010 is not defined: the fourth word fails, the rest stays
    std::vector<unsigned char> more(16, 0xEE);
    EXPECT_EQ(GC_ERR_ERROR, cti.GCReadPort(system, 0x004, more.data(), &size));
    EXPECT_EQ(0xEE, more[12]);
}

TEST_F(PortExports, StackedAccessStopsAtTheFirstFailure) {
    uint32_t values[3] = {0xAA, 0xBB, 0xCC};
    PORT_REGISTER_STACK_ENTRY entries[3] = {
        {0x00C, &values[0], 4}, {0x010, &values[1], 4}, {0x0DC, &values[2], 4}};
    size_t count = 3;
    EXPECT_EQ(GC_ERR_ERROR, cti.GCReadPortStacked(system, entries, &count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(2u, values[0]);
    EXPECT_EQ(0xBBu, values[1]);
    EXPECT_EQ(0xCCu, values[2]);

    entries[1].Address = 0x0D8;
    count = 3;
    EXPECT_EQ(GC_ERR_SUCCESS, cti.GCReadPortStacked(system, entries, &count));
    EXPECT_EQ(3u, count);
    EXPECT_EQ(6u, values[1]);
    EXPECT_EQ(1u, values[2]);

    uint32_t selector = 0;
    PORT_REGISTER_STACK_ENTRY writes[2] = {{0x008, &selector, 4}, {0x004, &selector, 4}};
    count = 2;
    EXPECT_EQ(GC_ERR_ACCESS_DENIED, cti.GCWritePortStacked(system, writes, &count));
    EXPECT_EQ(1u, count);

    count = 1;
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.GCReadPortStacked(nullptr, entries, &count));
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER, cti.GCReadPortStacked(system, nullptr, &count));
    EXPECT_EQ("Specified pEntries is invalid: pEntries = 0x0000000000000000.", cti.LastErrorText());
    EXPECT_EQ(GC_ERR_INVALID_PARAMETER, cti.GCWritePortStacked(system, entries, nullptr));
    EXPECT_EQ("Specified piNumEntries is invalid: piNumEntries = 0x0000000000000000.",
              cti.LastErrorText());
}

TEST_F(PortExports, HandlesThatAreNotPortsAreRefusedWithoutBeingTouched) {
    uint32_t word = 0;
    size_t size = 4;
    int local = 0;
    auto heap = std::make_unique<uint64_t[]>(64);
    void* inside = heap.get() + 8;  // points into an object, not at one
    for (void* handle : {static_cast<void*>(&local), static_cast<void*>(heap.get()), inside,
                         reinterpret_cast<void*>(0x1), reinterpret_cast<void*>(~uintptr_t(0))}) {
        EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.GCReadPort(handle, 0x4, &word, &size));
        EXPECT_EQ(0u, cti.LastErrorText().find("Specified pPort is invalid: pPort = 0x"));
        EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.GCWritePort(handle, 0x8, &word, &size));
        EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.GCGetPortURL(handle, nullptr, &size));
        uint32_t urls = 0;
        EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.GCGetNumPortURLs(handle, &urls));
        INFO_DATATYPE type = 0;
        EXPECT_EQ(GC_ERR_INVALID_HANDLE,
                  cti.GCGetPortInfo(handle, PORT_INFO_ID, &type, nullptr, &size));
        EXPECT_EQ(GC_ERR_INVALID_HANDLE,
                  cti.GCGetPortURLInfo(handle, 0, URL_INFO_URL, &type, nullptr, &size));
        PORT_REGISTER_STACK_ENTRY entry = {0x4, &word, 4};
        size_t count = 1;
        EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.GCReadPortStacked(handle, &entry, &count));
    }
    // After close, the old system handle (a freed module) is no port either.
    ASSERT_EQ(GC_ERR_SUCCESS, cti.TLClose(system));
    EXPECT_EQ(GC_ERR_INVALID_HANDLE, cti.GCWritePort(system, 0x8, &word, &size));
    EXPECT_EQ("Specified pPort is invalid: pPort = 0x", cti.LastErrorText().substr(0, 38));
}

}  // namespace
