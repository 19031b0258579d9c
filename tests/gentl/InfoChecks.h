// The checks of an info answer as a consumer built on the standard header
// makes them: the type, the size query, a buffer one byte short, strings with
// their NUL counted, and GC_ERR_NOT_IMPLEMENTED for commands no standard defines.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "CtiLibrary.h"

namespace GenTLTest {

using namespace GenTL;
using TestSupport::CtiLibrary;

// An info function reduced to its command and its output triple.
using InfoCall = std::function<GC_ERROR(int32_t, INFO_DATATYPE*, void*, size_t*)>;

struct Expected {
    int32_t command;
    INFO_DATATYPE type;
    bool mayBeUnavailable = false;  // GC_ERR_NOT_AVAILABLE is a valid answer
};

constexpr INFO_DATATYPE STRING = INFO_DATATYPE_STRING;
constexpr INFO_DATATYPE INT32 = INFO_DATATYPE_INT32;
constexpr INFO_DATATYPE UINT32 = INFO_DATATYPE_UINT32;
constexpr INFO_DATATYPE UINT64 = INFO_DATATYPE_UINT64;
constexpr INFO_DATATYPE SIZET = INFO_DATATYPE_SIZET;
constexpr INFO_DATATYPE BOOL8 = INFO_DATATYPE_BOOL8;
constexpr INFO_DATATYPE PTR = INFO_DATATYPE_PTR;
constexpr INFO_DATATYPE BUFFER = INFO_DATATYPE_BUFFER;

// Commands no standard defines, below and above the custom range's start.
inline const int32_t kUnknownCommands[] = {999, 0x7FFFFF00};

// One command: what its answer must look like. Returns the delivered bytes.
inline std::vector<uint8_t> CheckCommand(CtiLibrary& cti, const InfoCall& call,
                                         const Expected& entry) {
    SCOPED_TRACE("command " + std::to_string(entry.command));
    INFO_DATATYPE type = 0;
    size_t size = 0;
    const GC_ERROR query = call(entry.command, &type, nullptr, &size);
    if (query == GC_ERR_NOT_AVAILABLE && entry.mayBeUnavailable) return {};
    EXPECT_EQ(query, GC_ERR_SUCCESS) << cti.LastErrorText();
    if (query != GC_ERR_SUCCESS) return {};
    EXPECT_EQ(type, entry.type);
    EXPECT_GT(size, 0u) << "a size query must give the size";
    if (size == 0) return {};

    // Whole: the same size, nothing written past it.
    std::vector<uint8_t> buffer(size + 8, 0xCC);
    size_t whole = size;
    type = 0;
    EXPECT_EQ(call(entry.command, &type, buffer.data(), &whole), GC_ERR_SUCCESS)
        << cti.LastErrorText();
    EXPECT_EQ(type, entry.type);
    EXPECT_EQ(whole, size);
    for (size_t i = size; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xCC) << "written past";
    if (entry.type == STRING) {
        EXPECT_EQ(buffer[size - 1], 0) << "not NUL-terminated";
        EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(buffer.data())), size - 1)
            << "the size must count the text and its NUL";
    }

    // One byte short.
    if (size > 1) {
        std::vector<uint8_t> shortBuffer(size - 1, 0);
        size_t shortSize = size - 1;
        EXPECT_EQ(call(entry.command, &type, shortBuffer.data(), &shortSize),
                  GC_ERR_BUFFER_TOO_SMALL);
    }
    buffer.resize(size);
    return buffer;
}

inline void CheckTable(CtiLibrary& cti, const char* what, const InfoCall& call,
                       const std::vector<Expected>& table) {
    SCOPED_TRACE(what);
    for (const Expected& entry : table) CheckCommand(cti, call, entry);
    for (int32_t unknown : kUnknownCommands) {
        INFO_DATATYPE type = 0;
        uint8_t buffer[64] = {};
        size_t size = sizeof buffer;
        EXPECT_EQ(call(unknown, &type, buffer, &size), GC_ERR_NOT_IMPLEMENTED)
            << "unknown command " << unknown << ": " << cti.LastErrorText();
    }
}

inline std::string Text(CtiLibrary& cti, const InfoCall& call, int32_t command) {
    std::vector<uint8_t> bytes = CheckCommand(cti, call, {command, STRING});
    return bytes.empty() ? std::string() : std::string(reinterpret_cast<char*>(bytes.data()));
}

inline int32_t Int32(CtiLibrary& cti, const InfoCall& call, int32_t command) {
    std::vector<uint8_t> bytes = CheckCommand(cti, call, {command, INT32});
    int32_t value = -1;
    if (bytes.size() == sizeof value) std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

inline const std::vector<Expected> kPortInfo = {
    {PORT_INFO_ID, STRING},        {PORT_INFO_VENDOR, STRING},     {PORT_INFO_MODEL, STRING},
    {PORT_INFO_TLTYPE, STRING},    {PORT_INFO_MODULE, STRING},     {PORT_INFO_LITTLE_ENDIAN, BOOL8},
    {PORT_INFO_BIG_ENDIAN, BOOL8}, {PORT_INFO_ACCESS_READ, BOOL8}, {PORT_INFO_ACCESS_WRITE, BOOL8},
    {PORT_INFO_ACCESS_NA, BOOL8},  {PORT_INFO_ACCESS_NI, BOOL8},   {PORT_INFO_VERSION, STRING},
    {PORT_INFO_PORTNAME, STRING},
};

inline const std::vector<Expected> kUrlInfo = {
    {URL_INFO_URL, STRING},
    {URL_INFO_SCHEMA_VER_MAJOR, INT32, true},
    {URL_INFO_SCHEMA_VER_MINOR, INT32, true},
    {URL_INFO_FILE_VER_MAJOR, INT32, true},
    {URL_INFO_FILE_VER_MINOR, INT32, true},
    {URL_INFO_FILE_VER_SUBMINOR, INT32, true},
    {URL_INFO_FILE_SHA1_HASH, BUFFER, true},
    {URL_INFO_FILE_REGISTER_ADDRESS, UINT64, true},
    {URL_INFO_FILE_SIZE, UINT64, true},
    {URL_INFO_SCHEME, INT32},
    {URL_INFO_FILENAME, STRING},
};

inline const std::vector<Expected> kDeviceInfo = {{DEVICE_INFO_ID, STRING},
                                                  {DEVICE_INFO_VENDOR, STRING},
                                                  {DEVICE_INFO_MODEL, STRING},
                                                  {DEVICE_INFO_TLTYPE, STRING},
                                                  {DEVICE_INFO_DISPLAYNAME, STRING},
                                                  {DEVICE_INFO_ACCESS_STATUS, INT32},
                                                  {DEVICE_INFO_USER_DEFINED_NAME, STRING, true},
                                                  {DEVICE_INFO_SERIAL_NUMBER, STRING, true},
                                                  {DEVICE_INFO_VERSION, STRING, true},
                                                  {DEVICE_INFO_TIMESTAMP_FREQUENCY, UINT64, true}};

inline InfoCall PortInfoOf(CtiLibrary& cti, PORT_HANDLE port) {
    return [&cti, port](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
        return cti.GCGetPortInfo(port, command, type, buffer, size);
    };
}

inline InfoCall UrlInfoOf(CtiLibrary& cti, PORT_HANDLE port) {
    return [&cti, port](int32_t command, INFO_DATATYPE* type, void* buffer, size_t* size) {
        return cti.GCGetPortURLInfo(port, 0, command, type, buffer, size);
    };
}

// The description a port's URL points at, read through the port.
inline std::string Description(CtiLibrary& cti, PORT_HANDLE port) {
    auto url = UrlInfoOf(cti, port);
    std::vector<uint8_t> address = CheckCommand(cti, url, {URL_INFO_FILE_REGISTER_ADDRESS, UINT64});
    std::vector<uint8_t> length = CheckCommand(cti, url, {URL_INFO_FILE_SIZE, UINT64});
    if (address.size() != 8 || length.size() != 8) return {};
    uint64_t at = 0, size = 0;
    std::memcpy(&at, address.data(), 8);
    std::memcpy(&size, length.data(), 8);
    std::vector<char> xml(size + 1, 0);
    size_t read = size;
    EXPECT_EQ(cti.GCReadPort(port, at, xml.data(), &read), GC_ERR_SUCCESS);
    return std::string(xml.data());
}

// The decimal value of attribute NAME in a start tag (name="12" or name='12'),
// -1 when it is missing or not a number.
inline int NumericAttribute(const std::string& tag, const std::string& name) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    for (size_t at = tag.find(name); at != std::string::npos; at = tag.find(name, at + 1)) {
        if (at == 0 || !blank(tag[at - 1])) continue;
        size_t i = at + name.size();
        while (i < tag.size() && blank(tag[i])) ++i;
        if (i >= tag.size() || tag[i] != '=') continue;
        ++i;
        while (i < tag.size() && blank(tag[i])) ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
        const char quote = tag[i++];
        const size_t digits = i;
        while (i < tag.size() && tag[i] >= '0' && tag[i] <= '9') ++i;
        if (i == digits || i >= tag.size() || tag[i] != quote) return -1;
        return std::stoi(tag.substr(digits, i - digits));
    }
    return -1;
}

// The URL info versions are the ones the description's start tag declares.
inline void ExpectVersionsOfTheFile(CtiLibrary& cti, PORT_HANDLE port) {
    const std::string xml = Description(cti, port);
    const size_t begin = xml.find("<RegisterDescription");
    ASSERT_NE(begin, std::string::npos) << "no plain description behind the URL";
    const std::string tag = xml.substr(begin, xml.find('>', begin) - begin);
    auto attribute = [&](const char* name) { return NumericAttribute(tag, name); };
    auto url = UrlInfoOf(cti, port);
    EXPECT_EQ(Int32(cti, url, URL_INFO_SCHEMA_VER_MAJOR), attribute("SchemaMajorVersion"));
    EXPECT_EQ(Int32(cti, url, URL_INFO_SCHEMA_VER_MINOR), attribute("SchemaMinorVersion"));
    EXPECT_EQ(Int32(cti, url, URL_INFO_FILE_VER_MAJOR), attribute("MajorVersion"));
    EXPECT_EQ(Int32(cti, url, URL_INFO_FILE_VER_MINOR), attribute("MinorVersion"));
    EXPECT_EQ(Int32(cti, url, URL_INFO_FILE_VER_SUBMINOR), attribute("SubMinorVersion"));
    EXPECT_EQ(Int32(cti, url, URL_INFO_SCHEME), URL_SCHEME_LOCAL);
    const std::string name = Text(cti, url, URL_INFO_FILENAME);
    EXPECT_FALSE(name.empty());
    EXPECT_NE(Text(cti, url, URL_INFO_URL).find(name), std::string::npos);
    // No second URL.
    INFO_DATATYPE type = 0;
    uint8_t buffer[8];
    size_t size = sizeof buffer;
    EXPECT_EQ(cti.GCGetPortURLInfo(port, 1, URL_INFO_URL, &type, buffer, &size),
              GC_ERR_INVALID_INDEX);
}

}  // namespace GenTLTest
