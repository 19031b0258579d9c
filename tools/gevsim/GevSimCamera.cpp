#include "GevSimCamera.h"

#include <mutex>

#include "DeviceModel.h"
#include "EmbeddedXml.h"
#include "GvcpServer.h"
#include "MessageChannel.h"
#include "StreamChannel.h"
#include "UdpSocket.h"

namespace GevSim {

struct Camera::Impl {
    explicit Impl(CameraConfig configuration)
        : config(std::move(configuration)),
          model(config),
          messages(config.netns),
          stream(config, model, faults.Stream()),
          server(
              config, model, faults, log, [this](uint32_t ip) { OpenChannels(ip, nullptr); },
              [this](const ResendRequest& request) { stream.RequestResend(request); }) {
        model.SetStreamListener([this] {
            stream.Wake();
            SendTestEvents();
        });
    }

    // On the writer's thread, before its acknowledge: the host sees the event first.
    void SendTestEvents() {
        for (uint32_t n = model.TakeTestEventRequests(); n > 0; --n) {
            EventMessage event;
            event.eventId = UserRegister::kTestEventId;
            event.timestamp = model.Timestamp();
            messages.Send(event, model.MessageChannel(), model.GvcpCapability(), nullptr);
        }
    }

    // The message and stream sockets live at the camera address; ports go to MCSP/SCSP0.
    bool OpenChannels(uint32_t ip, std::string* error) {
        const bool ok = (config.messageChannels == 0 || messages.Open(ip, error)) &&
                        (config.streamChannels == 0 || stream.Open(ip, error));
        model.SetSourcePorts(messages.SourcePort(), stream.SourcePort());
        return ok;
    }

    const CameraConfig config;
    DeviceModel model;
    Faults faults;
    CommandLog log;
    MessageChannel messages;
    StreamChannel stream;
    GvcpServer server;     // last: stopped first, as it uses all of the above
    std::mutex lifecycle;  // serializes Start/Stop
    bool running = false;
};

Camera::Camera(CameraConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

Camera::~Camera() {
    Stop();
}

bool Camera::Start(std::string* error) {
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    if (impl_->running) return true;
    uint32_t ip = 0;
    if (!ParseIpv4(impl_->config.address, &ip)) {
        if (error) *error = "not an IPv4 address: " + impl_->config.address;
        return false;
    }
    impl_->model.SetNetwork(ip, impl_->config.subnetMask, impl_->config.gateway);
    if (!impl_->OpenChannels(ip, error) || !impl_->server.Start(ip, error)) {
        impl_->messages.Close();
        impl_->stream.Close();
        return false;
    }
    impl_->running = true;
    return true;
}

void Camera::Stop() {
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    impl_->server.Stop();
    impl_->messages.Close();
    impl_->stream.Close();
    impl_->running = false;
}

bool Camera::Running() const {
    std::lock_guard<std::mutex> lock(impl_->lifecycle);
    return impl_->running;
}

uint32_t Camera::Register(uint32_t address) const {
    return impl_->model.Peek(address);
}

void Camera::SetRegister(uint32_t address, uint32_t value) {
    impl_->model.Poke(address, value);
}

Faults& Camera::faults() {
    return impl_->faults;
}

void Camera::Reboot() {
    impl_->model.Reboot();
    impl_->stream.SetNextBlockId(impl_->config.firstBlockId);
}

void Camera::StartStreaming() {
    impl_->model.StartAcquisition();
}

void Camera::StopStreaming() {
    impl_->model.StopAcquisition();
}

StreamStatistics Camera::StreamStats() const {
    return impl_->stream.Statistics();
}

void Camera::SetNextBlockId(uint64_t blockId) {
    impl_->stream.SetNextBlockId(blockId);
}

bool Camera::SendEvent(const EventMessage& event, uint16_t* requestIdUsed) {
    return impl_->messages.Send(event, impl_->model.MessageChannel(), impl_->model.GvcpCapability(),
                                requestIdUsed);
}

std::vector<ReceivedCommand> Camera::ReceivedCommands() const {
    return impl_->log.Snapshot();
}

void Camera::ClearReceivedCommands() {
    impl_->log.Clear();
}

uint16_t Camera::MessageSourcePort() const {
    return impl_->messages.SourcePort();
}

uint16_t Camera::StreamSourcePort() const {
    return impl_->stream.SourcePort();
}

std::string Camera::Address() const {
    return FormatIpv4(impl_->model.CurrentIp());
}

uint16_t Camera::Port() const {
    return impl_->config.port;
}

const CameraConfig& Camera::config() const {
    return impl_->config;
}

std::string_view Camera::Xml() {
    return EmbeddedXml();
}

}  // namespace GevSim
