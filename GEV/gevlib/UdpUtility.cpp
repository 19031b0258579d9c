#include "UdpUtility.h"

#include "DebugOutput.h"

namespace Vantor {
namespace {
constexpr size_t kLargeReceiveBuffer = 1048576;
}

Platform::SocketHandle OpenUdpSocket(uint32_t address, uint16_t port, bool broadcast,
                                     bool reuseAddress, bool largeReceiveBuffer) {
    Platform::SocketHandle socket = Platform::CreateUdpSocket();
    if (socket == Platform::kInvalidSocket) return socket;
    bool ok = (!reuseAddress || Platform::SetReuseAddress(socket, true)) &&
              Platform::Bind(socket, address, port) &&
              (!broadcast || Platform::SetBroadcast(socket, true)) &&
              (!largeReceiveBuffer ||
               Platform::SetReceiveBufferSize(socket, kLargeReceiveBuffer) == kLargeReceiveBuffer);
    if (!ok) {
        Platform::CloseSocket(socket);
        return Platform::kInvalidSocket;
    }
    return socket;
}

void CloseUdpSocket(Platform::SocketHandle socket) {
    if (socket == Platform::kInvalidSocket) return;
    Platform::ShutdownSend(socket);
    Platform::CloseSocket(socket);
}

bool StartSocketsOrWarn() {
    if (Platform::StartSockets()) return true;
    Platform::ShowErrorMessage("Can't init Winsock", "VantorLib DLL");
    return false;
}

}  // namespace Vantor
