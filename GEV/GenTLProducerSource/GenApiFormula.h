// GenApiFormula: the formula of a GenApi SwissKnife or Converter, parsed once
// and evaluated as often as its variables change. Integer evaluation (an
// IntSwissKnife) wraps on overflow as 64-bit arithmetic does; float evaluation
// (a SwissKnife) follows double arithmetic. Supported: decimal, hexadecimal
// (0x) and float constants, variables, parentheses, unary - + ~ !, ** * / %
// + - << >> & ^ | = <> < > <= >= && || and ?:, and the functions ABS, SGN,
// NEG, TRUNC, FLOOR, CEIL, ROUND, SQRT, EXP, LN, LG, SIN, COS, TAN, ASIN,
// ACOS, ATAN and the constants PI and E. Anything else fails the parse; a
// division by zero or an out-of-range shift fails the evaluation.
// The formula text comes from the camera: its size, node count and depth are bounded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace GenTL {

class GenApiFormula {
public:
    static constexpr size_t kMaxText = 4096;
    static constexpr size_t kMaxNodes = 1024;
    static constexpr size_t kMaxDepth = 64;

    // Nothing when the text is not a formula this class understands.
    static std::optional<GenApiFormula> Parse(const std::string& text);

    // The names the formula refers to, each once, in order of first use; the
    // evaluations take their values in the same order.
    const std::vector<std::string>& Variables() const { return m_variables; }

    std::optional<int64_t> EvaluateInteger(const std::vector<int64_t>& values) const;
    std::optional<double> EvaluateFloat(const std::vector<double>& values) const;

    enum class Op : uint8_t {
        Integer,
        Float,
        Variable,
        Neg,
        Plus,
        BitNot,
        Not,
        Pow,
        Mul,
        Div,
        Mod,
        Add,
        Sub,
        Shl,
        Shr,
        Lt,
        Gt,
        Le,
        Ge,
        Eq,
        Ne,
        BitAnd,
        BitXor,
        BitOr,
        And,
        Or,
        Cond,
        Function
    };
    enum class Fn : uint8_t {
        Abs,
        Sgn,
        Neg,
        Trunc,
        Floor,
        Ceil,
        Round,
        Sqrt,
        Exp,
        Ln,
        Lg,
        Sin,
        Cos,
        Tan,
        Asin,
        Acos,
        Atan
    };
    struct Node {
        Op op = Op::Integer;
        Fn fn = Fn::Abs;
        int64_t integer = 0;
        double real = 0;
        uint32_t a = 0, b = 0, c = 0;  // operands; the variable's index for Op::Variable
    };

private:
    friend class FormulaParser;
    std::vector<Node> m_nodes;
    uint32_t m_root = 0;
    std::vector<std::string> m_variables;
};

}  // namespace GenTL
