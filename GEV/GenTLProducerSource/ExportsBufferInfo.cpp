// Buffer information exports of the data stream: buffer info, chunk data,
// composite buffers and their segments, GenDC flows, and the parts of
// multi-part buffers.
#include <string>

#include "Boundary.h"
#include "DataStream.h"
#include "ExportFrame.h"
#include "InfoCopy.h"
#include "LibraryController.h"
#include "StringFormat.h"

using namespace GenTL;
using Platform::Format;

namespace {

// The registered buffer record behind hBuffer; an unknown pointer fails with
// the export's own exception and text.
template <class Failure>
ModuleRef LookUpBuffer(BUFFER_HANDLE hBuffer, const std::string& text) {
    ModuleRef buffer = Controller().FindBuffer(hBuffer);
    if (buffer == nullptr) throw Failure(text);
    return buffer;
}

std::string NotABufferRecordText(BUFFER_HANDLE hBuffer) {
    return Format("Specified hB is not a nullptr but invalid: hB = 0x%p.", hBuffer);
}

// One entry of DSGetBufferInfoStacked, answered without throwing.
GC_ERROR StackedEntry(CDataStream* stream, ICommonBase* buffer, DS_BUFFER_INFO_STACKED& entry) {
    try {
        stream->GetBufferInfo(buffer, entry.iInfoCmd, &entry.iType, entry.pBuffer, &entry.iSize);
        return GC_ERR_SUCCESS;
    } catch (const gentl_exception& e) {
        return e.GetCode();
    } catch (const std::runtime_error& e) {
        return MapRuntimeError(e.what());
    } catch (...) {
        return GC_ERR_ERROR;
    }
}

// One entry of DSGetBufferPartInfoStacked, answered without throwing.
GC_ERROR StackedPartEntry(CDataStream* stream, ICommonBase* buffer,
                          DS_BUFFER_PART_INFO_STACKED& entry) {
    try {
        stream->GetBufferPartInfo(buffer, entry.iPartIndex, entry.iInfoCmd, &entry.iType,
                                  entry.pBuffer, &entry.iSize);
        return GC_ERR_SUCCESS;
    } catch (const gentl_exception& e) {
        return e.GetCode();
    } catch (const std::runtime_error& e) {
        return MapRuntimeError(e.what());
    } catch (...) {
        return GC_ERR_ERROR;
    }
}

// The stacked queries: each entry carries its own result (an unknown buffer
// fails every entry); only an entry with a buffer and a zero size fails the
// whole call.
template <class Entry, class Answer>
GC_ERROR AnswerStacked(Entry* entries, size_t count, const ICommonBase* buffer, Answer answer) {
    for (size_t i = 0; i < count; ++i) {
        Entry& entry = entries[i];
        if (entry.pBuffer != nullptr && entry.iSize == 0) {
            throw invalid_parameter_exception(
                Format("Specified &pInfoStacked[i].iSize is invalid even though "
                       "pInfoStacked[i].pBuffer is present: &pInfoStacked[i].iSize = 0x%p, "
                       "*&pInfoStacked[i].iSize = %d, pInfoStacked[i].pBuffer = 0x%p.",
                       &entry.iSize, entry.iSize, entry.pBuffer));
        }
        entry.iResult = buffer == nullptr ? GC_ERR_INVALID_PARAMETER : answer(entry);
    }
    return GC_ERR_SUCCESS;
}

}  // namespace

GC_API DSGetBufferInfo(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer, BUFFER_INFO_CMD iInfoCmd,
                       INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckInfoArguments(piType, pBuffer, piSize);
        ModuleRef stream = LookUpDataStream(hDataStream);
        ModuleRef buffer =
            LookUpBuffer<invalid_parameter_exception>(hBuffer, NotABufferRecordText(hBuffer));
        AsDataStream(stream)->GetBufferInfo(buffer.get(), iInfoCmd, piType, pBuffer, piSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API DSGetBufferInfoStacked(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer,
                              DS_BUFFER_INFO_STACKED* pInfoStacked, size_t iNumInfos) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckPointer(pInfoStacked, "pInfoStacked");
        if (iNumInfos == 0) throw invalid_parameter_exception("Parameter iNumInfos is 0.");
        ModuleRef stream = LookUpDataStream(hDataStream);
        ModuleRef buffer = Controller().FindBuffer(hBuffer);
        return AnswerStacked(pInfoStacked, iNumInfos, buffer.get(), [&](auto& entry) {
            return StackedEntry(AsDataStream(stream), buffer.get(), entry);
        });
    });
}

GC_API DSGetBufferChunkData(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer,
                            SINGLE_CHUNK_DATA* pChunkData, size_t* piNumChunks) {
    // No entry check: the handle checks alone guard this export.
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        ModuleRef stream = LookUpDataStream(hDataStream);
        CheckHandle(hBuffer, "hBuffer");
        ModuleRef buffer = LookUpBuffer<invalid_handle_exception>(
            hBuffer, "The specified announced buffer is not found.");
        if (piNumChunks == nullptr && pChunkData == nullptr) {
            CheckPointer(pChunkData, "pChunkData");
        }
        CheckPointer(piNumChunks, "piNumChunks");
        // The walk's own failures are results, recorded by the module.
        return AsDataStream(stream)->GetBufferChunkData(buffer.get(), pChunkData, piNumChunks);
    });
}

GC_API DSGetNumBufferParts(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer, uint32_t* piNumParts) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckPointer(piNumParts, "piNumParts");
        ModuleRef stream = LookUpDataStream(hDataStream);
        ModuleRef buffer = LookUpBuffer<invalid_handle_exception>(
            hBuffer, Format("Specified hBuffer is invalid: hBuffer = 0x%p.", hBuffer));
        *piNumParts = AsDataStream(stream)->NumBufferParts(buffer.get());
        return GC_ERR_SUCCESS;
    });
}

GC_API DSGetBufferPartInfo(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer, uint32_t iPartIndex,
                           BUFFER_PART_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                           size_t* piSize) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckInfoArguments(piType, pBuffer, piSize);
        ModuleRef stream = LookUpDataStream(hDataStream);
        ModuleRef buffer =
            LookUpBuffer<invalid_parameter_exception>(hBuffer, NotABufferRecordText(hBuffer));
        AsDataStream(stream)->GetBufferPartInfo(buffer.get(), iPartIndex, iInfoCmd, piType, pBuffer,
                                                piSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API DSGetBufferPartInfoStacked(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer,
                                  DS_BUFFER_PART_INFO_STACKED* pInfoStacked, size_t iNumInfos) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckPointer(pInfoStacked, "pInfoStacked");
        if (iNumInfos == 0) throw invalid_parameter_exception("Parameter iNumInfos is 0.");
        ModuleRef stream = LookUpDataStream(hDataStream);
        ModuleRef buffer = Controller().FindBuffer(hBuffer);
        return AnswerStacked(pInfoStacked, iNumInfos, buffer.get(), [&](auto& entry) {
            return StackedPartEntry(AsDataStream(stream), buffer.get(), entry);
        });
    });
}

GC_API DSGetNumFlows(DS_HANDLE hDataStream, uint32_t* piNumFlows) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckPointer(piNumFlows, "piNumFlows");
        ModuleRef stream = LookUpDataStream(hDataStream);
        *piNumFlows = AsDataStream(stream)->NumFlows();
        return GC_ERR_SUCCESS;
    });
}

GC_API DSGetFlowInfo(DS_HANDLE hDataStream, uint32_t iFlowIndex, FLOW_INFO_CMD iInfoCmd,
                     INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckInfoArguments(piType, pBuffer, piSize);
        // Flow info has no size query: the buffer is required.
        CheckPointer(pBuffer, "pBuffer");
        ModuleRef stream = LookUpDataStream(hDataStream);
        AsDataStream(stream)->GetFlowInfo(iFlowIndex, iInfoCmd, piType, pBuffer, piSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API DSGetNumBufferSegments(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer,
                              uint32_t* piNumSegments) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckPointer(piNumSegments, "piNumSegments");
        ModuleRef stream = LookUpDataStream(hDataStream);
        ModuleRef buffer = LookUpBuffer<invalid_handle_exception>(
            hBuffer, Format("Specified hBuffer is invalid: hBuffer = 0x%p.", hBuffer));
        *piNumSegments = AsDataStream(stream)->NumBufferSegments(buffer.get());
        return GC_ERR_SUCCESS;
    });
}

GC_API DSGetBufferSegmentInfo(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer, uint32_t iSegmentIndex,
                              SEGMENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                              size_t* piSize) {
    if (GC_ERROR error = Controller().CheckInterface()) return error;
    return RunExport([&]() -> GC_ERROR {
        CheckHandle(hDataStream, "hDataStream");
        CheckInfoArguments(piType, pBuffer, piSize);
        ModuleRef stream = LookUpDataStream(hDataStream);
        ModuleRef buffer =
            LookUpBuffer<invalid_parameter_exception>(hBuffer, NotABufferRecordText(hBuffer));
        AsDataStream(stream)->GetBufferSegmentInfo(buffer.get(), iSegmentIndex, iInfoCmd, piType,
                                                   pBuffer, piSize);
        return GC_ERR_SUCCESS;
    });
}

GC_API DSAnnounceCompositeBuffer(DS_HANDLE hDataStream, size_t iNumSegments, void** ppSegments,
                                 size_t* piSizes, void* pPrivate, BUFFER_HANDLE* phBuffer) {
    if (GC_ERROR error = Controller().CheckSystem()) return error;
    BoundaryOptions options;
    options.unknownText = "Unknown Error";
    return RunExport(options, [&]() -> GC_ERROR {
        // The out-pointer is tested before the stream handle, as for the other announces.
        CheckPointer(phBuffer, "phBuffer");
        CheckHandle(hDataStream, "hDataStream");
        if (iNumSegments == 0) throw invalid_parameter_exception("Specified iNumSegments is 0.");
        CheckPointer(piSizes, "piSizes");
        ModuleRef stream = LookUpDataStream(hDataStream);
        *phBuffer = ToHandle(AsDataStream(stream)->AnnounceCompositeBuffer(iNumSegments, ppSegments,
                                                                           piSizes, pPrivate));
        return GC_ERR_SUCCESS;
    });
}
