// Arguments of one subcommand: its options (declared per command) and the
// positional words left over.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace Gevtl {

// Bad usage: printed with the command's usage line, exit code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    std::string name;  // "--name" or "-n"
    bool takesValue = false;
    std::string help;
};

class Arguments {
public:
    // Throws UsageError for an option not in `specs` or one missing its value.
    Arguments(const std::vector<std::string>& words, const std::vector<OptionSpec>& specs);

    bool Has(const std::string& name) const { return m_values.count(name) != 0; }
    std::string Value(const std::string& name, const std::string& fallback = {}) const;
    // A number in decimal or 0x hex; UsageError when it is not one.
    uint64_t Number(const std::string& name, uint64_t fallback) const;
    const std::vector<std::string>& Positional() const { return m_positional; }

private:
    std::map<std::string, std::string> m_values;
    std::vector<std::string> m_positional;
};

// Decimal, 0x hex or (with a leading '-') negative decimal; UsageError otherwise.
int64_t ParseInteger(const std::string& text);

}  // namespace Gevtl
