#include "DebugOutput.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "SystemParts.h"

namespace Platform {
namespace {

std::mutex& SinkLock() {
    static std::mutex lock;
    return lock;
}

DebugSink& Capture() {
    static DebugSink sink;
    return sink;
}

void WriteToEnvironmentSink(const std::string& text) {
    const char* target = std::getenv("GEVTLKRV_DEBUG");
    if (target == nullptr || *target == '\0' || std::strcmp(target, "0") == 0) return;
    if (std::strcmp(target, "1") == 0 || std::strcmp(target, "stderr") == 0) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        return;
    }
    if (std::FILE* file = std::fopen(target, "a")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
}

}  // namespace

void PrepareDebugOutput() {
    SinkLock();
    Capture();
}

void DebugOutput(const std::string& text) {
    std::lock_guard<std::mutex> guard(SinkLock());
    if (Capture()) {
        Capture()(text);
        return;
    }
    System::WriteDebugger(text);
    WriteToEnvironmentSink(text);
}

void SetDebugOutputCapture(DebugSink sink) {
    std::lock_guard<std::mutex> guard(SinkLock());
    Capture() = std::move(sink);
}

void ShowErrorMessage(const char* text, const char* title) {
    DebugOutput(std::string(title) + ": " + text + "\r\n");
    System::ShowMessageBox(text, title);
}

}  // namespace Platform
