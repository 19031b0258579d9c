// The export boundary: runs the body of an exported function, turns whatever
// it throws into a GC_ERROR with its last-error record, and records success.
#pragma once

#include <new>
#include <stdexcept>
#include <string>

#include "Exceptions.h"
#include "LastError.h"

namespace GenTL {

struct BoundaryOptions {
    enum class Kind {
        Plain,       // other std::exception and foreign exceptions: GC_ERR_ERROR, record untouched
        Port,        // other std::exception: GC_ERR_INVALID_HANDLE with its text
        OpenDevice,  // other std::exception: GC_ERR_ERROR with its text
    };
    Kind kind = Kind::Plain;
    // Recorded with GC_ERR_ERROR when something that is no std::exception escapes.
    const char* unknownText = nullptr;
    bool recordSuccess = true;
};

// The code of a std::runtime_error, chosen by its text.
GC_ERROR MapRuntimeError(const char* text);

// Records (code, text) and returns code.
inline GC_ERROR Fail(GC_ERROR code, const char* text) {
    RecordLastError(code, text);
    return code;
}

template <class Body>
GC_ERROR RunExport(const BoundaryOptions& options, Body&& body) noexcept {
    GC_ERROR result = GC_ERR_ERROR;
    try {
        result = body();
    } catch (const std::out_of_range& e) {
        return Fail(GC_ERR_ERROR, e.what());
    } catch (const std::runtime_error& e) {
        return Fail(MapRuntimeError(e.what()), e.what());
    } catch (const std::logic_error& e) {
        return Fail(GC_ERR_ERROR, e.what());
    } catch (const gentl_exception& e) {
        return Fail(e.GetCode(), e.what());
    } catch (const std::exception& e) {
        try {
            switch (options.kind) {
                case BoundaryOptions::Kind::Port:
                    return Fail(GC_ERR_INVALID_HANDLE, e.what());
                case BoundaryOptions::Kind::OpenDevice:
                    return Fail(GC_ERR_ERROR, e.what());
                case BoundaryOptions::Kind::Plain:
                    break;
            }
            if (options.unknownText != nullptr) RecordLastError(GC_ERR_ERROR, options.unknownText);
        } catch (...) {
        }
        return GC_ERR_ERROR;
    } catch (...) {
        try {
            if (options.unknownText != nullptr) RecordLastError(GC_ERR_ERROR, options.unknownText);
        } catch (...) {
        }
        return GC_ERR_ERROR;
    }
    if (result == GC_ERR_SUCCESS && options.recordSuccess) {
        try {
            RecordLastError(GC_ERR_SUCCESS, "GC_ERR_SUCCESS");
        } catch (...) {
            return GC_ERR_ERROR;
        }
    }
    return result;
}

template <class Body>
GC_ERROR RunExport(Body&& body) noexcept {
    return RunExport(BoundaryOptions(), std::forward<Body>(body));
}

}  // namespace GenTL
