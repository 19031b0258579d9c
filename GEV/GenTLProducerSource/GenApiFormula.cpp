#include "GenApiFormula.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

namespace GenTL {

// Recursive descent, lowest precedence first. Every way into a deeper level
// passes Enter(), so a hostile text cannot exhaust the stack.
class FormulaParser {
public:
    explicit FormulaParser(const std::string& text) : m_text(text) {}

    std::optional<GenApiFormula> Run() {
        if (m_text.size() > GenApiFormula::kMaxText) return std::nullopt;
        const auto root = Conditional();
        Skip();
        if (!root || m_failed || m_at != m_text.size()) return std::nullopt;
        m_formula.m_root = *root;
        return std::move(m_formula);
    }

private:
    using Op = GenApiFormula::Op;
    using Result = std::optional<uint32_t>;

    struct Depth {
        explicit Depth(FormulaParser* parser) : parser(parser) {
            if (++parser->m_depth > GenApiFormula::kMaxDepth) parser->m_failed = true;
        }
        ~Depth() { --parser->m_depth; }
        FormulaParser* parser;
    };

    void Skip() {
        while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at])))
            ++m_at;
    }
    // Takes `token` when it comes next, but not as the start of a longer one
    // listed in `notBefore` (so "<" does not take the "<" of "<=").
    bool Take(const char* token, const char* notBefore = "") {
        Skip();
        const size_t len = std::strlen(token);
        if (m_text.compare(m_at, len, token) != 0) return false;
        if (m_at + len < m_text.size() && *notBefore && std::strchr(notBefore, m_text[m_at + len]))
            return false;
        m_at += len;
        return true;
    }

    Result Add(GenApiFormula::Node node, std::initializer_list<uint32_t> operands) {
        size_t depth = 1;
        for (uint32_t operand : operands) depth = std::max(depth, m_nodeDepth[operand] + 1);
        if (m_formula.m_nodes.size() >= GenApiFormula::kMaxNodes ||
            depth > GenApiFormula::kMaxDepth * 4) {
            m_failed = true;
            return std::nullopt;
        }
        m_formula.m_nodes.push_back(node);
        m_nodeDepth.push_back(depth);
        return static_cast<uint32_t>(m_formula.m_nodes.size() - 1);
    }
    Result Binary(Op op, uint32_t a, uint32_t b) {
        GenApiFormula::Node node;
        node.op = op;
        node.a = a;
        node.b = b;
        return Add(node, {a, b});
    }

    Result Conditional() {
        Depth depth(this);
        if (m_failed) return std::nullopt;
        const Result condition = Or();
        if (!condition || !Take("?")) return condition;
        const Result yes = Conditional();
        if (!yes || !Take(":")) return std::nullopt;
        const Result no = Conditional();
        if (!no) return std::nullopt;
        GenApiFormula::Node node;
        node.op = Op::Cond;
        node.a = *condition;
        node.b = *yes;
        node.c = *no;
        return Add(node, {*condition, *yes, *no});
    }

    // One left-associative level: operators of `ops` (token, op, tokens it must
    // not be the start of) over operands of `next`.
    struct BinaryOp {
        const char* token;
        Op op;
        const char* notBefore;
    };
    template <size_t N>
    Result Level(Result (FormulaParser::*next)(), const BinaryOp (&ops)[N]) {
        Result left = (this->*next)();
        while (left && !m_failed) {
            const BinaryOp* found = nullptr;
            for (const BinaryOp& op : ops)
                if (Take(op.token, op.notBefore)) {
                    found = &op;
                    break;
                }
            if (!found) break;
            const Result right = (this->*next)();
            if (!right) return std::nullopt;
            left = Binary(found->op, *left, *right);
        }
        return left;
    }
    Result Or() {
        static const BinaryOp ops[] = {{"||", Op::Or, ""}};
        return Level(&FormulaParser::And, ops);
    }
    Result And() {
        static const BinaryOp ops[] = {{"&&", Op::And, ""}};
        return Level(&FormulaParser::BitOr, ops);
    }
    Result BitOr() {
        static const BinaryOp ops[] = {{"|", Op::BitOr, "|"}};
        return Level(&FormulaParser::BitXor, ops);
    }
    Result BitXor() {
        static const BinaryOp ops[] = {{"^", Op::BitXor, ""}};
        return Level(&FormulaParser::BitAnd, ops);
    }
    Result BitAnd() {
        static const BinaryOp ops[] = {{"&", Op::BitAnd, "&"}};
        return Level(&FormulaParser::Equality, ops);
    }
    Result Equality() {
        static const BinaryOp ops[] = {
            {"==", Op::Eq, ""}, {"=", Op::Eq, ""}, {"<>", Op::Ne, ""}, {"!=", Op::Ne, ""}};
        return Level(&FormulaParser::Relational, ops);
    }
    Result Relational() {
        static const BinaryOp ops[] = {
            {"<=", Op::Le, ""}, {">=", Op::Ge, ""}, {"<", Op::Lt, "<>"}, {">", Op::Gt, ">"}};
        return Level(&FormulaParser::Shift, ops);
    }
    Result Shift() {
        static const BinaryOp ops[] = {{"<<", Op::Shl, ""}, {">>", Op::Shr, ""}};
        return Level(&FormulaParser::Additive, ops);
    }
    Result Additive() {
        static const BinaryOp ops[] = {{"+", Op::Add, ""}, {"-", Op::Sub, ""}};
        return Level(&FormulaParser::Multiplicative, ops);
    }
    Result Multiplicative() {
        static const BinaryOp ops[] = {{"*", Op::Mul, "*"}, {"/", Op::Div, ""}, {"%", Op::Mod, ""}};
        return Level(&FormulaParser::Unary, ops);
    }

    Result Unary() {
        Depth depth(this);
        if (m_failed) return std::nullopt;
        Op op;
        if (Take("-"))
            op = Op::Neg;
        else if (Take("+"))
            op = Op::Plus;
        else if (Take("~"))
            op = Op::BitNot;
        else if (Take("!", "="))
            op = Op::Not;
        else
            return Power();
        const Result operand = Unary();
        if (!operand) return std::nullopt;
        GenApiFormula::Node node;
        node.op = op;
        node.a = *operand;
        return Add(node, {*operand});
    }

    Result Power() {
        const Result base = Primary();
        if (!base || !Take("**")) return base;
        const Result exponent = Unary();  // right-associative
        if (!exponent) return std::nullopt;
        return Binary(Op::Pow, *base, *exponent);
    }

    Result Primary() {
        Skip();
        if (m_at >= m_text.size()) return std::nullopt;
        const char c = m_text[m_at];
        if (c == '(') {
            ++m_at;
            const Result inner = Conditional();
            if (!inner || !Take(")")) return std::nullopt;
            return inner;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') return Number();
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') return Name();
        return std::nullopt;
    }

    Result Number() {
        GenApiFormula::Node node;
        const char* begin = m_text.c_str() + m_at;
        if (m_text.compare(m_at, 2, "0x") == 0 || m_text.compare(m_at, 2, "0X") == 0) {
            size_t i = m_at + 2, digits = 0;
            uint64_t value = 0;
            for (; i < m_text.size() && std::isxdigit(static_cast<unsigned char>(m_text[i]));
                 ++i, ++digits) {
                const char d =
                    static_cast<char>(std::tolower(static_cast<unsigned char>(m_text[i])));
                value = value * 16 + static_cast<uint64_t>(d <= '9' ? d - '0' : d - 'a' + 10);
            }
            if (digits == 0 || digits > 16) return std::nullopt;
            m_at = i;
            node.op = Op::Integer;
            node.integer = static_cast<int64_t>(value);
            return Add(node, {});
        }
        size_t i = m_at;
        bool real = false;
        while (i < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[i]))) ++i;
        if (i < m_text.size() && m_text[i] == '.') {
            real = true;
            ++i;
            while (i < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[i]))) ++i;
        }
        if (i < m_text.size() && (m_text[i] == 'e' || m_text[i] == 'E')) {
            size_t j = i + 1;
            if (j < m_text.size() && (m_text[j] == '+' || m_text[j] == '-')) ++j;
            if (j < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[j]))) {
                real = true;
                i = j;
                while (i < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[i])))
                    ++i;
            }
        }
        const std::string digits(begin, i - m_at);
        if (digits == "." || digits.size() > 64) return std::nullopt;
        m_at = i;
        if (!real) {
            uint64_t value = 0;
            for (char d : digits) {
                if (value > (std::numeric_limits<uint64_t>::max() - 9) / 10) return std::nullopt;
                value = value * 10 + static_cast<uint64_t>(d - '0');
            }
            node.op = Op::Integer;
            node.integer = static_cast<int64_t>(value);
        } else {
            node.op = Op::Float;
            node.real = std::strtod(digits.c_str(), nullptr);
        }
        return Add(node, {});
    }

    Result Name() {
        size_t i = m_at;
        while (i < m_text.size() && (std::isalnum(static_cast<unsigned char>(m_text[i])) ||
                                     m_text[i] == '_' || m_text[i] == '.'))
            ++i;
        const std::string name = m_text.substr(m_at, i - m_at);
        m_at = i;
        static const struct {
            const char* name;
            GenApiFormula::Fn fn;
        } kFunctions[] = {
            {"ABS", GenApiFormula::Fn::Abs},     {"SGN", GenApiFormula::Fn::Sgn},
            {"NEG", GenApiFormula::Fn::Neg},     {"TRUNC", GenApiFormula::Fn::Trunc},
            {"FLOOR", GenApiFormula::Fn::Floor}, {"CEIL", GenApiFormula::Fn::Ceil},
            {"ROUND", GenApiFormula::Fn::Round}, {"SQRT", GenApiFormula::Fn::Sqrt},
            {"EXP", GenApiFormula::Fn::Exp},     {"LN", GenApiFormula::Fn::Ln},
            {"LG", GenApiFormula::Fn::Lg},       {"SIN", GenApiFormula::Fn::Sin},
            {"COS", GenApiFormula::Fn::Cos},     {"TAN", GenApiFormula::Fn::Tan},
            {"ASIN", GenApiFormula::Fn::Asin},   {"ACOS", GenApiFormula::Fn::Acos},
            {"ATAN", GenApiFormula::Fn::Atan},
        };
        GenApiFormula::Node node;
        for (const auto& f : kFunctions) {
            if (name != f.name || !Take("(")) continue;
            const Result argument = Conditional();
            if (!argument || !Take(")")) return std::nullopt;
            node.op = Op::Function;
            node.fn = f.fn;
            node.a = *argument;
            return Add(node, {*argument});
        }
        if (name == "PI" || name == "E") {
            node.op = Op::Float;
            node.real = name == "PI" ? 3.14159265358979323846 : 2.71828182845904523536;
            return Add(node, {});
        }
        auto& variables = m_formula.m_variables;
        size_t index = 0;
        while (index < variables.size() && variables[index] != name) ++index;
        if (index == variables.size()) variables.push_back(name);
        node.op = Op::Variable;
        node.a = static_cast<uint32_t>(index);
        return Add(node, {});
    }

    const std::string& m_text;
    size_t m_at = 0;
    size_t m_depth = 0;
    bool m_failed = false;
    std::vector<size_t> m_nodeDepth;
    GenApiFormula m_formula;
};

std::optional<GenApiFormula> GenApiFormula::Parse(const std::string& text) {
    return FormulaParser(text).Run();
}

}  // namespace GenTL
