// The standard GenTL consumer sequence, with the teardown in reverse order.
#include "Acquisition.h"

#include <cstring>
#include <optional>
#include <stdexcept>

#include "GEVTLKRVInfo.h"

namespace Gevtl {

using namespace GenTL;

Acquisition::Acquisition(GenTLLibrary& library, OpenedDevice& device,
                         GenApiBridge::GenApiPort& camera, size_t bufferCount, bool zeroCopy,
                         bool packetResend, const std::string& handlingMode)
    : m_library(library), m_camera(camera), m_gevtlkrv(library.IsGevtlkrv()) {
    char id[256] = {};
    size_t size = sizeof id;
    m_library.Check("DevGetDataStreamID",
                    m_library.DevGetDataStreamID(device.Handle(), 0, id, &size));
    m_library.Check("DevOpenDataStream",
                    m_library.DevOpenDataStream(device.Handle(), id, &m_stream));
    try {
        if (zeroCopy || packetResend || !handlingMode.empty()) {
            // The stream's own features; a producer without them cannot do what was
            // asked, but resend is asked for by default and is only skipped.
            const bool required = zeroCopy || !handlingMode.empty();
            std::optional<GenApiBridge::GenApiPort> streamApi;
            try {
                streamApi.emplace(GenApiBridge::GenApiPort::FromPort(
                    m_stream, GenApiBridge::PortFunctionsOf(library)));
            } catch (const std::exception&) {
                if (required) throw;
            }
            auto require = [&](const char* feature) {
                if (streamApi->Node(feature) == nullptr)
                    throw std::runtime_error(std::string("the producer's data stream has no ") +
                                             feature + " feature");
            };
            if (zeroCopy) {
                require("UseUserBuffer");
                streamApi->SetBoolean("UseUserBuffer", true);
            }
            if (packetResend && streamApi && streamApi->Node("EnablePacketResend") != nullptr)
                streamApi->SetBoolean("EnablePacketResend", true);
            if (!handlingMode.empty()) {
                require("StreamBufferHandlingMode");
                streamApi->SetEnumeration("StreamBufferHandlingMode", handlingMode);
            }
        }
        // The stream's own payload size counts only when it says it defines it; otherwise
        // it follows the buffers announced and the camera's PayloadSize is the one to use.
        INFO_DATATYPE type = 0;
        bool8_t definesPayload = 0;
        size = sizeof definesPayload;
        if (m_library.DSGetInfo(m_stream, STREAM_INFO_DEFINES_PAYLOADSIZE, &type, &definesPayload,
                                &size) == GC_ERR_SUCCESS &&
            definesPayload) {
            size = sizeof m_payloadSize;
            m_library.Check("DSGetInfo (payload size)",
                            m_library.DSGetInfo(m_stream, STREAM_INFO_PAYLOAD_SIZE, &type,
                                                &m_payloadSize, &size));
        } else {
            m_payloadSize = static_cast<size_t>(m_camera.GetInteger("PayloadSize"));
        }
        if (m_payloadSize == 0) throw std::runtime_error("payload size 0");
        for (size_t i = 0; i < bufferCount; ++i) {
            BUFFER_HANDLE buffer = nullptr;
            m_library.Check(
                "DSAllocAndAnnounceBuffer",
                m_library.DSAllocAndAnnounceBuffer(m_stream, m_payloadSize, nullptr, &buffer));
            m_buffers.push_back(buffer);
        }
        for (BUFFER_HANDLE buffer : m_buffers)
            m_library.Check("DSQueueBuffer", m_library.DSQueueBuffer(m_stream, buffer));
        m_library.Check("GCRegisterEvent",
                        m_library.GCRegisterEvent(m_stream, EVENT_NEW_BUFFER, &m_newBuffer));
    } catch (...) {
        Stop();
        throw;
    }
}

Acquisition::~Acquisition() {
    Stop();
}

void Acquisition::Start() {
    m_library.Check("DSStartAcquisition", m_library.DSStartAcquisition(
                                              m_stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE));
    m_streamStarted = true;
    m_camera.Execute("AcquisitionStart");
    m_cameraStarted = true;
}

Delivered Acquisition::Next(uint64_t timeoutMs) {
    uint8_t data[16] = {};
    size_t size = sizeof data;
    const GC_ERROR status = m_library.EventGetData(m_newBuffer, data, &size, timeoutMs);
    Delivered delivered;
    if (status == GC_ERR_TIMEOUT) {
        delivered.timedOut = true;
        return delivered;
    }
    m_library.Check("EventGetData", status);
    if (size < sizeof delivered.buffer) throw std::runtime_error("EventGetData: short event data");
    std::memcpy(&delivered.buffer, data, sizeof delivered.buffer);
    return delivered;
}

std::optional<uint64_t> Acquisition::ResendRequested() const {
    if (!m_gevtlkrv) return std::nullopt;
    uint64_t value = 0;
    size_t size = sizeof value;
    INFO_DATATYPE type = 0;
    if (m_library.DSGetInfo(m_stream, STREAM_INFO_GEVTLKRV_RESEND_REQUESTED, &type, &value,
                            &size) != GC_ERR_SUCCESS)
        return std::nullopt;
    return value;
}

void Acquisition::Requeue(BUFFER_HANDLE buffer) {
    m_library.Check("DSQueueBuffer", m_library.DSQueueBuffer(m_stream, buffer));
}

void Acquisition::Stop() {
    if (m_stream == nullptr) return;
    if (m_cameraStarted) {
        try {
            m_camera.Execute("AcquisitionStop");
        } catch (const std::exception&) {
            // The stream is stopped all the same; the camera times out its stream.
        }
        m_cameraStarted = false;
    }
    if (m_streamStarted) m_library.DSStopAcquisition(m_stream, ACQ_STOP_FLAGS_DEFAULT);
    m_streamStarted = false;
    m_library.DSFlushQueue(m_stream, ACQ_QUEUE_ALL_DISCARD);
    if (m_newBuffer != nullptr) m_library.GCUnregisterEvent(m_stream, EVENT_NEW_BUFFER);
    m_newBuffer = nullptr;
    for (BUFFER_HANDLE buffer : m_buffers)
        m_library.DSRevokeBuffer(m_stream, buffer, nullptr, nullptr);
    m_buffers.clear();
    m_library.DSClose(m_stream);
    m_stream = nullptr;
}

}  // namespace Gevtl
