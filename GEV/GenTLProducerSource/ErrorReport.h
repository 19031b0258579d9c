// The error report operation: a protocol library failure that a module does
// not return to its caller becomes an entry of the module's error event.
#pragma once

#include <cstdint>
#include <string>

#include "EventQueue.h"
#include "StringFormat.h"

namespace GenTL {

// Pushes "<text> Error Code: 0x<status in lower-case hex>" with GC_ERR_CUSTOM_ID.
// Never throws; dropped while the event is not registered.
inline void ReportError(CEventError& event, const std::string& text, uint16_t status) {
    event.Report(GC_ERR_CUSTOM_ID, text + Platform::Format(" Error Code: 0x%x", status));
}

}  // namespace GenTL
