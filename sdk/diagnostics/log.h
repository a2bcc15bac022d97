// sdk/diagnostics/log.h - the one logging call of the SDK.
//
// \file
// LogMessage(level, groups, format, ...) formats a printf message (the C
// runtime's conversions, not the message formatter's placeholders) and hands
// it to the process-wide Logger (sdk/diagnostics/logger.h), which filters by
// level and group and passes it to its targets. The SDK logs in group
// kLogGroupDebug ("DBG").
//
// Logging never fails towards its caller and never allocates (except that
// the first call of the process builds the Logger). Any thread may log. A
// call the Logger filters out costs only its checks.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "sdk/contract/korvo_plugin.h"

// Checks printf formats against the C99 printf that the SDK is built with
// (GCC's plain "printf" archetype means the Windows runtime's on mingw).
#if defined(__clang__)
#define KORVO_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define KORVO_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#endif

namespace Korvo {

// Severity of a log record; a record passes a threshold when its level is at
// least the threshold (signed comparison).
enum LogLevel : int32_t {
    Okay = KORVO_LOG_OKAY,
    Warn = KORVO_LOG_WARN,
    Error = KORVO_LOG_ERROR,
    Always = KORVO_LOG_ALWAYS,
};

// Bit i stands for group i; see RegisterGroup for the names.
using LogGroups = uint64_t;

inline constexpr LogGroups kLogGroupDebug = 1u << 0;    // "DBG", every SDK message
inline constexpr LogGroups kLogGroupGeneral = 1u << 1;  // "GEN"
inline constexpr LogGroups kLogGroupExtra = 1u << 2;    // "XTR", suppressed by default

// Logs one message: dropped unless the Logger is enabled, level is at least
// its level and groups share no bit with its suppressed groups. The message
// is cut at 4095 characters. A null format logs nothing.
void LogMessage(LogLevel level, LogGroups groups, const char* format, ...) noexcept KORVO_PRINTF_FORMAT(3, 4);

// LogMessage with a va_list (which it leaves to the caller to end).
void LogMessageV(LogLevel level, LogGroups groups, const char* format, va_list args) noexcept
    KORVO_PRINTF_FORMAT(3, 0);

}  // namespace Korvo
