// A GenTL consumer of the built GEVTLKRV.cti, loaded with dlopen: the producer
// initialised, one camera open with its data stream, buffers of its own memory
// announced; everything closed in reverse. Errors are thrown as runtime_error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CtiLibrary.h"

namespace Bench {

class Consumer {
public:
    Consumer();
    Consumer(const Consumer&) = delete;
    Consumer& operator=(const Consumer&) = delete;
    ~Consumer() { Close(); }

    // Discovers the camera with serial number `serial`, opens it and its stream "DS0".
    void OpenCamera(const std::string& serial);

    // The camera's registers: big-endian through the remote port.
    void WriteCamera(uint64_t address, uint32_t value);
    uint32_t ReadCamera(uint64_t address);
    // The data stream module's registers: little-endian through its own port.
    void WriteStream(uint64_t address, uint32_t value);
    uint32_t ReadStream(uint64_t address);

    void AnnounceAndQueue(size_t count, size_t size);
    // The new-buffer event, the stream's acquisition, then the camera's.
    void Start();
    void Stop();

    // EventGetData on the new-buffer event: the buffer's handle, or null on time-out.
    GenTL::BUFFER_HANDLE Next(uint64_t timeoutMs);
    void Queue(GenTL::BUFFER_HANDLE buffer);

    template <class T>
    T BufferInfo(GenTL::BUFFER_HANDLE buffer, GenTL::BUFFER_INFO_CMD command) {
        T value{};
        size_t size = sizeof value;
        GenTL::INFO_DATATYPE type = 0;
        Check(cti.DSGetBufferInfo(m_stream, buffer, command, &type, &value, &size),
              "DSGetBufferInfo");
        return value;
    }
    template <class T>
    T StreamInfo(GenTL::STREAM_INFO_CMD command) {
        T value{};
        size_t size = sizeof value;
        GenTL::INFO_DATATYPE type = 0;
        Check(cti.DSGetInfo(m_stream, command, &type, &value, &size), "DSGetInfo");
        return value;
    }

private:
    // Everything opened, in reverse; each handle once.
    void Close();
    void Check(GenTL::GC_ERROR result, const char* what);
    GenTL::GC_ERROR WriteCameraStatus(uint64_t address, uint32_t value);

    TestSupport::CtiLibrary cti{GEVTLKRV_CTI_PATH};
    bool m_initialised = false;
    bool m_acquiring = false;
    GenTL::TL_HANDLE m_system = nullptr;
    GenTL::IF_HANDLE m_interface = nullptr;
    GenTL::DEV_HANDLE m_device = nullptr;
    GenTL::PORT_HANDLE m_remote = nullptr;
    GenTL::DS_HANDLE m_stream = nullptr;
    GenTL::EVENT_HANDLE m_newBuffer = nullptr;
    std::vector<std::vector<uint8_t>> m_memory;
    std::vector<GenTL::BUFFER_HANDLE> m_buffers;
};

}  // namespace Bench
