#include "StringFormat.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace Platform {
namespace {

std::string ConvertText(const std::string& flags, const FormatArg& arg) {
    char directive[48];
    const char* text = arg.kind == FormatArg::Kind::Text && arg.text ? arg.text : "(null)";
    std::snprintf(directive, sizeof directive, "%%%ss", flags.c_str());
    std::string result(std::strlen(text) + 64, '\0');
    int n = std::snprintf(&result[0], result.size(), directive, text);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) >= result.size()) {
        result.resize(static_cast<size_t>(n) + 1);
        std::snprintf(&result[0], result.size(), directive, text);
    }
    result.resize(static_cast<size_t>(n));
    return result;
}

// Renders one conversion with the C library, after the length modifiers of
// the source text have been replaced by the ones that match the argument.
// `wide`: the text asked for a 64-bit integer ("I64", "ll", ...); without it
// the Windows library reads a signed argument as a 32-bit int, so -1 under
// "%X" prints FFFFFFFF.
std::string Convert(const std::string& flags, char conversion, bool wide, const FormatArg& arg) {
    char directive[48];
    char out[512];
    switch (conversion) {
        case 'd':
        case 'i': {
            int64_t v = arg.kind == FormatArg::Kind::Signed ? arg.s : static_cast<int64_t>(arg.u);
            std::snprintf(directive, sizeof directive, "%%%s" PRId64, flags.c_str());
            std::snprintf(out, sizeof out, directive, v);
            return out;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            uint64_t v = arg.kind == FormatArg::Kind::Unsigned ? arg.u
                         : arg.kind == FormatArg::Kind::Signed
                             ? (wide ? static_cast<uint64_t>(arg.s)
                                     : static_cast<uint64_t>(static_cast<uint32_t>(arg.s)))
                             : static_cast<uint64_t>(reinterpret_cast<uintptr_t>(arg.p));
            const char* len = conversion == 'u'   ? PRIu64
                              : conversion == 'x' ? PRIx64
                              : conversion == 'X' ? PRIX64
                                                  : PRIo64;
            std::snprintf(directive, sizeof directive, "%%%s%s", flags.c_str(), len);
            std::snprintf(out, sizeof out, directive, v);
            return out;
        }
        case 'p': {
            // An integer printed as a pointer: Windows shows its 32-bit
            // register image, zero-extended.
            uint64_t v =
                arg.kind == FormatArg::Kind::Pointer
                    ? static_cast<uint64_t>(reinterpret_cast<uintptr_t>(arg.p))
                : arg.kind == FormatArg::Kind::Signed
                    ? (arg.s >= 0 ? static_cast<uint64_t>(arg.s) : static_cast<uint32_t>(arg.s))
                    : arg.u;
            std::snprintf(out, sizeof out, "%016" PRIX64, v);
            return out;
        }
        case 'c':
            if (arg.kind == FormatArg::Kind::Signed || arg.kind == FormatArg::Kind::Unsigned) {
                const int v = static_cast<unsigned char>(
                    arg.kind == FormatArg::Kind::Signed ? arg.s : static_cast<int64_t>(arg.u));
                std::snprintf(directive, sizeof directive, "%%%sc", flags.c_str());
                std::snprintf(out, sizeof out, directive, v);
                return out;
            }
            return ConvertText(flags, arg);
        case 's':
        default:
            return ConvertText(flags, arg);
    }
}

}  // namespace

std::string FormatArgs(const char* format, const std::vector<FormatArg>& args) {
    std::string result;
    size_t next = 0;
    for (const char* c = format; *c != '\0'; ++c) {
        if (*c != '%') {
            result += *c;
            continue;
        }
        ++c;
        if (*c == '%') {
            result += '%';
            continue;
        }
        std::string flags;
        while (*c != '\0' && std::strchr("-+ #0123456789.", *c) != nullptr) flags += *c++;
        // Length modifiers are dropped: the argument's own type decides, except
        // that a signed argument is cut to 32 bits unless 64 bits were asked for.
        bool wide = false;
        while (*c == 'l' || *c == 'h' || *c == 'z' || *c == 'j' || *c == 't' || *c == 'L') {
            if (*c == 'z' || *c == 'j' || *c == 't' || (c[0] == 'l' && c[1] == 'l')) wide = true;
            ++c;
        }
        if (c[0] == 'I' && c[1] == '6' && c[2] == '4') {
            wide = true;
            c += 3;
        }
        if (*c == '\0') break;
        if (next >= args.size()) {
            result += "(missing)";
            continue;
        }
        result += Convert(flags, *c, wide, args[next++]);
    }
    return result;
}

}  // namespace Platform
