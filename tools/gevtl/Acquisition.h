// The consumer's acquisition on a camera's first data stream: buffers announced
// and queued, the new-buffer event, and an orderly stop that leaves the stream
// closed whatever happened in between.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "GenApiPortBridge.h"
#include "Session.h"

namespace Gevtl {

struct Delivered {
    GenTL::BUFFER_HANDLE buffer = nullptr;
    bool timedOut = false;
};

class Acquisition {
public:
    // `handlingMode`: an entry of the stream's StreamBufferHandlingMode, or empty
    // for the producer's default.
    Acquisition(GenTLLibrary& library, OpenedDevice& device, GenApiBridge::GenApiPort& camera,
                size_t bufferCount, bool zeroCopy, bool packetResend,
                const std::string& handlingMode = {});
    Acquisition(const Acquisition&) = delete;
    Acquisition& operator=(const Acquisition&) = delete;
    ~Acquisition();

    // Starts the stream, then the camera.
    void Start();
    // The next filled buffer; timedOut after `timeoutMs` without one.
    Delivered Next(uint64_t timeoutMs);
    void Requeue(GenTL::BUFFER_HANDLE buffer);
    // Camera first, then the stream; buffers flushed and revoked. Idempotent.
    void Stop();

    template <class T>
    T Info(GenTL::BUFFER_HANDLE buffer, GenTL::BUFFER_INFO_CMD command) const {
        T value{};
        size_t size = sizeof value;
        GenTL::INFO_DATATYPE type = 0;
        m_library.Check("DSGetBufferInfo",
                        m_library.DSGetBufferInfo(m_stream, buffer, command, &type, &value, &size));
        return value;
    }
    // Like Info, but `fallback` when the producer has no such information.
    template <class T>
    T InfoOr(GenTL::BUFFER_HANDLE buffer, GenTL::BUFFER_INFO_CMD command, T fallback) const {
        T value{};
        size_t size = sizeof value;
        GenTL::INFO_DATATYPE type = 0;
        if (m_library.DSGetBufferInfo(m_stream, buffer, command, &type, &value, &size) !=
            GenTL::GC_ERR_SUCCESS)
            return fallback;
        return value;
    }

    // Parts of a multi-part buffer; 0 for any other buffer, or when the producer
    // does not tell parts.
    uint32_t NumParts(GenTL::BUFFER_HANDLE buffer) const {
        uint32_t parts = 0;
        if (m_library.DSGetNumBufferParts(m_stream, buffer, &parts) != GenTL::GC_ERR_SUCCESS)
            return 0;
        return parts;
    }
    template <class T>
    T PartInfoOr(GenTL::BUFFER_HANDLE buffer, uint32_t part, GenTL::BUFFER_PART_INFO_CMD command,
                 T fallback) const {
        T value{};
        size_t size = sizeof value;
        GenTL::INFO_DATATYPE type = 0;
        if (m_library.DSGetBufferPartInfo(m_stream, buffer, part, command, &type, &value, &size) !=
            GenTL::GC_ERR_SUCCESS)
            return fallback;
        return value;
    }

    size_t PayloadSize() const { return m_payloadSize; }
    // Packets asked for again in this acquisition, when the producer reports it.
    std::optional<uint64_t> ResendRequested() const;

private:
    GenTLLibrary& m_library;
    GenApiBridge::GenApiPort& m_camera;
    GenTL::DS_HANDLE m_stream = nullptr;
    GenTL::EVENT_HANDLE m_newBuffer = nullptr;
    std::vector<GenTL::BUFFER_HANDLE> m_buffers;
    size_t m_payloadSize = 0;
    bool m_streamStarted = false;
    bool m_cameraStarted = false;
    const bool m_gevtlkrv;
};

}  // namespace Gevtl
