// printf-style formatting that renders the texts of the producer exactly as
// the Windows C library would: "%p" prints 16 upper-case hex digits, and the
// "I64" length prefix is accepted. Arguments are type-checked at run time, so
// a pointer can never be read as an integer or the other way round.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace Platform {

struct FormatArg {
    enum class Kind { Signed, Unsigned, Pointer, Text } kind;
    int64_t s = 0;
    uint64_t u = 0;
    const void* p = nullptr;
    const char* text = nullptr;

    template <class T, typename std::enable_if<
                           std::is_integral<T>::value && std::is_signed<T>::value, int>::type = 0>
    FormatArg(T v) : kind(Kind::Signed), s(v) {}
    template <class T, typename std::enable_if<
                           std::is_integral<T>::value && !std::is_signed<T>::value, int>::type = 0>
    FormatArg(T v) : kind(Kind::Unsigned), u(v) {}
    template <class T, typename std::enable_if<std::is_enum<T>::value, int>::type = 0>
    FormatArg(T v) : kind(Kind::Signed), s(static_cast<int64_t>(v)) {}
    FormatArg(const char* v) : kind(Kind::Text), text(v) {}
    FormatArg(char* v) : kind(Kind::Text), text(v) {}
    FormatArg(const std::string& v) : kind(Kind::Text), text(v.c_str()) {}
    template <class T>
    FormatArg(T* v) : kind(Kind::Pointer), p(v) {}
    FormatArg(std::nullptr_t) : kind(Kind::Pointer), p(nullptr) {}
};

std::string FormatArgs(const char* format, const std::vector<FormatArg>& args);

template <class... Args>
std::string Format(const char* format, const Args&... args) {
    return FormatArgs(format, std::vector<FormatArg>{FormatArg(args)...});
}

}  // namespace Platform
