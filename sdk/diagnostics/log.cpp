// sdk/diagnostics/log.cpp - the logging call.
#include "sdk/diagnostics/log.h"

#include "sdk/diagnostics/logger.h"

namespace Korvo {

void LogMessageV(LogLevel level, LogGroups groups, const char* format, va_list args) noexcept {
    Logger* logger = CurrentLogger();
    if (logger == nullptr) {
        logger = EnsureLogger();
        if (logger == nullptr) return;
    }
    if (!logger->Accepts(level, groups)) return;
    // va_list is copied so that the caller's stays usable, as vprintf's is not.
    va_list copy;
    va_copy(copy, args);
    logger->LogV(level, groups, format, copy);
    va_end(copy);
}

void LogMessage(LogLevel level, LogGroups groups, const char* format, ...) noexcept {
    Logger* logger = CurrentLogger();
    if (logger == nullptr) {
        logger = EnsureLogger();
        if (logger == nullptr) return;
    }
    if (!logger->Accepts(level, groups)) return;
    va_list args;
    va_start(args, format);
    logger->LogV(level, groups, format, args);
    va_end(args);
}

}  // namespace Korvo
