// A GenTL consumer of the built GEVTLKRV.cti, loaded with dlopen: the producer
// initialised once (Producer), and per camera one Consumer with the camera open,
// its data stream and buffers of its own memory announced; everything closed in
// reverse. Errors are thrown as runtime_error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CtiLibrary.h"

namespace Bench {

// The producer loaded, initialised, its system and its interface open.
class Producer {
public:
    Producer();
    Producer(const Producer&) = delete;
    Producer& operator=(const Producer&) = delete;
    ~Producer() { Close(); }

    // The device ID of the camera with serial number `serial`; discovers once more
    // when it is not listed yet.
    std::string FindCamera(const std::string& serial);
    void Check(GenTL::GC_ERROR result, const char* what);

    TestSupport::CtiLibrary cti{GEVTLKRV_CTI_PATH};
    GenTL::IF_HANDLE interface() const { return m_interface; }

private:
    void Close();

    bool m_initialised = false;
    GenTL::TL_HANDLE m_system = nullptr;
    GenTL::IF_HANDLE m_interface = nullptr;
};

class Consumer {
public:
    // A producer of its own, or one shared with other cameras' consumers.
    explicit Consumer(std::shared_ptr<Producer> producer = std::make_shared<Producer>());
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
        m_producer->Check(
            m_producer->cti.DSGetBufferInfo(m_stream, buffer, command, &type, &value, &size),
            "DSGetBufferInfo");
        return value;
    }
    template <class T>
    T StreamInfo(GenTL::STREAM_INFO_CMD command) {
        T value{};
        size_t size = sizeof value;
        GenTL::INFO_DATATYPE type = 0;
        m_producer->Check(m_producer->cti.DSGetInfo(m_stream, command, &type, &value, &size),
                          "DSGetInfo");
        return value;
    }

private:
    // Everything opened, in reverse; each handle once.
    void Close();
    void Check(GenTL::GC_ERROR result, const char* what) { m_producer->Check(result, what); }
    GenTL::GC_ERROR WriteCameraStatus(uint64_t address, uint32_t value);

    std::shared_ptr<Producer> m_producer;
    TestSupport::CtiLibrary& cti;
    bool m_acquiring = false;
    GenTL::DEV_HANDLE m_device = nullptr;
    GenTL::PORT_HANDLE m_remote = nullptr;
    GenTL::DS_HANDLE m_stream = nullptr;
    GenTL::EVENT_HANDLE m_newBuffer = nullptr;
    std::vector<std::vector<uint8_t>> m_memory;
    std::vector<GenTL::BUFFER_HANDLE> m_buffers;
};

}  // namespace Bench
