// tests/support/recording_log_target.h - a log target that keeps what
// it receives, for tests that check what was logged.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/diagnostics/log_target.h"
#include "sdk/diagnostics/logger.h"
#include "sdk/platform/platform.h"

namespace Korvo::Testing {

struct RecordedLog {
    LogLevel level;
    LogGroups groups;
    std::string message;
    std::string line;  // the record expanded with the target's format
};

class RecordingLogTarget final : public LogTarget {
public:
    explicit RecordingLogTarget(std::string name = "RecordingLogTarget") : name_(std::move(name)) { EnableWrite(); }
    ~RecordingLogTarget() override { DetachForDestruction(); }

    const char* GetName() const noexcept override { return name_.c_str(); }

    bool Write(const LogRecord& record) override {
        char line[kLogBufferSize];
        std::lock_guard<Platform::RecursiveLock> guard(TargetLock());
        FormatRecord(line, sizeof line, record);
        records_.push_back({record.level, record.groups, record.message, line});
        return true;
    }

    std::vector<RecordedLog> Records() const {
        std::lock_guard<Platform::RecursiveLock> guard(TargetLock());
        return records_;
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const RecordedLog& record : Records()) lines.push_back(record.line);
        return lines;
    }

    std::vector<std::string> Messages() const {
        std::vector<std::string> messages;
        for (const RecordedLog& record : Records()) messages.push_back(record.message);
        return messages;
    }

private:
    std::string name_;
    std::vector<RecordedLog> records_;
};

// A temporary file that a console target writes to in place of its
// standard stream.
class CapturedStream {
public:
    CapturedStream() : file_(std::tmpfile()) {}
    ~CapturedStream() {
        if (file_ != nullptr) std::fclose(file_);
    }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;

    std::FILE* File() const { return file_; }

    std::string Text() const {
        std::string text;
        if (file_ == nullptr) return text;
        std::fflush(file_);
        const long end = std::ftell(file_);
        std::rewind(file_);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
        std::fseek(file_, end, SEEK_SET);
        return text;
    }

private:
    std::FILE* file_;
};

// Collects what goes to the debugger for as long as it lives.
class CapturedDebugger {
public:
    // Room reserved up front, so that collecting allocates nothing in tests
    // that count allocations.
    CapturedDebugger() {
        text_.reserve(kReservedText);
        previous_ = Platform::SetDebuggerSink(&Collect, this);
    }
    ~CapturedDebugger() { Platform::SetDebuggerSink(previous_, nullptr); }
    CapturedDebugger(const CapturedDebugger&) = delete;
    CapturedDebugger& operator=(const CapturedDebugger&) = delete;

    std::string Text() const {
        std::lock_guard<std::mutex> guard(lock_);
        return text_;
    }

private:
    static void Collect(const char* text, void* context) {
        auto* self = static_cast<CapturedDebugger*>(context);
        std::lock_guard<std::mutex> guard(self->lock_);
        self->text_ += text;
    }

    static constexpr size_t kReservedText = 1 << 16;

    Platform::DebuggerSink previous_ = nullptr;
    mutable std::mutex lock_;
    std::string text_;
};

}  // namespace Korvo::Testing
