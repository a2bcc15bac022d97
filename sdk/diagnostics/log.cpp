// sdk/diagnostics/log.cpp - the logging call.
#include "sdk/diagnostics/log.h"

#include <cstdio>

namespace Korvo {

namespace {
constexpr size_t kMessageBufferSize = 4096;
}

void LogMessageV(LogLevel level, LogGroups groups, const char* format, va_list args) noexcept {
    if (format == nullptr || level < Warn || (groups & kLogGroupExtra) != 0) return;
    char message[kMessageBufferSize];
    if (std::vsnprintf(message, sizeof message, format, args) < 0) message[0] = '\0';
    std::fputs(message, stderr);
    std::fputc('\n', stderr);
}

void LogMessage(LogLevel level, LogGroups groups, const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    LogMessageV(level, groups, format, args);
    va_end(args);
}

}  // namespace Korvo
