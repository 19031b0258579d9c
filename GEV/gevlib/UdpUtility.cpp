#include "UdpUtility.h"

#include "DebugOutput.h"

namespace Vantor {
Platform::SocketHandle OpenUdpSocket(uint32_t address, uint16_t port, bool broadcast,
                                     bool reuseAddress, bool largeReceiveBuffer, size_t* granted) {
    Platform::SocketHandle socket = Platform::CreateUdpSocket();
    if (socket == Platform::kInvalidSocket) return socket;
    size_t bufferSize = 0;
    if (largeReceiveBuffer) {
        // A host whose limit is lower must still stream: the size granted stands.
        bufferSize = Platform::SetReceiveBufferSize(socket, kLargeReceiveBuffer);
        if (granted != nullptr) *granted = bufferSize;
    }
    bool ok = (!reuseAddress || Platform::SetReuseAddress(socket, true)) &&
              Platform::Bind(socket, address, port) &&
              (!broadcast || Platform::SetBroadcast(socket, true)) &&
              (!largeReceiveBuffer || bufferSize != 0);
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
