// printf-style formatting that must print exactly what the Windows C library prints.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "StringFormat.h"

namespace {

using Platform::Format;

TEST(StringFormat, NullPointerIsSixteenZeros) {
    EXPECT_EQ(Format("hIface = 0x%p.", nullptr), "hIface = 0x0000000000000000.");
    const void* p = nullptr;
    EXPECT_EQ(Format("%p", p), "0000000000000000");
}

TEST(StringFormat, PointerIsUpperCaseHexOfSixteenDigits) {
    const void* p = reinterpret_cast<const void*>(uintptr_t{0xABCDEF12});
    EXPECT_EQ(Format("0x%p", p), "0x00000000ABCDEF12");
}

TEST(StringFormat, I64PrefixIsAccepted) {
    EXPECT_EQ(Format("Register %I64X is not available.", uint64_t{0x1000}),
              "Register 1000 is not available.");
    EXPECT_EQ(Format("%I64X", uint64_t{0xFEDCBA9876543210}), "FEDCBA9876543210");
    EXPECT_EQ(Format("%I64X", uint64_t{0xabc}), "ABC");
    EXPECT_EQ(Format("0 <= %I64u <= %I64u", uint64_t{4294967280}, uint64_t{18446744073709551615u}),
              "0 <= 4294967280 <= 18446744073709551615");
}

TEST(StringFormat, DecimalOfSizeAndNegativeInt) {
    const size_t required = 25;
    EXPECT_EQ(Format("Required: %d. Prepared: %d.", required, size_t{3}),
              "Required: 25. Prepared: 3.");
    EXPECT_EQ(Format("%d", -1005), "-1005");
    EXPECT_EQ(Format("%d", int16_t{-7}), "-7");
    EXPECT_EQ(Format("%lld", int64_t{-5000000000}), "-5000000000");
}

TEST(StringFormat, TextArguments) {
    const std::string name = "GigE";
    EXPECT_EQ(Format("[%s]", name), "[GigE]");
    EXPECT_EQ(Format("%s/%s", "a", name.c_str()), "a/GigE");
    const char* none = nullptr;
    EXPECT_EQ(Format("%s", none), "(null)");
    const std::string longText(1000, 'x');
    EXPECT_EQ(Format("<%s>", longText), "<" + longText + ">");
}

TEST(StringFormat, WidthAndPaddingFlags) {
    EXPECT_EQ(Format("%04X", 0x8001u), "8001");
    EXPECT_EQ(Format("%04X", uint16_t{0xC}), "000C");
    EXPECT_EQ(Format("%08X", 0x1234u), "00001234");
    EXPECT_EQ(Format("%02d", 7), "07");
    EXPECT_EQ(Format("%d.%06ds", 1, 2500), "1.002500s");
}

TEST(StringFormat, LowerCaseHex) {
    EXPECT_EQ(Format("Local:KRTL.xml;%x;%x;", 0x940u, uint64_t{0x1754}),
              "Local:KRTL.xml;940;1754;");
}

TEST(StringFormat, NegativeIntUnderHexIsThirtyTwoBits) {
    // The Windows library reads an int for "%X": 32 bits, not 64.
    EXPECT_EQ(Format("%X", -1005), "FFFFFC13");
    EXPECT_EQ(Format("%x", -1), "ffffffff");
    EXPECT_EQ(Format("%u", -1), "4294967295");
    EXPECT_EQ(Format("%I64X", int64_t{-1}), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(Format("%llx", int64_t{-2}), "fffffffffffffffe");
}

TEST(StringFormat, PercentAndMissingArguments) {
    EXPECT_EQ(Format("100%%"), "100%");
    EXPECT_EQ(Format("%d%%", 5), "5%");
    EXPECT_EQ(Format("a %d b"), "a (missing) b");
    EXPECT_EQ(Format("%c%c", 'o', 'k'), "ok");
}

}  // namespace
