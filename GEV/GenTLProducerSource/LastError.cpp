#include "LastError.h"

#include <memory>
#include <mutex>

namespace GenTL {
namespace {

std::mutex& RecordLock() {
    static std::mutex lock;
    return lock;
}

std::unique_ptr<CTLIError>& Record() {
    static std::unique_ptr<CTLIError> record;
    return record;
}

}  // namespace

void PrepareLastError() {
    RecordLock();
    Record();
}

void RecordLastError(GC_ERROR code, const std::string& text) {
    std::lock_guard<std::mutex> guard(RecordLock());
    if (!Record()) Record().reset(new CTLIError());
    Record()->message = text;
    Record()->code = code;
}

bool ReadLastError(GC_ERROR* code, std::string* text) {
    std::lock_guard<std::mutex> guard(RecordLock());
    if (!Record()) return false;
    *code = Record()->code;
    *text = Record()->message;
    return true;
}

void DiscardLastError() {
    std::lock_guard<std::mutex> guard(RecordLock());
    Record().reset();
}

}  // namespace GenTL
