// sdk/diagnostics/log_target.cpp - the target base class, its function
// table and the console targets.
#include "sdk/diagnostics/log_target.h"

#include <mutex>
#include <new>
#include <utility>

#include "sdk/diagnostics/logger.h"

namespace Korvo {

namespace {

constexpr const char* kDefaultLineFormat = "#D| #L| #G| #M";

LogTarget* Self(LogTargetInterface* table) noexcept { return LogTarget::FromInterface(table); }

int32_t TargetReserved0(LogTargetInterface*) { return 1; }
void TargetSetLevel(LogTargetInterface* self, LogLevel level) { Self(self)->SetLevel(level); }
LogLevel TargetGetLevel(LogTargetInterface* self) { return Self(self)->GetLevel(); }
void TargetSetGroups(LogTargetInterface* self, LogGroups included, LogGroups excluded) {
    Self(self)->SetGroups(included, excluded);
}
LogGroups TargetGetIncludedGroups(LogTargetInterface* self) { return Self(self)->GetIncludedGroups(); }
LogGroups TargetGetExcludedGroups(LogTargetInterface* self) { return Self(self)->GetExcludedGroups(); }
const char* TargetGetName(LogTargetInterface* self) { return Self(self)->GetName(); }
const char* TargetGetFormat(LogTargetInterface* self) { return Self(self)->GetFormat().c_str(); }
void TargetAttach(LogTargetInterface* self) { Self(self)->Attach(); }
void TargetDetach(LogTargetInterface* self) { Self(self)->Detach(); }
bool TargetIsAttached(LogTargetInterface* self) { return Self(self)->IsAttached(); }

// The Write of a target that has not enabled its own: writes nothing.
bool TargetWriteNothing(LogTargetInterface*, const LogRecord*) { return false; }

bool TargetWrite(LogTargetInterface* self, const LogRecord* record) {
    if (record == nullptr) return false;
    try {
        return Self(self)->Write(*record);
    } catch (...) {
        return false;
    }
}

}  // namespace

LogTarget::LogTarget() : format_(kDefaultLineFormat) {
    interface_.table = {
        &TargetReserved0,          // reserved0
        &TargetSetLevel,           // SetLevel
        &TargetGetLevel,           // GetLevel
        &TargetSetGroups,          // SetGroups
        &TargetGetIncludedGroups,  // GetIncludedGroups
        &TargetGetExcludedGroups,  // GetExcludedGroups
        &TargetGetName,            // GetName
        &TargetGetFormat,          // GetFormat
        &TargetAttach,             // Attach
        &TargetDetach,             // Detach
        &TargetIsAttached,         // IsAttached
        &TargetWriteNothing,       // Write
    };
    interface_.owner = this;
}

LogTarget::~LogTarget() {
    // Derived targets leave the list in their own destructors; this catches
    // a target listed only through the Logger's AttachTarget.
    DetachForDestruction();
}

LogTarget* LogTarget::FromInterface(LogTargetInterface* table) noexcept {
    return reinterpret_cast<InterfaceHolder*>(table)->owner;
}

void LogTarget::EnableWrite() noexcept { interface_.table.Write = &TargetWrite; }

void LogTarget::DetachForDestruction() noexcept {
    Logger* logger = CurrentLogger();
    if (logger != nullptr) {
        std::lock_guard<Platform::RecursiveLock> loggerGuard(logger->Lock());
        interface_.table.Write = &TargetWriteNothing;
        logger->DetachObject(*this);
    } else {
        interface_.table.Write = &TargetWriteNothing;
        SetAttachedFlag(false);
    }
}

void LogTarget::Detach() noexcept {
    Logger* logger = CurrentLogger();
    if (logger == nullptr) {
        SetAttachedFlag(false);
        return;
    }
    std::lock_guard<Platform::RecursiveLock> loggerGuard(logger->Lock());
    if (IsAttached()) logger->DetachObject(*this);
}

const char* LogTarget::GetName() const noexcept { return "LogTarget"; }

const std::string& LogTarget::GetFormat() const noexcept { return format_.Text(); }

void LogTarget::SetLevel(LogLevel level) noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    level_.store(level, std::memory_order_relaxed);
}

void LogTarget::SetGroups(LogGroups included, LogGroups excluded) noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    included_.store(included & ~excluded, std::memory_order_relaxed);
    excluded_.store(excluded, std::memory_order_relaxed);
}

bool LogTarget::Attach() noexcept {
    Logger* logger = EnsureLogger();
    if (logger == nullptr) return false;
    std::lock_guard<Platform::RecursiveLock> loggerGuard(logger->Lock());
    if (IsAttached()) return true;
    return logger->AttachObject(*this);
}

bool LogTarget::Configure(const LogTargetSettings& settings) noexcept {
    Logger* logger = EnsureLogger();
    if (logger == nullptr) return false;
    LineFormat format;
    try {
        LineFormat parsed(settings.format);
        format.Swap(parsed);
    } catch (...) {
        return false;
    }
    std::lock_guard<Platform::RecursiveLock> loggerGuard(logger->Lock());
    std::lock_guard<Platform::RecursiveLock> targetGuard(lock_);
    // Room for the one entry first, so that nothing below can fail.
    try {
        logger->targets_.reserve(logger->targets_.size() + 1);
    } catch (...) {
        return false;
    }
    if (IsAttached()) logger->DetachObject(*this);
    ApplySettings(settings.level, settings.included, settings.excluded, format);
    logger->AttachObject(*this);
    return true;
}

void LogTarget::ApplySettings(LogLevel level, LogGroups included, LogGroups excluded, LineFormat& format) noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    level_.store(level, std::memory_order_relaxed);
    format_.Swap(format);
    SetGroups(included, excluded);
}

bool LogTarget::Accepts(LogLevel level, LogGroups groups) const noexcept {
    if (level < GetLevel()) return false;
    if (groups == 0) return true;
    if ((groups & GetExcludedGroups()) != 0) return false;
    const LogGroups included = GetIncludedGroups();
    return included == 0 || (groups & included) != 0;
}

size_t LogTarget::FormatRecord(char* buffer, size_t size, const LogRecord& record) const noexcept {
    Logger* logger = CurrentLogger();
    return format_.Write(buffer, size, record, logger != nullptr ? logger->ModuleName() : "");
}

BaseConsoleLogTarget::~BaseConsoleLogTarget() { DetachForDestruction(); }

const char* BaseConsoleLogTarget::GetName() const noexcept { return "BaseConsoleLogTarget"; }

bool BaseConsoleLogTarget::Write(const LogRecord& record) {
    char line[kLogBufferSize];
    std::lock_guard<Platform::RecursiveLock> guard(TargetLock());
    FormatRecord(line, sizeof line, record);
    WriteLine(line);
    return true;
}

namespace detail {

std::FILE* ConsoleStream::Replace(std::FILE* stream) noexcept { return std::exchange(stream_, stream); }

}  // namespace detail

StdErrLogTarget::StdErrLogTarget() { EnableWrite(); }
StdErrLogTarget::~StdErrLogTarget() { DetachForDestruction(); }
const char* StdErrLogTarget::GetName() const noexcept { return "StdErrLogTarget"; }

void StdErrLogTarget::Flush() noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(TargetLock());
    std::fflush(stream_.Get());
}

std::FILE* StdErrLogTarget::SetStream(std::FILE* stream) noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(TargetLock());
    return stream_.Replace(stream);
}

void StdErrLogTarget::WriteLine(const char* line) noexcept { std::fputs(line, stream_.Get()); }

StdOutLogTarget::StdOutLogTarget() { EnableWrite(); }
StdOutLogTarget::~StdOutLogTarget() { DetachForDestruction(); }
const char* StdOutLogTarget::GetName() const noexcept { return "StdOutLogTarget"; }

void StdOutLogTarget::Flush() noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(TargetLock());
    std::fflush(stream_.Get());
}

std::FILE* StdOutLogTarget::SetStream(std::FILE* stream) noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(TargetLock());
    return stream_.Replace(stream);
}

void StdOutLogTarget::WriteLine(const char* line) noexcept { std::fputs(line, stream_.Get()); }

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget() { EnableWrite(); }
DebuggerConsoleLogTarget::~DebuggerConsoleLogTarget() { DetachForDestruction(); }
const char* DebuggerConsoleLogTarget::GetName() const noexcept { return "DebuggerConsoleLogTarget"; }

void DebuggerConsoleLogTarget::WriteLine(const char* line) noexcept { Platform::DebuggerOutput(line); }

}  // namespace Korvo
