#include "GenApiIntegerNode.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

namespace GenTL {
namespace {

constexpr uint32_t kFailed = 0xFFFFFFFF;

// A GenApi integer literal: decimal or 0x hexadecimal, optionally signed.
std::optional<int64_t> IntegerLiteral(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    const bool hex = text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0;
    if (hex) i += 2;
    if (i >= text.size() || text.size() - i > (hex ? 16 : 19)) return std::nullopt;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    }
    return static_cast<int64_t>(negative ? 0 - value : value);
}

std::optional<double> FloatLiteral(const std::string& text) {
    if (text.empty() || text.size() > 64) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// A float's integer value: rounded to the nearest, as a feature read as integer is.
std::optional<int64_t> Rounded(double value) {
    const double r = std::round(value);
    if (!std::isfinite(r) || r < -9.2e18 || r > 9.2e18) return std::nullopt;
    return static_cast<int64_t>(r);
}

}  // namespace

class IntegerNodeCompiler {
public:
    explicit IntegerNodeCompiler(const GenApiXml& xml) : m_xml(xml) {}

    std::optional<GenApiIntegerNode> Run(const std::string& name) {
        if (!m_xml.Valid()) return std::nullopt;
        const uint32_t root = ByName(name, 0);
        if (root == kFailed) return std::nullopt;
        m_node.m_root = root;
        return std::move(m_node);
    }

private:
    using Step = GenApiIntegerNode::Step;
    using Kind = GenApiIntegerNode::Kind;

    uint32_t ByName(const std::string& name, size_t depth) {
        const size_t element = m_xml.Node(name);
        return element == GenApiXml::kNone ? kFailed : ByElement(element, depth);
    }

    uint32_t ByElement(size_t element, size_t depth) {
        const auto done = m_compiled.find(element);
        if (done != m_compiled.end()) return done->second;
        // A node met again on its own way down is a cycle.
        if (depth > GenApiIntegerNode::kMaxDepth || !m_open.insert(element).second) return kFailed;
        const uint32_t step = Compile(element, depth);
        m_open.erase(element);
        m_compiled.emplace(element, step);
        return step;
    }

    uint32_t Push(Step step) {
        if (m_node.m_steps.size() >= GenApiIntegerNode::kMaxSteps) return kFailed;
        m_node.m_steps.push_back(std::move(step));
        return static_cast<uint32_t>(m_node.m_steps.size() - 1);
    }

    const std::string* Text(size_t element, const char* tag) const {
        const size_t child = m_xml.Child(element, tag);
        return child == GenApiXml::kNone ? nullptr : &m_xml.At(child).text;
    }

    uint32_t Compile(size_t element, size_t depth) {
        const std::string& tag = m_xml.At(element).tag;
        if (tag == "Integer" || tag == "Enumeration" || tag == "Float")
            return Value(element, depth);
        if (tag == "IntReg" || tag == "MaskedIntReg") return Register(element, depth);
        if (tag == "IntSwissKnife" || tag == "SwissKnife") return Formula(element, depth, false);
        if (tag == "IntConverter" || tag == "Converter") return Formula(element, depth, true);
        return kFailed;
    }

    uint32_t Value(size_t element, size_t depth) {
        // Selected values (pIndex) are not followed.
        if (m_xml.Child(element, "pIndex") != GenApiXml::kNone) return kFailed;
        if (const std::string* target = Text(element, "pValue")) return ByName(*target, depth + 1);
        const std::string* text = Text(element, "Value");
        if (text == nullptr) return kFailed;
        Step step;
        if (m_xml.At(element).tag == "Float") {
            const auto value = FloatLiteral(*text);
            if (!value) return kFailed;
            step.real = true;
            step.floating = *value;
        } else {
            const auto value = IntegerLiteral(*text);
            if (!value) return kFailed;
            step.integer = *value;
        }
        return Push(std::move(step));
    }

    uint32_t Register(size_t element, size_t depth) {
        Step step;
        step.kind = Kind::Register;
        bool addressed = false;
        for (size_t child : m_xml.At(element).children) {
            const GenApiXml::Element& part = m_xml.At(child);
            if (part.tag == "pIndex") return kFailed;  // register arrays are not followed
            uint32_t input = kFailed;
            if (part.tag == "Address") {
                const auto value = IntegerLiteral(part.text);
                if (!value) return kFailed;
                step.integer = static_cast<int64_t>(static_cast<uint64_t>(step.integer) +
                                                    static_cast<uint64_t>(*value));
                addressed = true;
                continue;
            }
            if (part.tag == "pAddress")
                input = ByName(part.text, depth + 1);
            else if (part.tag == "IntSwissKnife")
                input = ByElement(child, depth + 1);
            else
                continue;
            if (input == kFailed) return kFailed;
            step.in.push_back(input);
            addressed = true;
        }
        const std::string* length = Text(element, "Length");
        const auto bytes = length ? IntegerLiteral(*length) : std::nullopt;
        if (!addressed || !bytes || *bytes < 1 || *bytes > 8) return kFailed;
        step.length = static_cast<uint8_t>(*bytes);
        const std::string* endianess = Text(element, "Endianess");
        step.bigEndian = endianess && *endianess == "BigEndian";
        const std::string* sign = Text(element, "Sign");
        step.isSigned = sign && *sign == "Signed";
        const int bits = 8 * step.length;
        int lsb = 0, msb = 0;
        if (m_xml.At(element).tag == "MaskedIntReg") {
            const std::string* bit = Text(element, "Bit");
            const std::string* lsbText = Text(element, "LSB");
            const std::string* msbText = Text(element, "MSB");
            const auto l = IntegerLiteral(bit ? *bit : lsbText ? *lsbText : "");
            const auto m = IntegerLiteral(bit ? *bit : msbText ? *msbText : "");
            if (!l || !m || *l < 0 || *m < 0 || *l >= bits || *m >= bits) return kFailed;
            lsb = static_cast<int>(*l);
            msb = static_cast<int>(*m);
        } else {
            // The whole register, in the numbering of its byte order.
            lsb = step.bigEndian ? bits - 1 : 0;
            msb = step.bigEndian ? 0 : bits - 1;
        }
        // Big-endian registers number their bits from the most significant one.
        if (step.bigEndian) {
            if (lsb < msb) return kFailed;
            step.shift = static_cast<uint8_t>(bits - 1 - lsb);
            step.width = static_cast<uint8_t>(lsb - msb + 1);
        } else {
            if (msb < lsb) return kFailed;
            step.shift = static_cast<uint8_t>(lsb);
            step.width = static_cast<uint8_t>(msb - lsb + 1);
        }
        return Push(std::move(step));
    }

    uint32_t Formula(size_t element, size_t depth, bool converter) {
        const std::string* text = Text(element, converter ? "FormulaFrom" : "Formula");
        if (text == nullptr) return kFailed;
        Step step;
        step.kind = Kind::Formula;
        step.real = m_xml.At(element).tag == "SwissKnife" || m_xml.At(element).tag == "Converter";
        step.formula = GenApiFormula::Parse(*text);
        if (!step.formula) return kFailed;
        // The formula's names: pVariable nodes, Constant values, and a converter's TO.
        std::map<std::string, uint32_t> names;
        for (size_t child : m_xml.At(element).children) {
            const GenApiXml::Element& part = m_xml.At(child);
            uint32_t input = kFailed;
            if (part.tag == "pVariable") {
                input = ByName(part.text, depth + 1);
            } else if (part.tag == "Constant") {
                Step constant;
                const auto value = FloatLiteral(part.text);
                if (!value) return kFailed;
                const auto whole = IntegerLiteral(part.text);
                constant.real = !whole;
                constant.integer = whole ? *whole : 0;
                constant.floating = *value;
                input = Push(std::move(constant));
            } else if (converter && part.tag == "pValue") {
                input = ByName(part.text, depth + 1);
                names["TO"] = input;
                continue;
            } else {
                continue;
            }
            if (input == kFailed || part.name.empty()) return kFailed;
            names[part.name] = input;
        }
        for (const std::string& variable : step.formula->Variables()) {
            const auto found = names.find(variable);
            if (found == names.end() || found->second == kFailed) return kFailed;
            step.in.push_back(found->second);
        }
        return Push(std::move(step));
    }

    const GenApiXml& m_xml;
    GenApiIntegerNode m_node;
    std::map<size_t, uint32_t> m_compiled;
    std::set<size_t> m_open;
};

std::optional<GenApiIntegerNode> GenApiIntegerNode::Compile(const GenApiXml& xml,
                                                            const std::string& name) {
    return IntegerNodeCompiler(xml).Run(name);
}

std::optional<int64_t> GenApiIntegerNode::Evaluate(const RegisterReader& read) const {
    struct Value {
        int64_t integer = 0;
        double real = 0;
    };
    std::vector<std::optional<Value>> values(m_steps.size());
    for (size_t i = 0; i < m_steps.size(); ++i) {
        const Step& step = m_steps[i];
        std::vector<Value> inputs;
        bool known = true;
        for (uint32_t input : step.in) {
            if (input >= i || !values[input]) {
                known = false;
                break;
            }
            inputs.push_back(*values[input]);
        }
        if (!known) continue;
        Value value;
        if (step.kind == Kind::Constant) {
            value = {step.integer, step.real ? step.floating : static_cast<double>(step.integer)};
        } else if (step.kind == Kind::Register) {
            uint64_t address = static_cast<uint64_t>(step.integer);
            for (const Value& part : inputs) address += static_cast<uint64_t>(part.integer);
            uint8_t bytes[8] = {};
            if (!read || !read(address, step.length, bytes)) continue;
            uint64_t raw = 0;
            for (size_t b = 0; b < step.length; ++b) {
                const size_t at = step.bigEndian ? b : step.length - 1 - b;
                raw = raw << 8 | bytes[at];
            }
            raw >>= step.shift;
            if (step.width < 64) raw &= (uint64_t{1} << step.width) - 1;
            if (step.isSigned && step.width < 64 && (raw >> (step.width - 1)) & 1)
                raw |= ~uint64_t{0} << step.width;
            value.integer = static_cast<int64_t>(raw);
            value.real = static_cast<double>(value.integer);
        } else if (step.real) {
            std::vector<double> variables;
            for (const Value& input : inputs) variables.push_back(input.real);
            const auto result = step.formula->EvaluateFloat(variables);
            const auto whole = result ? Rounded(*result) : std::nullopt;
            if (!whole) continue;
            value = {*whole, *result};
        } else {
            std::vector<int64_t> variables;
            for (const Value& input : inputs) variables.push_back(input.integer);
            const auto result = step.formula->EvaluateInteger(variables);
            if (!result) continue;
            value = {*result, static_cast<double>(*result)};
        }
        values[i] = value;
    }
    if (m_root >= values.size() || !values[m_root]) return std::nullopt;
    return values[m_root]->integer;
}

}  // namespace GenTL
