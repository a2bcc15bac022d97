// sdk/diagnostics/logger.cpp - the Logger, its lifetime and its function
// table.
#include "sdk/diagnostics/logger.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

namespace Korvo {

namespace detail {
std::atomic<Logger*> gCurrentLogger{nullptr};
}  // namespace detail

namespace {

// Targets a Logger can list before its list has to grow.
constexpr size_t kInitialTargetCapacity = 8;
constexpr const char* kConsoleLineFormat = "#E(#T): #L| #M";

std::atomic<uint32_t> gLoggerUsers{0};

// Serialises building and destroying the Logger. Never destroyed, so that
// log calls during static destruction still find it.
Platform::RecursiveLock& LifetimeLock() noexcept {
    alignas(Platform::RecursiveLock) static unsigned char storage[sizeof(Platform::RecursiveLock)];
    static Platform::RecursiveLock* lock = new (storage) Platform::RecursiveLock();
    return *lock;
}

// Builds the Logger unless one exists; call under LifetimeLock().
Logger* BuildLoggerLocked() noexcept {
    Logger* logger = detail::gCurrentLogger.load(std::memory_order_acquire);
    if (logger != nullptr) return logger;
    try {
        logger = new Logger();
    } catch (...) {
        return nullptr;
    }
    detail::gCurrentLogger.store(logger, std::memory_order_release);
    return logger;
}

}  // namespace

Logger::Logger() {
    targets_.reserve(kInitialTargetCapacity);
    LineFormat stdErrFormat(kConsoleLineFormat);
    LineFormat stdOutFormat("#M");
    LineFormat debuggerFormat(kConsoleLineFormat);
    stdErr_.ApplySettings(Warn, kLogGroupDebug, kLogGroupGeneral, stdErrFormat);
    stdOut_.ApplySettings(Warn, kLogGroupGeneral, kLogGroupDebug, stdOutFormat);
    debugger_.ApplySettings(Warn, kLogGroupDebug, 0, debuggerFormat);
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    Platform::MainExecutableFileName(moduleName_, sizeof moduleName_);
    AttachObject(stdErr_);
    AttachObject(debugger_);
}

Logger::~Logger() {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    // Each Detach takes this lock again and leaves the list.
    while (!targets_.empty()) {
        LogTargetInterface* table = targets_.back();
        table->Detach(table);
        // A foreign target whose Detach did not leave the list.
        if (!targets_.empty() && targets_.back() == table) targets_.pop_back();
    }
}

void Logger::SetLevel(LogLevel level) noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    level_.store(level, std::memory_order_relaxed);
}

LogLevel Logger::GetLevel() const noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    return static_cast<LogLevel>(level_.load(std::memory_order_relaxed));
}

void Logger::SetSuppressedGroups(LogGroups groups) noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    suppressed_.store(groups, std::memory_order_relaxed);
}

LogGroups Logger::GetSuppressedGroups() const noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    return suppressed_.load(std::memory_order_relaxed);
}

bool Logger::AttachTarget(LogTargetInterface* table) noexcept {
    if (table == nullptr) return false;
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    try {
        targets_.push_back(table);
    } catch (...) {
        return false;
    }
    return true;
}

void Logger::DetachTarget(LogTargetInterface* table) noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    targets_.erase(std::remove(targets_.begin(), targets_.end(), table), targets_.end());
}

LogTargetInterface* Logger::FindTarget(const char* name) noexcept {
    if (name == nullptr) return nullptr;
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    for (LogTargetInterface* table : targets_) {
        const char* targetName = table->GetName(table);
        if (targetName != nullptr && std::strcmp(targetName, name) == 0) return table;
    }
    return nullptr;
}

std::vector<LogTargetInterface*> Logger::Targets() const {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    return targets_;
}

bool Logger::AttachObject(LogTarget& target) noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    if (!AttachTarget(target.Interface())) return false;
    target.SetAttachedFlag(true);
    return true;
}

void Logger::DetachObject(LogTarget& target) noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    target.SetAttachedFlag(false);
    DetachTarget(target.Interface());
}

void Logger::LogV(LogLevel level, LogGroups groups, const char* format, va_list args) noexcept {
    if (format == nullptr) return;
    char message[kLogBufferSize];
    if (std::vsnprintf(message, sizeof message, format, args) < 0) message[0] = '\0';
    LogRecord record;
    record.time = ReadLogTime();
    record.level = level;
    record.groups = groups;
    record.message = message;
    Dispatch(record);
}

void Logger::Dispatch(const LogRecord& record) noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(lock_);
    if (dispatching_) return;  // logged from inside a target's Write
    dispatching_ = true;
    // By index: a Write may detach targets.
    for (size_t i = 0; i < targets_.size(); ++i) {
        LogTargetInterface* table = targets_[i];
        if (record.level < table->GetLevel(table)) continue;
        if (record.groups != 0) {
            if ((record.groups & table->GetExcludedGroups(table)) != 0) continue;
            const LogGroups included = table->GetIncludedGroups(table);
            if (included != 0 && (record.groups & included) == 0) continue;
        }
        table->Write(table, &record);
    }
    dispatching_ = false;
}

Logger* EnsureLogger() noexcept {
    Logger* logger = CurrentLogger();
    if (logger != nullptr) return logger;
    std::lock_guard<Platform::RecursiveLock> guard(LifetimeLock());
    return BuildLoggerLocked();
}

void AcquireLogger() noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(LifetimeLock());
    if (gLoggerUsers.fetch_add(1, std::memory_order_acq_rel) + 1 == 1) BuildLoggerLocked();
}

void ReleaseLogger() noexcept {
    std::lock_guard<Platform::RecursiveLock> guard(LifetimeLock());
    if (gLoggerUsers.load(std::memory_order_acquire) == 0) return;
    if (gLoggerUsers.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    Logger* logger = CurrentLogger();
    if (logger == nullptr) return;
    // Still published while it is destroyed: its targets detach through it.
    delete logger;
    detail::gCurrentLogger.store(nullptr, std::memory_order_release);
}

uint32_t LoggerUserCount() noexcept { return gLoggerUsers.load(std::memory_order_acquire); }

size_t FormatLine(char* buffer, size_t size, const char* format, const LogRecord& record) noexcept {
    Logger* logger = CurrentLogger();
    return FormatLine(buffer, size, format, record, logger != nullptr ? logger->ModuleName() : "");
}

namespace {

int32_t InterfaceReserved0(const LoggingInterface*) { return 1; }
void InterfaceAcquireLogger(const LoggingInterface*) { AcquireLogger(); }
void InterfaceReleaseLogger(const LoggingInterface*) { ReleaseLogger(); }

void InterfaceSetLoggerLevel(const LoggingInterface*, LogLevel level) {
    if (Logger* logger = EnsureLogger()) logger->SetLevel(level);
}
LogLevel InterfaceGetLoggerLevel(const LoggingInterface*) {
    Logger* logger = EnsureLogger();
    return logger != nullptr ? logger->GetLevel() : Warn;
}
void InterfaceSetSuppressedGroups(const LoggingInterface*, LogGroups groups) {
    if (Logger* logger = EnsureLogger()) logger->SetSuppressedGroups(groups);
}
LogGroups InterfaceGetSuppressedGroups(const LoggingInterface*) {
    Logger* logger = EnsureLogger();
    return logger != nullptr ? logger->GetSuppressedGroups() : kLogGroupExtra;
}
void InterfaceDisable(const LoggingInterface*) {
    if (Logger* logger = EnsureLogger()) logger->Disable();
}
void InterfaceEnable(const LoggingInterface*) {
    if (Logger* logger = EnsureLogger()) logger->Enable();
}
void InterfaceSetSpareFlag(const LoggingInterface*) {
    if (Logger* logger = EnsureLogger()) logger->SetSpareFlag(true);
}
void InterfaceClearSpareFlag(const LoggingInterface*) {
    if (Logger* logger = EnsureLogger()) logger->SetSpareFlag(false);
}
void InterfaceAttachTarget(const LoggingInterface*, LogTargetInterface* target) {
    if (Logger* logger = EnsureLogger()) logger->AttachTarget(target);
}
void InterfaceDetachTarget(const LoggingInterface*, LogTargetInterface* target) {
    if (Logger* logger = EnsureLogger()) logger->DetachTarget(target);
}
LogTargetInterface* InterfaceFindTarget(const LoggingInterface*, const char* name) {
    Logger* logger = EnsureLogger();
    return logger != nullptr ? logger->FindTarget(name) : nullptr;
}
LogTargetInterface* InterfaceStdOutTarget(const LoggingInterface*) {
    Logger* logger = CurrentLogger();
    return logger != nullptr ? logger->StdOutTarget().Interface() : nullptr;
}
LogTargetInterface* InterfaceStdErrTarget(const LoggingInterface*) {
    Logger* logger = CurrentLogger();
    return logger != nullptr ? logger->StdErrTarget().Interface() : nullptr;
}
LogTargetInterface* InterfaceDebuggerTarget(const LoggingInterface*) {
    Logger* logger = CurrentLogger();
    return logger != nullptr ? logger->DebuggerTarget().Interface() : nullptr;
}
LogGroups InterfaceRegisterGroup(const LoggingInterface*, LogGroups* result, const char* name) {
    return RegisterGroup(result, name);
}
size_t InterfaceFormatGroups(const LoggingInterface*, char* buffer, size_t size, LogGroups groups) {
    return FormatGroups(buffer, size, groups);
}
size_t InterfaceFormatLine(const LoggingInterface*, char* buffer, size_t size, const char* format,
                           const LogRecord* record) {
    if (record == nullptr) {
        if (size > 0) buffer[0] = '\0';
        return 0;
    }
    return FormatLine(buffer, size, format, *record);
}
const char* InterfaceLevelName(const LoggingInterface*, LogLevel level) { return LogLevelName(level); }
const char* InterfaceModuleName(const LoggingInterface*) {
    Logger* logger = CurrentLogger();
    return logger != nullptr ? logger->ModuleName() : "";
}
void InterfaceReadLocalTime(const LoggingInterface*, LogTime* time) {
    if (time != nullptr) *time = ReadLogTime();
}
size_t InterfaceFormatTime(const LoggingInterface*, char* buffer, size_t size, const LogTime* time) {
    if (time == nullptr) {
        if (size > 0) buffer[0] = '\0';
        return 0;
    }
    return FormatLogTime(buffer, size, *time);
}
size_t InterfaceFormatFileTime(const LoggingInterface*, char* buffer, size_t size, const LogTime* time) {
    if (time == nullptr) {
        if (size > 0) buffer[0] = '\0';
        return 0;
    }
    return FormatLogFileTime(buffer, size, *time);
}
void InterfaceLogMessageV(const LoggingInterface*, LogLevel level, LogGroups groups, const char* format,
                          va_list args) {
    LogMessageV(level, groups, format, args);
}

const LoggingInterface kLoggingInterface = {
    &InterfaceReserved0,            // reserved0
    &InterfaceAcquireLogger,        // AcquireLogger
    &InterfaceReleaseLogger,        // ReleaseLogger
    &InterfaceSetLoggerLevel,       // SetLoggerLevel
    &InterfaceGetLoggerLevel,       // GetLoggerLevel
    &InterfaceSetSuppressedGroups,  // SetSuppressedGroups
    &InterfaceGetSuppressedGroups,  // GetSuppressedGroups
    &InterfaceDisable,              // Disable
    &InterfaceEnable,               // Enable
    &InterfaceSetSpareFlag,         // reserved9
    &InterfaceClearSpareFlag,       // reserved10
    &InterfaceAttachTarget,         // AttachTarget
    &InterfaceDetachTarget,         // DetachTarget
    &InterfaceFindTarget,           // FindTarget
    &InterfaceStdOutTarget,         // StdOutTarget
    &InterfaceStdErrTarget,         // StdErrTarget
    &InterfaceDebuggerTarget,       // DebuggerTarget
    &InterfaceRegisterGroup,        // RegisterGroup
    &InterfaceFormatGroups,         // FormatGroups
    &InterfaceFormatLine,           // FormatLine
    &InterfaceLevelName,            // LevelName
    &InterfaceModuleName,           // ModuleName
    &InterfaceReadLocalTime,        // ReadLocalTime
    &InterfaceFormatTime,           // FormatTime
    &InterfaceFormatFileTime,       // FormatFileTime
    &InterfaceLogMessageV,          // LogMessageV
};

}  // namespace

const LoggingInterface* GetLoggingInterface() noexcept { return &kLoggingInterface; }

}  // namespace Korvo
