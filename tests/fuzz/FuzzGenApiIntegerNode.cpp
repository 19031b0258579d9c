// A camera's GenApi description as the producer reads its PayloadSize from it:
// whatever the text, the scan, compile and evaluation end, stay in bounds and
// throw nothing. Registers answer with bytes made from their address; some fail.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "GenApiFormula.h"
#include "GenApiIntegerNode.h"
#include "GenApiXml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace GenTL;
    const std::string text(reinterpret_cast<const char*>(data), size);
    int reads = 0;
    const RegisterReader read = [&](uint64_t address, size_t length, uint8_t* out) {
        if (length == 0 || length > 8) std::abort();
        ++reads;
        if (address % 7 == 3) return false;
        for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>((address + i) * 37);
        return true;
    };
    const GenApiXml xml(text);
    if (!xml.Valid() && xml.Size() != 0) std::abort();
    for (const char* name : {"PayloadSize", "A", "B"}) {
        const auto node = GenApiIntegerNode::Compile(xml, name);
        if (node) node->Evaluate(read);
    }
    if (reads > 3 * static_cast<int>(GenApiIntegerNode::kMaxSteps)) std::abort();
    // The same bytes as a formula.
    const auto formula = GenApiFormula::Parse(text);
    if (formula) {
        std::vector<int64_t> integers(formula->Variables().size(), 3);
        std::vector<double> floats(formula->Variables().size(), -2.5);
        formula->EvaluateInteger(integers);
        formula->EvaluateFloat(floats);
    }
    return 0;
}
