// The formulas of GenApi SwissKnives and Converters as the producer evaluates
// them: precedence, integer and float arithmetic, and what it refuses.
#include <gtest/gtest.h>

#include <string>

#include "GenApiFormula.h"

using namespace GenTL;

namespace {

std::optional<int64_t> Integer(const std::string& text, const std::vector<int64_t>& values = {}) {
    const auto formula = GenApiFormula::Parse(text);
    if (!formula) return std::nullopt;
    return formula->EvaluateInteger(values);
}

std::optional<double> Float(const std::string& text, const std::vector<double>& values = {}) {
    const auto formula = GenApiFormula::Parse(text);
    if (!formula) return std::nullopt;
    return formula->EvaluateFloat(values);
}

}  // namespace

TEST(GenApiFormula, IntegerOperatorsFollowTheirPrecedence) {
    EXPECT_EQ(Integer("1 + 2 * 3"), 7);
    EXPECT_EQ(Integer("(1 + 2) * 3"), 9);
    EXPECT_EQ(Integer("10 - 4 - 3"), 3);
    EXPECT_EQ(Integer("100 / 10 / 5"), 2);
    EXPECT_EQ(Integer("17 % 5"), 2);
    EXPECT_EQ(Integer("-3 + 5"), 2);
    EXPECT_EQ(Integer("- -3"), 3);
    EXPECT_EQ(Integer("2 ** 3 ** 2"), 512);
    EXPECT_EQ(Integer("1 << 4 + 1"), 32);
    EXPECT_EQ(Integer("0x01080001 >> 16 & 0xFF"), 8);
    EXPECT_EQ(Integer("0xF0 | 0x0F ^ 0xFF"), 0xF0);
    EXPECT_EQ(Integer("~0"), -1);
    EXPECT_EQ(Integer("!0 + !5"), 1);
    EXPECT_EQ(Integer("3 < 4"), 1);
    EXPECT_EQ(Integer("3 <= 3 && 4 >= 5"), 0);
    EXPECT_EQ(Integer("3 = 3 || 0"), 1);
    EXPECT_EQ(Integer("3 <> 3"), 0);
    EXPECT_EQ(Integer("3 != 4"), 1);
    EXPECT_EQ(Integer("1 ? 2 : 3"), 2);
    EXPECT_EQ(Integer("0 ? 2 : 1 ? 4 : 5"), 4);
    EXPECT_EQ(Integer("ABS(-7) + SGN(-2) + NEG(1)"), 5);
    EXPECT_EQ(Integer("-16 >> 2"), -4);
}

TEST(GenApiFormula, VariablesAreNamedOnceInOrderOfUse) {
    const auto formula = GenApiFormula::Parse("W * H + W * BPP.X");
    ASSERT_TRUE(formula);
    ASSERT_EQ(formula->Variables(), (std::vector<std::string>{"W", "H", "BPP.X"}));
    EXPECT_EQ(formula->EvaluateInteger({640, 480, 2}), 640 * 480 + 640 * 2);
    EXPECT_EQ(formula->EvaluateInteger({640}), std::nullopt);
}

TEST(GenApiFormula, FloatFormulasKeepFractions) {
    EXPECT_DOUBLE_EQ(*Float("7 / 2"), 3.5);
    EXPECT_DOUBLE_EQ(*Float("CEIL(X * 1.5)", {3}), 5.0);
    EXPECT_DOUBLE_EQ(*Float("ROUND(2.5e1 / 10)"), 3.0);
    EXPECT_DOUBLE_EQ(*Float("(0x10 << 2) | 1"), 65.0);
    EXPECT_NEAR(*Float("SIN(PI / 2) + LN(E)"), 2.0, 1e-12);
    // An integer formula takes no fraction.
    EXPECT_EQ(Integer("1.5 * 2"), std::nullopt);
    EXPECT_EQ(Integer("2.0 * 2"), 4);
}

TEST(GenApiFormula, FailuresAreNoValue) {
    for (const char* text : {"", "1 +", "(1", "1)", "1 2", "0x", "0x12345678901234567", "#",
                             "ABS(1", "1 ? 2", "99999999999999999999", "a = = b", "."})
        EXPECT_FALSE(GenApiFormula::Parse(text).has_value()) << text;
    EXPECT_EQ(Integer("1 / 0"), std::nullopt);
    EXPECT_EQ(Integer("1 % 0"), std::nullopt);
    EXPECT_EQ(Integer("1 << 64"), std::nullopt);
    EXPECT_EQ(Integer("1 >> -1"), std::nullopt);
    EXPECT_EQ(Integer("(0 - 0x7FFFFFFFFFFFFFFF - 1) / -1"), std::nullopt);
    EXPECT_EQ(Float("1 / 0"), std::nullopt);
    EXPECT_EQ(Float("SQRT(-1)"), std::nullopt);
    // Overflow wraps, as 64-bit arithmetic does.
    EXPECT_EQ(Integer("0x7FFFFFFFFFFFFFFF + 1"), INT64_MIN);
}

TEST(GenApiFormula, HostileNestingIsBounded) {
    std::string deep;
    for (int i = 0; i < 10000; ++i) deep += "(";
    deep += "1";
    for (int i = 0; i < 10000; ++i) deep += ")";
    EXPECT_FALSE(GenApiFormula::Parse(deep).has_value());
    std::string unary(3000, '-');
    EXPECT_FALSE(GenApiFormula::Parse(unary + "1").has_value());
    std::string longChain = "1";
    for (int i = 0; i < 2000; ++i) longChain += "+1";
    EXPECT_FALSE(GenApiFormula::Parse(longChain).has_value());  // more nodes than allowed
    std::string chain = "1";
    for (int i = 0; i < 200; ++i) chain += "+1";
    EXPECT_EQ(Integer(chain), 201);
}
