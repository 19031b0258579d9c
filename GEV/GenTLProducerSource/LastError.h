// The library-wide last-error record read by GCGetLastError: one per loaded
// library, shared by all threads (the most recent recording wins). Every
// access goes through a lock so a recording never tears a concurrent read.
#pragma once

#include <string>

#include "GenTL.h"

namespace GenTL {

class CTLIError {
public:
    virtual ~CTLIError() = default;
    std::string message;
    GC_ERROR code = GC_ERR_SUCCESS;
};

// Creates the record if absent, then replaces its code and message.
void RecordLastError(GC_ERROR code, const std::string& text);
// Makes the record's process-wide state now (see CLibraryController).
void PrepareLastError();

// Copies the record out; false when no record exists yet.
bool ReadLastError(GC_ERROR* code, std::string* text);

// Deletes the record (library teardown only).
void DiscardLastError();

}  // namespace GenTL
