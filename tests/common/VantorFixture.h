// Shared set-up of the protocol library tests: a scripted camera on
// 127.0.0.2, the library's device log captured, and a device open on it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ScriptedPeer.h"
#include "Socket.h"
#include "VantorLib.h"

namespace TestPeer {

// The device log of every handle, as the library delivered it.
class LogCapture {
public:
    static void Callback(uint8_t handle, const char* text, uint8_t level) {
        std::lock_guard<std::mutex> guard(Lock());
        Lines().push_back(Entry{handle, text, level});
    }
    struct Entry {
        uint8_t handle;
        std::string text;
        uint8_t level;
    };
    static std::vector<Entry> Take() {
        std::lock_guard<std::mutex> guard(Lock());
        return Lines();
    }
    static bool Contains(const std::string& part) {
        for (const Entry& entry : Take())
            if (entry.text.find(part) != std::string::npos) return true;
        return false;
    }
    static size_t Count(const std::string& part) {
        size_t count = 0;
        for (const Entry& entry : Take())
            if (entry.text.find(part) != std::string::npos) ++count;
        return count;
    }
    static void Clear() {
        std::lock_guard<std::mutex> guard(Lock());
        Lines().clear();
    }

private:
    static std::mutex& Lock() {
        static std::mutex lock;
        return lock;
    }
    static std::vector<Entry>& Lines() {
        static std::vector<Entry> lines;
        return lines;
    }
};

inline uint32_t Ip(const char* text) {
    return Platform::ParseAddress(text);
}

inline Vantor::GevOpenParams OpenParams(const char* camera = "127.0.0.2",
                                        const char* host = "127.0.0.1",
                                        const char* mask = "255.0.0.0") {
    Vantor::GevOpenParams params{};
    params.cameraAddress = Ip(camera);
    params.hostAddress = Ip(host);
    params.subnetMask = Ip(mask);
    std::strcpy(params.adapterName, "lo");
    return params;
}

// A camera with neither message nor stream channel, heartbeat timeout 3000 ms,
// all GVCP capabilities but the event ones.
inline void PlainCameraRegisters(ScriptedPeer& peer) {
    peer.SetRegister(0x0000, 0x00020000);
    peer.SetRegister(0x0900, 0);
    peer.SetRegister(0x0904, 0);
    peer.SetRegister(0x0934, 0x00000007);
    peer.SetRegister(0x0938, 3000);
    peer.SetRegister(0x0A00, 0);
}

// Runs a test inside a network namespace with a scripted camera on 127.0.0.2.
class ScriptedCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_peer.bound()) << "run the test through tests/netns/netns-run";
        PlainCameraRegisters(m_peer);
        LogCapture::Clear();
    }
    void TearDown() override {
        m_peer.SetScript(nullptr);
        Vantor::GEVClose(1);
    }
    Vantor::GevStatus Open(uint8_t accessMode) {
        Vantor::GevOpenParams params = OpenParams();
        Vantor::GevStatus status =
            Vantor::GEVOpenDevice(1, &params, &LogCapture::Callback, 0, accessMode);
        m_peer.ClearReceived();
        return status;
    }

    ScriptedPeer m_peer{"127.0.0.2"};
};

}  // namespace TestPeer
