// sdk/diagnostics/log_target.h - log targets: where the Logger's records go.
//
// \file
// A target filters records again by level and groups, expands its own line
// format and writes the line to its sink. Every target carries a plain
// function table, LogTargetInterface, so that code on either side of a
// module boundary can drive it without sharing the class layout; the Logger
// itself only ever holds interface pointers.
//
// Deriving a target: implement GetName and Write; call EnableWrite() at the
// end of the constructor (until then the table's Write writes nothing) and
// DetachForDestruction() first thing in the destructor, so that no record
// reaches a half-destroyed object. The console targets below are examples.
//
// Locks: a target's lock guards its settings and the write to its sink. When
// both are taken, the Logger's lock comes first (see logger.h); every
// member here that takes both takes them in that order.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "sdk/diagnostics/log.h"
#include "sdk/diagnostics/log_line.h"
#include "sdk/platform/platform.h"

namespace Korvo {

// The function table of a target. Every entry takes the table's address,
// from which the target is found.
struct LogTargetInterface {
    int32_t (*reserved0)(LogTargetInterface* self);  // returns 1
    void (*SetLevel)(LogTargetInterface* self, LogLevel level);
    LogLevel (*GetLevel)(LogTargetInterface* self);
    // Stores included AND NOT excluded, then excluded.
    void (*SetGroups)(LogTargetInterface* self, LogGroups included, LogGroups excluded);
    LogGroups (*GetIncludedGroups)(LogTargetInterface* self);
    LogGroups (*GetExcludedGroups)(LogTargetInterface* self);
    const char* (*GetName)(LogTargetInterface* self);
    // Valid until the target is next configured.
    const char* (*GetFormat)(LogTargetInterface* self);
    void (*Attach)(LogTargetInterface* self);
    void (*Detach)(LogTargetInterface* self);
    bool (*IsAttached)(LogTargetInterface* self);
    // Writes one record; false when nothing was written.
    bool (*Write)(LogTargetInterface* self, const LogRecord* record);
};
static_assert(sizeof(LogTargetInterface) == 12 * sizeof(void*), "twelve entries, no padding");

// Everything Configure applies in one step.
struct LogTargetSettings {
    LogLevel level = Warn;
    LogGroups included = 0;
    LogGroups excluded = 0;
    std::string format = "#D| #L| #G| #M";
};

class LogTarget {
public:
    LogTarget();
    virtual ~LogTarget();
    LogTarget(const LogTarget&) = delete;
    LogTarget& operator=(const LogTarget&) = delete;

    // Leaves the Logger's list (every place it is listed); no effect when
    // not attached.
    virtual void Detach() noexcept;
    virtual const char* GetName() const noexcept;
    // The line format as set; read it only where no Configure can run.
    virtual const std::string& GetFormat() const noexcept;
    // Writes one record to the sink; true when written.
    virtual bool Write(const LogRecord& record) = 0;

    void SetLevel(LogLevel level) noexcept;
    LogLevel GetLevel() const noexcept { return static_cast<LogLevel>(level_.load(std::memory_order_relaxed)); }
    // A bit in both masks ends up only in excluded.
    void SetGroups(LogGroups included, LogGroups excluded) noexcept;
    LogGroups GetIncludedGroups() const noexcept { return included_.load(std::memory_order_relaxed); }
    LogGroups GetExcludedGroups() const noexcept { return excluded_.load(std::memory_order_relaxed); }

    // Appends the target to the Logger's list (building the Logger when
    // there is none) unless it is attached already. False when the list
    // could not grow; the target then stays detached.
    bool Attach() noexcept;
    bool IsAttached() const noexcept { return attached_.load(std::memory_order_acquire); }

    // Detaches, applies settings, attaches again (so the target moves to
    // the end of the list) and applies the groups as SetGroups does. On
    // failure (no memory) returns false and changes nothing.
    bool Configure(const LogTargetSettings& settings) noexcept;

    // Whether the target takes a record of level and groups: level at least
    // the target's, and groups 0 or sharing no bit with the excluded groups
    // and (when included is not 0) some bit with the included ones.
    bool Accepts(LogLevel level, LogGroups groups) const noexcept;

    LogTargetInterface* Interface() noexcept { return &interface_.table; }
    // The target behind one of our own tables (never a foreign one).
    static LogTarget* FromInterface(LogTargetInterface* table) noexcept;

protected:
    // Routes the table's Write to the virtual Write.
    void EnableWrite() noexcept;
    // Restores the table's do-nothing Write and leaves the Logger's list.
    void DetachForDestruction() noexcept;

    Platform::RecursiveLock& TargetLock() const noexcept { return lock_; }
    // Expands the parsed line format for record; call under TargetLock().
    size_t FormatRecord(char* buffer, size_t size, const LogRecord& record) const noexcept;

private:
    friend class Logger;

    struct InterfaceHolder {
        LogTargetInterface table;  // first: its address is the holder's
        LogTarget* owner;
    };

    // Applies settings without attaching (the Logger's defaults).
    void ApplySettings(LogLevel level, LogGroups included, LogGroups excluded, LineFormat& format) noexcept;
    void SetAttachedFlag(bool attached) noexcept { attached_.store(attached, std::memory_order_release); }

    InterfaceHolder interface_;
    std::atomic<bool> attached_{false};
    mutable Platform::RecursiveLock lock_;
    std::atomic<int32_t> level_{Warn};
    std::atomic<LogGroups> included_{0};
    std::atomic<LogGroups> excluded_{0};
    LineFormat format_;
};

// A target that writes expanded lines to a console-like sink. Write formats
// the line under the target lock and hands it to WriteLine.
class BaseConsoleLogTarget : public LogTarget {
public:
    ~BaseConsoleLogTarget() override;
    const char* GetName() const noexcept override;
    bool Write(const LogRecord& record) final;
    virtual void Flush() noexcept = 0;

protected:
    // One whole line, ending in a line feed; called under the target lock.
    virtual void WriteLine(const char* line) noexcept = 0;
};

namespace detail {

// The C stream of a console target: the standard one unless a test or tool
// replaces it. Guarded by the owning target's lock.
class ConsoleStream {
public:
    explicit ConsoleStream(bool standardError) noexcept : standardError_(standardError) {}
    std::FILE* Replace(std::FILE* stream) noexcept;
    std::FILE* Get() const noexcept { return stream_ != nullptr ? stream_ : standardError_ ? stderr : stdout; }

private:
    bool standardError_;
    std::FILE* stream_ = nullptr;
};

}  // namespace detail

// Lines to the standard error stream.
class StdErrLogTarget final : public BaseConsoleLogTarget {
public:
    StdErrLogTarget();
    ~StdErrLogTarget() override;
    const char* GetName() const noexcept override;
    void Flush() noexcept override;
    // Lines go to stream from now on; null restores the standard error
    // stream. Returns the previous stream (null for the standard one).
    std::FILE* SetStream(std::FILE* stream) noexcept;

protected:
    void WriteLine(const char* line) noexcept override;

private:
    detail::ConsoleStream stream_{true};
};

// Lines to the standard output stream, not flushed after each line.
class StdOutLogTarget final : public BaseConsoleLogTarget {
public:
    StdOutLogTarget();
    ~StdOutLogTarget() override;
    const char* GetName() const noexcept override;
    void Flush() noexcept override;
    // As StdErrLogTarget::SetStream, for the standard output stream.
    std::FILE* SetStream(std::FILE* stream) noexcept;

protected:
    void WriteLine(const char* line) noexcept override;

private:
    detail::ConsoleStream stream_{false};
};

// Lines to the debugger (Platform::DebuggerOutput).
class DebuggerConsoleLogTarget final : public BaseConsoleLogTarget {
public:
    DebuggerConsoleLogTarget();
    ~DebuggerConsoleLogTarget() override;
    const char* GetName() const noexcept override;
    void Flush() noexcept override {}

protected:
    void WriteLine(const char* line) noexcept override;
};

}  // namespace Korvo
