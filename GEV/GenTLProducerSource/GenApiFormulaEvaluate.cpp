// The evaluation of a parsed GenApiFormula, as 64-bit integers or as doubles.
// The tree is bounded in depth by the parser, so the recursion here is too.
#include <cmath>
#include <limits>

#include "GenApiFormula.h"

namespace GenTL {
namespace {

using Node = GenApiFormula::Node;
using Op = GenApiFormula::Op;
using Fn = GenApiFormula::Fn;

// Wrapping arithmetic: the camera's formula decides the values, never undefined behaviour.
int64_t Wrap(uint64_t value) {
    return static_cast<int64_t>(value);
}

std::optional<int64_t> IntegerOf(double value) {
    if (!std::isfinite(value) || value < -9.2e18 || value > 9.2e18) return std::nullopt;
    return static_cast<int64_t>(value);
}

std::optional<int64_t> IntegerOp(Op op, int64_t a, int64_t b) {
    const auto ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
    switch (op) {
        case Op::Add:
            return Wrap(ua + ub);
        case Op::Sub:
            return Wrap(ua - ub);
        case Op::Mul:
            return Wrap(ua * ub);
        case Op::Div:
        case Op::Mod:
            if (b == 0 || (a == std::numeric_limits<int64_t>::min() && b == -1))
                return std::nullopt;
            return op == Op::Div ? a / b : a % b;
        case Op::Pow: {
            if (b < 0) return std::nullopt;
            uint64_t result = 1, base = ua;
            for (uint64_t e = ub; e != 0; e >>= 1) {
                if (e & 1) result *= base;
                base *= base;
            }
            return Wrap(result);
        }
        case Op::Shl:
            if (b < 0 || b > 63) return std::nullopt;
            return Wrap(ua << b);
        case Op::Shr:
            if (b < 0 || b > 63) return std::nullopt;
            // Arithmetic for negative values, as the camera's (signed) formula means.
            return a < 0 ? Wrap(~(~ua >> b)) : Wrap(ua >> b);
        case Op::BitAnd:
            return Wrap(ua & ub);
        case Op::BitOr:
            return Wrap(ua | ub);
        case Op::BitXor:
            return Wrap(ua ^ ub);
        case Op::Lt:
            return a < b;
        case Op::Gt:
            return a > b;
        case Op::Le:
            return a <= b;
        case Op::Ge:
            return a >= b;
        case Op::Eq:
            return a == b;
        case Op::Ne:
            return a != b;
        default:
            return std::nullopt;
    }
}

std::optional<int64_t> IntegerFunction(Fn fn, int64_t a) {
    switch (fn) {
        case Fn::Abs:
            return a < 0 ? Wrap(0 - static_cast<uint64_t>(a)) : a;
        case Fn::Sgn:
            return (a > 0) - (a < 0);
        case Fn::Neg:
            return Wrap(0 - static_cast<uint64_t>(a));
        case Fn::Trunc:
        case Fn::Floor:
        case Fn::Ceil:
        case Fn::Round:
            return a;
        default:
            return std::nullopt;
    }
}

std::optional<double> FloatFunction(Fn fn, double a) {
    switch (fn) {
        case Fn::Abs:
            return std::fabs(a);
        case Fn::Sgn:
            return static_cast<double>((a > 0) - (a < 0));
        case Fn::Neg:
            return -a;
        case Fn::Trunc:
            return std::trunc(a);
        case Fn::Floor:
            return std::floor(a);
        case Fn::Ceil:
            return std::ceil(a);
        case Fn::Round:
            return std::round(a);
        case Fn::Sqrt:
            return std::sqrt(a);
        case Fn::Exp:
            return std::exp(a);
        case Fn::Ln:
            return std::log(a);
        case Fn::Lg:
            return std::log10(a);
        case Fn::Sin:
            return std::sin(a);
        case Fn::Cos:
            return std::cos(a);
        case Fn::Tan:
            return std::tan(a);
        case Fn::Asin:
            return std::asin(a);
        case Fn::Acos:
            return std::acos(a);
        case Fn::Atan:
            return std::atan(a);
    }
    return std::nullopt;
}

template <class T>
class Evaluator {
public:
    Evaluator(const std::vector<Node>& nodes, const std::vector<T>& values)
        : m_nodes(nodes), m_values(values) {}

    std::optional<T> Run(uint32_t index) {
        if (index >= m_nodes.size()) return std::nullopt;
        const Node& node = m_nodes[index];
        switch (node.op) {
            case Op::Integer:
                return static_cast<T>(node.integer);
            case Op::Float:
                if constexpr (std::is_integral_v<T>) {
                    // An integer formula takes only whole constants.
                    const auto whole = IntegerOf(node.real);
                    if (!whole || static_cast<double>(*whole) != node.real) return std::nullopt;
                    return *whole;
                } else {
                    return node.real;
                }
            case Op::Variable:
                if (node.a >= m_values.size()) return std::nullopt;
                return m_values[node.a];
            case Op::Cond: {
                const auto condition = Run(node.a);
                if (!condition) return std::nullopt;
                return Run(*condition != 0 ? node.b : node.c);
            }
            case Op::And:
            case Op::Or: {
                const auto a = Run(node.a);
                if (!a) return std::nullopt;
                if ((*a != 0) == (node.op == Op::Or)) return static_cast<T>(*a != 0);
                const auto b = Run(node.b);
                if (!b) return std::nullopt;
                return static_cast<T>(*b != 0);
            }
            case Op::Neg:
            case Op::Plus:
            case Op::BitNot:
            case Op::Not:
            case Op::Function: {
                const auto a = Run(node.a);
                if (!a) return std::nullopt;
                return UnaryOp(node, *a);
            }
            default: {
                const auto a = Run(node.a);
                if (!a) return std::nullopt;
                const auto b = Run(node.b);
                if (!b) return std::nullopt;
                return BinaryOp(node.op, *a, *b);
            }
        }
    }

private:
    std::optional<T> UnaryOp(const Node& node, T a) {
        if constexpr (std::is_integral_v<T>) {
            switch (node.op) {
                case Op::Neg:
                    return Wrap(0 - static_cast<uint64_t>(a));
                case Op::Plus:
                    return a;
                case Op::BitNot:
                    return ~a;
                case Op::Not:
                    return a == 0;
                default:
                    return IntegerFunction(node.fn, a);
            }
        } else {
            switch (node.op) {
                case Op::Neg:
                    return -a;
                case Op::Plus:
                    return a;
                case Op::BitNot: {
                    const auto whole = IntegerOf(a);
                    if (!whole) return std::nullopt;
                    return static_cast<double>(~*whole);
                }
                case Op::Not:
                    return a == 0 ? 1.0 : 0.0;
                default:
                    return FloatFunction(node.fn, a);
            }
        }
    }

    std::optional<T> BinaryOp(Op op, T a, T b) {
        if constexpr (std::is_integral_v<T>) {
            return IntegerOp(op, a, b);
        } else {
            switch (op) {
                case Op::Add:
                    return a + b;
                case Op::Sub:
                    return a - b;
                case Op::Mul:
                    return a * b;
                case Op::Div:
                    return a / b;
                case Op::Mod:
                    return std::fmod(a, b);
                case Op::Pow:
                    return std::pow(a, b);
                case Op::Lt:
                    return a < b ? 1.0 : 0.0;
                case Op::Gt:
                    return a > b ? 1.0 : 0.0;
                case Op::Le:
                    return a <= b ? 1.0 : 0.0;
                case Op::Ge:
                    return a >= b ? 1.0 : 0.0;
                case Op::Eq:
                    return a == b ? 1.0 : 0.0;
                case Op::Ne:
                    return a != b ? 1.0 : 0.0;
                default: {
                    // Bit operations and shifts work on the whole numbers.
                    const auto wa = IntegerOf(a), wb = IntegerOf(b);
                    if (!wa || !wb) return std::nullopt;
                    const auto result = IntegerOp(op, *wa, *wb);
                    if (!result) return std::nullopt;
                    return static_cast<double>(*result);
                }
            }
        }
    }

    const std::vector<Node>& m_nodes;
    const std::vector<T>& m_values;
};

}  // namespace

std::optional<int64_t> GenApiFormula::EvaluateInteger(const std::vector<int64_t>& values) const {
    return Evaluator<int64_t>(m_nodes, values).Run(m_root);
}

std::optional<double> GenApiFormula::EvaluateFloat(const std::vector<double>& values) const {
    const auto result = Evaluator<double>(m_nodes, values).Run(m_root);
    if (!result || !std::isfinite(*result)) return std::nullopt;
    return result;
}

}  // namespace GenTL
