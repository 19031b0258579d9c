// Library-wide exports: GCInitLib, GCCloseLib, GCGetInfo, GCGetLastError.
#include <cstring>

#include "Boundary.h"
#include "ExportFrame.h"
#include "InfoCopy.h"
#include "LibraryController.h"
#include "LibraryGlobals.h"
#include "LibraryInfo.h"

using namespace GenTL;

namespace {

// GCGetLastError's copy of the record into the consumer's buffer (a null or
// empty buffer asks for the size).
GC_ERROR ReadRecordInto(GC_ERROR* localCode, char* sErrText, size_t* piSize) {
    GC_ERROR recordCode = GC_ERR_SUCCESS;
    std::string message;
    if (!ReadLastError(&recordCode, &message)) return GC_ERR_NO_DATA;
    if (piSize == nullptr) return GC_ERR_INVALID_PARAMETER;
    const size_t required = message.size() + 1;
    if (*piSize == 0 || sErrText == nullptr) {
        *piSize = required;
        return GC_ERR_SUCCESS;
    }
    if (*piSize < required) return GC_ERR_BUFFER_TOO_SMALL;
    std::memcpy(sErrText, message.c_str(), required);
    *piSize = required;
    *localCode = recordCode;
    return GC_ERR_SUCCESS;
}

}  // namespace

GC_API GCInitLib(void) {
    NoteCallingThread();
    return Controller().InitLib();
}

GC_API GCCloseLib(void) {
    NoteCallingThread();
    return Controller().CloseLib();
}

GC_API GCGetInfo(TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckInitialised()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckInfoArguments(piType, pBuffer, piSize);
        switch (iInfoCmd) {
            case TL_INFO_ID:
            case TL_INFO_NAME: {
                std::string name;
                // A path with no separator is an unnamed module: fail without a record.
                if (!LibraryFileName(LibraryPath(), &name)) return GC_ERR_ERROR;
                CopyInfoString(piType, pBuffer, piSize, name);
                break;
            }
            case TL_INFO_PATHNAME:
                CopyInfoString(piType, pBuffer, piSize, LibraryPath().substr(0, 2048));
                break;
            default:
                CopyCommonTLInfo(iInfoCmd, piType, pBuffer, piSize);
                break;
        }
        return GC_ERR_SUCCESS;
    });
}

GC_API GCGetLastError(GC_ERROR* piErrorCode, char* sErrText, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckInitialised()) return error;
    LibraryGlobals& globals = Globals();
    BoundaryOptions options;
    options.recordSuccess = false;
    return RunExport(options, [&]() -> GC_ERROR {
        CheckPointer(piErrorCode, "piErrorCode");
        GC_ERROR localCode = GC_ERR_SUCCESS;
        const GC_ERROR result = ReadRecordInto(&localCode, sErrText, piSize);
        if (result != GC_ERR_SUCCESS && globals.pendingResourceInUse.exchange(false)) {
            RecordLastError(GC_ERR_RESOURCE_IN_USE, "GC_ERR_RESOURCE_IN_USE");
        }
        *piErrorCode = localCode;
        return result;
    });
}
