#include "Clock.h"

#include <windows.h>

namespace Platform {

uint32_t TickCount() {
    return GetTickCount();
}

int64_t PerformanceCounter() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

int64_t PerformanceFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

TimeOfDay LocalTimeOfDay() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    return TimeOfDay{local.wHour, local.wMinute, local.wSecond};
}

void SleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}

}  // namespace Platform
