// Option parsing: "--name value", "--name=value" and flags, anywhere among the words.
#include "CommandLine.h"

#include <cerrno>
#include <cstdlib>

namespace Gevtl {

Arguments::Arguments(const std::vector<std::string>& words, const std::vector<OptionSpec>& specs) {
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-' ||
            (word[1] >= '0' && word[1] <= '9')) {
            m_positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = word;
        std::string value;
        bool inlineValue = false;
        const size_t equals = word.find('=');
        if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
            inlineValue = true;
        }
        const OptionSpec* option = nullptr;
        for (const auto& candidate : specs)
            if (candidate.name == name) option = &candidate;
        if (option == nullptr) throw UsageError("unknown option " + name);
        if (option->takesValue && !inlineValue) {
            if (i + 1 >= words.size()) throw UsageError(name + " needs a value");
            value = words[++i];
        } else if (!option->takesValue && inlineValue) {
            throw UsageError(name + " takes no value");
        }
        m_values[name] = value;
    }
}

std::string Arguments::Value(const std::string& name, const std::string& fallback) const {
    const auto found = m_values.find(name);
    return found == m_values.end() ? fallback : found->second;
}

uint64_t Arguments::Number(const std::string& name, uint64_t fallback) const {
    if (!Has(name)) return fallback;
    const int64_t value = ParseInteger(Value(name));
    if (value < 0) throw UsageError(name + " must not be negative");
    return static_cast<uint64_t>(value);
}

int64_t ParseInteger(const std::string& text) {
    if (text.empty()) throw UsageError("empty number");
    errno = 0;
    char* end = nullptr;
    int64_t value;
    if (text[0] == '-') {
        value = std::strtoll(text.c_str(), &end, 10);
    } else {
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        value = static_cast<int64_t>(std::strtoull(text.c_str(), &end, hex ? 16 : 10));
    }
    if (errno != 0 || end == nullptr || *end != '\0') throw UsageError("not a number: " + text);
    return value;
}

}  // namespace Gevtl
