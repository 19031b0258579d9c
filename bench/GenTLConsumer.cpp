#include "GenTLConsumer.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "BenchRegisters.h"
#include "Socket.h"

namespace Bench {

using namespace GenTL;

Producer::Producer() {
    try {
        Check(cti.GCInitLib(), "GCInitLib");
        m_initialised = true;
        Check(cti.TLOpen(&m_system), "TLOpen");
        Check(cti.TLOpenInterface(m_system, "GigE", &m_interface), "TLOpenInterface");
    } catch (...) {
        Close();
        throw;
    }
}

std::string Producer::FindCamera(const std::string& serial) {
    std::string seen;
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool8_t changed = 0;
        Check(cti.IFUpdateDeviceList(m_interface, &changed, 1000), "IFUpdateDeviceList");
        seen.clear();
        uint32_t count = 0;
        Check(cti.IFGetNumDevices(m_interface, &count), "IFGetNumDevices");
        for (uint32_t i = 0; i < count; ++i) {
            char text[512] = {};
            size_t size = sizeof text;
            Check(cti.IFGetDeviceID(m_interface, i, text, &size), "IFGetDeviceID");
            char found[64] = {};
            size = sizeof found;
            INFO_DATATYPE type = 0;
            if (cti.IFGetDeviceInfo(m_interface, text, DEVICE_INFO_SERIAL_NUMBER, &type, found,
                                    &size) == GC_ERR_SUCCESS &&
                serial == found)
                return text;
            seen += std::string(" ") + found;
        }
    }
    throw std::runtime_error("camera " + serial + " not discovered (found:" + seen + ")");
}

void Producer::Check(GC_ERROR result, const char* what) {
    if (result != GC_ERR_SUCCESS)
        throw std::runtime_error(std::string(what) + " failed (" + std::to_string(result) +
                                 "): " + cti.LastErrorText());
}

void Producer::Close() {
    if (m_interface != nullptr) cti.IFClose(m_interface);
    if (m_system != nullptr) cti.TLClose(m_system);
    if (m_initialised) cti.GCCloseLib();
    m_interface = m_system = nullptr;
    m_initialised = false;
}

Consumer::Consumer(std::shared_ptr<Producer> producer)
    : m_producer(std::move(producer)), cti(m_producer->cti) {}

void Consumer::OpenCamera(const std::string& serial) {
    const std::string id = m_producer->FindCamera(serial);
    Check(cti.IFOpenDevice(m_producer->interface(), id.c_str(), DEVICE_ACCESS_CONTROL, &m_device),
          "IFOpenDevice");
    Check(cti.DevGetPort(m_device, &m_remote), "DevGetPort");
    Check(cti.DevOpenDataStream(m_device, "DS0", &m_stream), "DevOpenDataStream");
}

void Consumer::WriteCamera(uint64_t address, uint32_t value) {
    const uint32_t wire = Platform::HostToNetwork32(value);
    size_t size = sizeof wire;
    Check(cti.GCWritePort(m_remote, address, &wire, &size), "GCWritePort (camera)");
}

uint32_t Consumer::ReadCamera(uint64_t address) {
    uint32_t wire = 0;
    size_t size = sizeof wire;
    Check(cti.GCReadPort(m_remote, address, &wire, &size), "GCReadPort (camera)");
    return Platform::NetworkToHost32(wire);
}

void Consumer::WriteStream(uint64_t address, uint32_t value) {
    size_t size = sizeof value;
    Check(cti.GCWritePort(m_stream, address, &value, &size), "GCWritePort (stream)");
}

uint32_t Consumer::ReadStream(uint64_t address) {
    uint32_t value = 0;
    size_t size = sizeof value;
    Check(cti.GCReadPort(m_stream, address, &value, &size), "GCReadPort (stream)");
    return value;
}

void Consumer::AnnounceAndQueue(size_t count, size_t size) {
    for (size_t i = 0; i < count; ++i) {
        m_memory.emplace_back(size);
        BUFFER_HANDLE buffer = nullptr;
        Check(cti.DSAnnounceBuffer(m_stream, m_memory.back().data(), size,
                                   reinterpret_cast<void*>(i + 1), &buffer),
              "DSAnnounceBuffer");
        m_buffers.push_back(buffer);
        Check(cti.DSQueueBuffer(m_stream, buffer), "DSQueueBuffer");
    }
}

void Consumer::Start() {
    Check(cti.GCRegisterEvent(m_stream, EVENT_NEW_BUFFER, &m_newBuffer), "GCRegisterEvent");
    Check(cti.DSStartAcquisition(m_stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
          "DSStartAcquisition");
    m_acquiring = true;
    WriteCamera(kAcquisitionStartRegister, 1);
}

void Consumer::Stop() {
    m_acquiring = false;
    const GC_ERROR cameraStop = WriteCameraStatus(kAcquisitionStopRegister, 1);
    Check(cti.DSStopAcquisition(m_stream, ACQ_STOP_FLAGS_DEFAULT), "DSStopAcquisition");
    Check(cti.DSFlushQueue(m_stream, ACQ_QUEUE_ALL_DISCARD), "DSFlushQueue");
    Check(cti.GCUnregisterEvent(m_stream, EVENT_NEW_BUFFER), "GCUnregisterEvent");
    m_newBuffer = nullptr;
    Check(cameraStop, "AcquisitionStop");
}

BUFFER_HANDLE Consumer::Next(uint64_t timeoutMs) {
    uint8_t data[16] = {};
    size_t size = sizeof data;
    const GC_ERROR result = cti.EventGetData(m_newBuffer, data, &size, timeoutMs);
    if (result == GC_ERR_TIMEOUT) return nullptr;
    Check(result, "EventGetData");
    if (size != sizeof data) throw std::runtime_error("EventGetData: short event data");
    BUFFER_HANDLE buffer = nullptr;
    std::memcpy(&buffer, data, sizeof buffer);
    return buffer;
}

void Consumer::Queue(BUFFER_HANDLE buffer) {
    Check(cti.DSQueueBuffer(m_stream, buffer), "DSQueueBuffer");
}

void Consumer::Close() {
    if (m_acquiring) {
        try {
            Stop();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "gentl_bench: %s\n", e.what());
        }
    }
    for (BUFFER_HANDLE buffer : m_buffers) cti.DSRevokeBuffer(m_stream, buffer, nullptr, nullptr);
    m_buffers.clear();
    if (m_stream != nullptr) cti.DSClose(m_stream);
    if (m_device != nullptr) cti.DevClose(m_device);
    m_stream = m_device = nullptr;
}

GC_ERROR Consumer::WriteCameraStatus(uint64_t address, uint32_t value) {
    const uint32_t wire = Platform::HostToNetwork32(value);
    size_t size = sizeof wire;
    return cti.GCWritePort(m_remote, address, &wire, &size);
}

}  // namespace Bench
