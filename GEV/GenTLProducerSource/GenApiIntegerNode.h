// GenApiIntegerNode: one integer feature of a camera's GenApi description (its
// PayloadSize, say) compiled once into the chain of nodes it depends on, then
// evaluated from the camera's registers as often as needed. The producer has
// no GenApi engine; this understands what cameras commonly put behind such a
// feature: Integer, Enumeration and Float with <Value> or <pValue>; IntReg and
// MaskedIntReg (Address, pAddress, an inline IntSwissKnife address, Length,
// LSB/MSB or Bit, Sign, Endianess, little-endian by default; pPort is taken
// to be the device); IntSwissKnife and SwissKnife (pVariable, Constant,
// Formula); Converter and IntConverter (pValue as TO, FormulaFrom).
// Anything else in the chain, a cycle, or a chain deeper or longer than the
// bounds makes the compile fail: the value is then unknown, never guessed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "GenApiFormula.h"
#include "GenApiXml.h"

namespace GenTL {

// Reads `length` bytes of the camera at `address` into `out`, in the camera's
// byte order; false when the read failed.
using RegisterReader = std::function<bool(uint64_t address, size_t length, uint8_t* out)>;

class GenApiIntegerNode {
public:
    static constexpr size_t kMaxSteps = 256;  // nodes in one chain
    static constexpr size_t kMaxDepth = 32;   // nodes referring to nodes

    // Nothing when the node is missing or its chain holds anything unsupported.
    static std::optional<GenApiIntegerNode> Compile(const GenApiXml& xml, const std::string& name);

    // The node's value now, from the camera's registers; nothing when a read
    // fails or a formula cannot be evaluated (a division by zero, say).
    std::optional<int64_t> Evaluate(const RegisterReader& read) const;

    // A compiled node; its inputs are always steps compiled before it, so one
    // pass in order evaluates the chain.
    enum class Kind : uint8_t { Constant, Register, Formula };
    struct Step {
        Kind kind = Kind::Constant;
        bool real = false;         // a float node (Constant, Formula)
        int64_t integer = 0;       // Constant; the fixed part of a Register's address
        double floating = 0;       // Constant of a float node
        std::vector<uint32_t> in;  // the Register's address parts; the Formula's variables
        // Register.
        uint8_t length = 0;
        bool bigEndian = false;
        bool isSigned = false;
        uint8_t shift = 0;
        uint8_t width = 0;  // bits of the value, from `shift` up
        // Formula.
        std::optional<GenApiFormula> formula;
    };

private:
    friend class IntegerNodeCompiler;
    std::vector<Step> m_steps;
    uint32_t m_root = 0;
};

}  // namespace GenTL
