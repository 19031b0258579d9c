// The packet filter driver reached as a device file: control requests with
// DeviceIoControl and reads with ReadFile, both overlapped on one
// auto-reset event and waited for to their end.
#include <windows.h>

#include "SystemParts.h"

namespace Platform {
namespace {

class DriverFile : public DriverDevice {
public:
    DriverFile(HANDLE file, HANDLE event) : m_file(file), m_event(event) {}
    ~DriverFile() override {
        CancelIo(m_file);
        CloseHandle(m_event);
        CloseHandle(m_file);
    }
    DriverFile(const DriverFile&) = delete;
    DriverFile& operator=(const DriverFile&) = delete;

    bool Control(uint32_t code, const void* in, size_t inSize, void* out, size_t outSize,
                 size_t* returned, uint32_t* error) override {
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_event;
        DWORD bytes = 0;
        BOOL done = DeviceIoControl(m_file, code, const_cast<void*>(in), static_cast<DWORD>(inSize),
                                    out, static_cast<DWORD>(outSize), &bytes, &overlapped);
        return Finish(done, &overlapped, &bytes, returned, error);
    }

    bool Read(void* buffer, size_t size, size_t* returned, uint32_t* error) override {
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_event;
        DWORD bytes = 0;
        BOOL done = ReadFile(m_file, buffer, static_cast<DWORD>(size), &bytes, &overlapped);
        return Finish(done, &overlapped, &bytes, returned, error);
    }

private:
    bool Finish(BOOL done, OVERLAPPED* overlapped, DWORD* bytes, size_t* returned,
                uint32_t* error) {
        if (!done && GetLastError() == ERROR_IO_PENDING)
            done = GetOverlappedResult(m_file, overlapped, bytes, TRUE);
        if (returned != nullptr) *returned = done ? *bytes : 0;
        if (!done && error != nullptr) *error = GetLastError();
        return done != FALSE;
    }

    HANDLE m_file;
    HANDLE m_event;
};

}  // namespace

namespace System {
std::unique_ptr<DriverDevice> OpenDriverDevice(const std::string& path) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        CloseHandle(file);
        return nullptr;
    }
    return std::make_unique<DriverFile>(file, event);
}
}  // namespace System

}  // namespace Platform
