// sdk/diagnostics/log_line.h - log records, the group table and line
// formats.
//
// \file
// A line format is text with '#' codes, expanded for one record:
//   #D  the record's time, "2024-05-01T13:45:12.345"
//   #E  the module name (the main executable's file name)
//   #G  the record's groups, "DBG;NET"
//   #H  seconds since the first use, "000012.345"
//   #L  the level, six characters wide ("  WARN")
//   #M  the message
//   #T  the calling thread's id, eight upper-case hexadecimal digits
// '#' before any other character gives that character ("##" is one '#'); a
// '#' at the very end ends the format. Every line ends in one line feed.
//
// Everything here may be called from any thread and allocates nothing,
// except LineFormat::Parse, which builds the parsed form a target keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/diagnostics/log.h"

namespace Korvo {

// Local wall-clock time of a record (no day of the week).
struct LogTime {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t millisecond;
};

// One log call that passed the Logger's filters, as targets receive it. The
// message is NUL-terminated, at most kLogMessageMaxLength characters, and
// lives only for the duration of the call that hands the record over.
struct LogRecord {
    LogTime time;
    LogLevel level;
    LogGroups groups;
    const char* message;
};

// Buffers of the logging path: the message and the expanded line.
inline constexpr size_t kLogBufferSize = 4096;
inline constexpr size_t kLogMessageMaxLength = kLogBufferSize - 1;

// Number of groups, and the width of a group name.
inline constexpr int kLogGroupCount = 64;
inline constexpr size_t kLogGroupNameLength = 3;

// The text #L prints: "  OKAY", "  WARN", " ERROR", "ALWAYS"; a level
// outside Okay..Always prints as kUnknownLogLevelName.
inline constexpr const char* kUnknownLogLevelName = "  ????";
const char* LogLevelName(LogLevel level) noexcept;

// Finds or adds a group by the first three characters of name and returns
// its mask (also stored in *result when result is not null). The first
// eight groups are DBG, GEN, XTR, PRF, MEM, DSK, NET and TST; new names take
// the next free bit. Returns 0 and stores nothing when all 64 bits are in
// use or name is null or empty.
LogGroups RegisterGroup(LogGroups* result, const char* name) noexcept;

// Writes the names of the set bits from bit 0 upward, separated by ';', cut
// to size - 1 characters and NUL-terminated. Returns the length written.
size_t FormatGroups(char* buffer, size_t size, LogGroups groups) noexcept;

// Seconds since the first call (the performance counter's).
double ElapsedSeconds() noexcept;

// The local time now.
LogTime ReadLogTime() noexcept;
// "%04d-%02d-%02dT%02d:%02d:%02d.%03d" and, for file names,
// "%04d-%02d-%02dT%02d-%02d-%02d". Both return the length written, cut to
// size - 1 characters and NUL-terminated.
size_t FormatLogTime(char* buffer, size_t size, const LogTime& time) noexcept;
size_t FormatLogFileTime(char* buffer, size_t size, const LogTime& time) noexcept;

// Expands format for record into buffer. The text keeps two characters in
// reserve so that the line always ends in exactly one line feed (a text
// that already ends in one keeps it) and a NUL. Returns the length written,
// line feed included. module is what #E prints.
size_t FormatLine(char* buffer, size_t size, const char* format, const LogRecord& record,
                  const char* module) noexcept;

// A line format parsed once, when it is set, into pieces that writing a
// line walks.
class LineFormat {
public:
    LineFormat() = default;
    // Throws std::bad_alloc only.
    explicit LineFormat(std::string format);

    const std::string& Text() const noexcept { return text_; }

    // As FormatLine, with the parsed pieces.
    size_t Write(char* buffer, size_t size, const LogRecord& record, const char* module) const noexcept;

    void Swap(LineFormat& other) noexcept {
        text_.swap(other.text_);
        pieces_.swap(other.pieces_);
    }

private:
    enum class Code : uint8_t { Text, Time, Module, Groups, Elapsed, Level, Message, Thread };
    struct Piece {
        Code code;
        uint32_t offset;  // Text only: the characters of text_ it copies
        uint32_t length;
    };
    friend class LineFormatParser;

    std::string text_;
    std::vector<Piece> pieces_;
};

}  // namespace Korvo
