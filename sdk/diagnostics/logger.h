// sdk/diagnostics/logger.h - the process-wide Logger and its function table.
//
// \file
// One Logger per process filters log calls by level and groups and offers
// each surviving record to its attached targets, in list order. It exists
// from the first AcquireLogger or the first LogMessage, whichever comes
// first, until ReleaseLogger takes the user count from 1 to 0 (a Logger
// built by LogMessage alone counts no user and lives on). The Logger owns
// three built-in targets: standard error (attached, "DBG" but not "GEN"),
// the debugger (attached, "DBG") and standard output (detached, "GEN" but
// not "DBG").
//
// Lock order: the Logger's lock, then a target's lock. Every path that
// takes both takes them in this order (dispatch, Attach, Detach, Configure),
// so a target may be reconfigured while other threads log. Both locks are
// recursive. A target's Write runs under the Logger lock; a log call made
// from inside a Write on the same thread is dropped rather than recursing.
//
// Destroying the Logger (the last ReleaseLogger) must not race with log
// calls or target calls on other threads: it is meant for the end of a
// module's life, when they have stopped.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <vector>

#include "sdk/diagnostics/log.h"
#include "sdk/diagnostics/log_line.h"
#include "sdk/diagnostics/log_target.h"
#include "sdk/platform/platform.h"

namespace Korvo {

inline constexpr size_t kModuleNameBufferSize = 1024;

class Logger {
public:
    Logger();
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // The filter every log call passes first; lock-free.
    bool Accepts(LogLevel level, LogGroups groups) const noexcept {
        return !disabled_.load(std::memory_order_relaxed) && level >= level_.load(std::memory_order_relaxed) &&
               (groups & suppressed_.load(std::memory_order_relaxed)) == 0;
    }

    void SetLevel(LogLevel level) noexcept;
    LogLevel GetLevel() const noexcept;
    void SetSuppressedGroups(LogGroups groups) noexcept;
    LogGroups GetSuppressedGroups() const noexcept;
    void Disable() noexcept { disabled_.store(true, std::memory_order_relaxed); }
    void Enable() noexcept { disabled_.store(false, std::memory_order_relaxed); }
    bool IsDisabled() const noexcept { return disabled_.load(std::memory_order_relaxed); }

    // Appends table to the list (again, if listed already) without touching
    // the target's attached flag. False when the list could not grow.
    bool AttachTarget(LogTargetInterface* table) noexcept;
    // Removes every occurrence of table from the list.
    void DetachTarget(LogTargetInterface* table) noexcept;
    // The first listed target whose GetName is name; null when none.
    LogTargetInterface* FindTarget(const char* name) noexcept;
    // A copy of the list, in order (for tools and tests; allocates).
    std::vector<LogTargetInterface*> Targets() const;

    StdErrLogTarget& StdErrTarget() noexcept { return stdErr_; }
    StdOutLogTarget& StdOutTarget() noexcept { return stdOut_; }
    DebuggerConsoleLogTarget& DebuggerTarget() noexcept { return debugger_; }

    // The main executable's file name.
    const char* ModuleName() const noexcept { return moduleName_; }

    // Formats a message that passed Accepts and dispatches it.
    void LogV(LogLevel level, LogGroups groups, const char* format, va_list args) noexcept;
    // Offers record to every listed target, in order, under the lock.
    void Dispatch(const LogRecord& record) noexcept;

    Platform::RecursiveLock& Lock() const noexcept { return lock_; }

    // The spare flag of the function table's entries 9 and 10; nothing
    // reads it.
    void SetSpareFlag(bool value) noexcept { spareFlag_.store(value, std::memory_order_relaxed); }

private:
    friend class LogTarget;

    // Attach and detach a target object (flag and list) under the lock.
    bool AttachObject(LogTarget& target) noexcept;
    void DetachObject(LogTarget& target) noexcept;

    // Declared before the targets so that they outlive them.
    mutable Platform::RecursiveLock lock_;
    std::vector<LogTargetInterface*> targets_;
    bool dispatching_ = false;  // under lock_
    std::atomic<bool> disabled_{false};
    std::atomic<bool> spareFlag_{false};
    std::atomic<int32_t> level_{Warn};
    std::atomic<LogGroups> suppressed_{kLogGroupExtra};
    char moduleName_[kModuleNameBufferSize] = {};
    StdErrLogTarget stdErr_;
    StdOutLogTarget stdOut_;
    DebuggerConsoleLogTarget debugger_;
};

namespace detail {
extern std::atomic<Logger*> gCurrentLogger;
}  // namespace detail

// The Logger, or null when there is none.
inline Logger* CurrentLogger() noexcept { return detail::gCurrentLogger.load(std::memory_order_acquire); }
// The Logger, built (counting no user) when there is none; null only when
// there is no memory to build it.
Logger* EnsureLogger() noexcept;

// Adds a user, building the Logger when the count becomes 1 and there is
// none. ReleaseLogger removes one and destroys the Logger when the count
// goes from 1 to 0; a release without a user changes nothing.
void AcquireLogger() noexcept;
void ReleaseLogger() noexcept;
uint32_t LoggerUserCount() noexcept;

// FormatLine with the Logger's module name for #E (empty without a Logger).
size_t FormatLine(char* buffer, size_t size, const char* format, const LogRecord& record) noexcept;

// The Logger's function table: 26 plain entries, each taking the table.
struct LoggingInterface {
    int32_t (*reserved0)(const LoggingInterface* self);  // returns 1
    void (*AcquireLogger)(const LoggingInterface* self);
    void (*ReleaseLogger)(const LoggingInterface* self);
    void (*SetLoggerLevel)(const LoggingInterface* self, LogLevel level);
    LogLevel (*GetLoggerLevel)(const LoggingInterface* self);
    void (*SetSuppressedGroups)(const LoggingInterface* self, LogGroups groups);
    LogGroups (*GetSuppressedGroups)(const LoggingInterface* self);
    void (*Disable)(const LoggingInterface* self);
    void (*Enable)(const LoggingInterface* self);
    void (*reserved9)(const LoggingInterface* self);   // sets the spare flag
    void (*reserved10)(const LoggingInterface* self);  // clears the spare flag
    void (*AttachTarget)(const LoggingInterface* self, LogTargetInterface* target);
    void (*DetachTarget)(const LoggingInterface* self, LogTargetInterface* target);
    LogTargetInterface* (*FindTarget)(const LoggingInterface* self, const char* name);
    // The built-in targets; null without a Logger.
    LogTargetInterface* (*StdOutTarget)(const LoggingInterface* self);
    LogTargetInterface* (*StdErrTarget)(const LoggingInterface* self);
    LogTargetInterface* (*DebuggerTarget)(const LoggingInterface* self);
    LogGroups (*RegisterGroup)(const LoggingInterface* self, LogGroups* result, const char* name);
    size_t (*FormatGroups)(const LoggingInterface* self, char* buffer, size_t size, LogGroups groups);
    // #E is empty without a Logger.
    size_t (*FormatLine)(const LoggingInterface* self, char* buffer, size_t size, const char* format,
                         const LogRecord* record);
    const char* (*LevelName)(const LoggingInterface* self, LogLevel level);
    // Empty without a Logger.
    const char* (*ModuleName)(const LoggingInterface* self);
    void (*ReadLocalTime)(const LoggingInterface* self, LogTime* time);
    size_t (*FormatTime)(const LoggingInterface* self, char* buffer, size_t size, const LogTime* time);
    size_t (*FormatFileTime)(const LoggingInterface* self, char* buffer, size_t size, const LogTime* time);
    void (*LogMessageV)(const LoggingInterface* self, LogLevel level, LogGroups groups, const char* format,
                        va_list args);
};
static_assert(sizeof(LoggingInterface) == 26 * sizeof(void*), "26 entries, no padding");

// The process's table (static; never null). Entries other than the three
// built-in targets, FormatLine's #E and ModuleName build the Logger, counting
// no user, when there is none.
const LoggingInterface* GetLoggingInterface() noexcept;

}  // namespace Korvo
