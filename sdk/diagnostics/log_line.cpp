// sdk/diagnostics/log_line.cpp - records, groups and line formats.
#include "sdk/diagnostics/log_line.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "sdk/platform/platform.h"

namespace Korvo {

namespace {

constexpr const char* kLevelNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
constexpr int kInitialHighestGroup = 7;
constexpr size_t kLineReserve = 2;  // the line feed and the NUL
constexpr size_t kThreadIdDigits = 8;

// A group name packed into one word (three characters and a NUL), so that
// readers need no lock while RegisterGroup adds names.
constexpr uint32_t PackName(const char* name) noexcept {
    uint32_t packed = 0;
    for (size_t i = 0; i < kLogGroupNameLength && name[i] != '\0'; ++i) {
        packed |= static_cast<uint32_t>(static_cast<unsigned char>(name[i])) << (8 * i);
    }
    return packed;
}

constexpr uint32_t kUnnamedGroup = PackName("???");

struct GroupTable {
    std::atomic<uint32_t> names[kLogGroupCount];
    std::atomic<int> highest{kInitialHighestGroup};
    // Serialises registrations so that one name never takes two bits.
    Platform::RecursiveLock lock;

    GroupTable() noexcept {
        static constexpr const char* kInitial[] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"};
        for (int bit = 0; bit < kLogGroupCount; ++bit) {
            names[bit].store(bit <= kInitialHighestGroup ? PackName(kInitial[bit]) : kUnnamedGroup,
                             std::memory_order_relaxed);
        }
    }
};

// Never destroyed: targets and log calls may run during static destruction.
GroupTable& Groups() noexcept {
    alignas(GroupTable) static unsigned char storage[sizeof(GroupTable)];
    static GroupTable* table = new (storage) GroupTable();
    return *table;
}

// Appends to a buffer that keeps kLineReserve characters for the end.
class LineWriter {
public:
    LineWriter(char* buffer, size_t size) noexcept
        : buffer_(buffer), limit_(size >= kLineReserve ? size - kLineReserve : 0) {}

    bool Full() const noexcept { return position_ >= limit_; }

    void Append(const char* text, size_t length) noexcept {
        const size_t room = limit_ - position_;
        if (length > room) length = room;
        std::memcpy(buffer_ + position_, text, length);
        position_ += length;
    }
    void Append(const char* text) noexcept { Append(text, std::strlen(text)); }

    // Ends the line with one line feed and a NUL (the reserve guarantees
    // room); returns its length.
    size_t Finish() noexcept {
        if (position_ == 0 || buffer_[position_ - 1] != '\n') buffer_[position_++] = '\n';
        buffer_[position_] = '\0';
        return position_;
    }

private:
    char* buffer_;
    size_t limit_;
    size_t position_ = 0;
};

void AppendThreadId(LineWriter& writer) noexcept {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    const uint32_t id = Platform::CurrentThreadId();
    char text[kThreadIdDigits];
    for (size_t i = 0; i < kThreadIdDigits; ++i) {
        text[i] = kHexDigits[(id >> (4 * (kThreadIdDigits - 1 - i))) & 0xF];
    }
    writer.Append(text, kThreadIdDigits);
}

void AppendElapsed(LineWriter& writer) noexcept {
    // Computed in single precision, as the line has always shown it.
    const float seconds = static_cast<float>(ElapsedSeconds());
    const int whole = static_cast<int>(seconds);
    const int milliseconds = static_cast<int>(seconds * 1000.0f) % 1000;
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%06d.%03d", whole, milliseconds);
    if (length > 0) writer.Append(text, static_cast<size_t>(length) < sizeof text ? length : sizeof text - 1);
}

// Calls visit(code, offset, length) for each piece of format; runs of plain
// text come as one piece, a "#x" that is no code as the one character x.
template <class Code, class Visit>
void WalkLineFormat(std::string_view format, Visit&& visit) {
    size_t i = 0;
    while (i < format.size()) {
        if (format[i] != '#') {
            const size_t start = i;
            while (i < format.size() && format[i] != '#') ++i;
            visit(Code::Text, start, i - start);
            continue;
        }
        if (i + 1 >= format.size()) return;  // a '#' at the very end
        const char c = format[i + 1];
        switch (c) {
            case 'D': visit(Code::Time, 0, 0); break;
            case 'E': visit(Code::Module, 0, 0); break;
            case 'G': visit(Code::Groups, 0, 0); break;
            case 'H': visit(Code::Elapsed, 0, 0); break;
            case 'L': visit(Code::Level, 0, 0); break;
            case 'M': visit(Code::Message, 0, 0); break;
            case 'T': visit(Code::Thread, 0, 0); break;
            default: visit(Code::Text, i + 1, 1); break;
        }
        i += 2;
    }
}

}  // namespace

// Parses formats for LineFormat and expands pieces for both forms.
class LineFormatParser {
public:
    using Code = LineFormat::Code;

    static void Expand(LineWriter& writer, Code code, const char* text, size_t length, const LogRecord& record,
                       const char* module) noexcept {
        switch (code) {
            case Code::Text: writer.Append(text, length); break;
            case Code::Time: {
                char time[40];
                writer.Append(time, FormatLogTime(time, sizeof time, record.time));
                break;
            }
            case Code::Module: writer.Append(module != nullptr ? module : ""); break;
            case Code::Groups: {
                char groups[kLogGroupCount * (kLogGroupNameLength + 1)];
                writer.Append(groups, FormatGroups(groups, sizeof groups, record.groups));
                break;
            }
            case Code::Elapsed: AppendElapsed(writer); break;
            case Code::Level: writer.Append(LogLevelName(record.level)); break;
            case Code::Message: writer.Append(record.message != nullptr ? record.message : ""); break;
            case Code::Thread: AppendThreadId(writer); break;
        }
    }

    // Expands a format that was never parsed, walking it as Parse does.
    static void ExpandUnparsed(LineWriter& writer, std::string_view format, const LogRecord& record,
                               const char* module) noexcept {
        WalkLineFormat<Code>(format, [&](Code code, size_t offset, size_t length) {
            if (!writer.Full()) Expand(writer, code, format.data() + offset, length, record, module);
        });
    }

    static void Parse(LineFormat& format) {
        WalkLineFormat<Code>(format.text_, [&](Code code, size_t offset, size_t length) {
            std::vector<LineFormat::Piece>& pieces = format.pieces_;
            // "##x" gives two text pieces that touch: keep them as one.
            if (code == Code::Text && !pieces.empty() && pieces.back().code == Code::Text &&
                pieces.back().offset + pieces.back().length == offset) {
                pieces.back().length += static_cast<uint32_t>(length);
                return;
            }
            pieces.push_back({code, static_cast<uint32_t>(offset), static_cast<uint32_t>(length)});
        });
    }
};

const char* LogLevelName(LogLevel level) noexcept {
    // A negative level turns into a code above the last.
    if (!KorvoLogLevelIsValid(static_cast<uint32_t>(level))) return kUnknownLogLevelName;
    return kLevelNames[level];
}

LogGroups RegisterGroup(LogGroups* result, const char* name) noexcept {
    if (name == nullptr || name[0] == '\0') return 0;
    GroupTable& table = Groups();
    const uint32_t packed = PackName(name);
    std::lock_guard<Platform::RecursiveLock> guard(table.lock);
    const int highest = table.highest.load(std::memory_order_relaxed);
    int bit = 0;
    while (bit <= highest && table.names[bit].load(std::memory_order_relaxed) != packed) ++bit;
    if (bit > highest) {
        if (highest + 1 >= kLogGroupCount) return 0;
        bit = highest + 1;
        table.names[bit].store(packed, std::memory_order_release);
        table.highest.fetch_add(1, std::memory_order_release);
    }
    const LogGroups mask = LogGroups{1} << bit;
    if (result != nullptr) *result = mask;
    return mask;
}

size_t FormatGroups(char* buffer, size_t size, LogGroups groups) noexcept {
    if (size == 0) return 0;
    GroupTable& table = Groups();
    size_t position = 0;
    auto append = [&](const char* text, size_t length) {
        const size_t room = size - 1 - position;
        if (length > room) length = room;
        std::memcpy(buffer + position, text, length);
        position += length;
    };
    bool first = true;
    for (int bit = 0; bit < kLogGroupCount && position < size - 1; ++bit) {
        if ((groups & (LogGroups{1} << bit)) == 0) continue;
        if (!first) append(";", 1);
        first = false;
        const uint32_t packed = table.names[bit].load(std::memory_order_acquire);
        char name[kLogGroupNameLength];
        size_t length = 0;
        while (length < kLogGroupNameLength && ((packed >> (8 * length)) & 0xFF) != 0) {
            name[length] = static_cast<char>((packed >> (8 * length)) & 0xFF);
            ++length;
        }
        append(name, length);
    }
    buffer[position] = '\0';
    return position;
}

double ElapsedSeconds() noexcept {
    static const int64_t frequency = Platform::PerformanceFrequency();
    static const int64_t start = Platform::PerformanceCounter();
    if (frequency <= 0) return 0.0;
    return static_cast<double>(Platform::PerformanceCounter() - start) / static_cast<double>(frequency);
}

LogTime ReadLogTime() noexcept {
    const Platform::LocalTime now = Platform::GetLocalTime();
    return LogTime{now.year, now.month, now.day, now.hour, now.minute, now.second, now.millisecond};
}

namespace {

size_t Clamp(int length, size_t size) noexcept {
    if (length < 0) return 0;
    return static_cast<size_t>(length) < size ? static_cast<size_t>(length) : size - 1;
}

}  // namespace

size_t FormatLogTime(char* buffer, size_t size, const LogTime& time) noexcept {
    if (size == 0) return 0;
    const int length = std::snprintf(buffer, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", time.year, time.month,
                                     time.day, time.hour, time.minute, time.second, time.millisecond);
    if (length < 0) buffer[0] = '\0';
    return Clamp(length, size);
}

size_t FormatLogFileTime(char* buffer, size_t size, const LogTime& time) noexcept {
    if (size == 0) return 0;
    const int length = std::snprintf(buffer, size, "%04d-%02d-%02dT%02d-%02d-%02d", time.year, time.month, time.day,
                                     time.hour, time.minute, time.second);
    if (length < 0) buffer[0] = '\0';
    return Clamp(length, size);
}

size_t FormatLine(char* buffer, size_t size, const char* format, const LogRecord& record,
                  const char* module) noexcept {
    if (size == 0) return 0;
    if (size < kLineReserve) {
        buffer[0] = '\0';
        return 0;
    }
    LineWriter writer(buffer, size);
    LineFormatParser::ExpandUnparsed(writer, format != nullptr ? format : "", record, module);
    return writer.Finish();
}

LineFormat::LineFormat(std::string format) : text_(std::move(format)) {
    LineFormatParser::Parse(*this);
}

size_t LineFormat::Write(char* buffer, size_t size, const LogRecord& record, const char* module) const noexcept {
    if (size == 0) return 0;
    if (size < kLineReserve) {
        buffer[0] = '\0';
        return 0;
    }
    LineWriter writer(buffer, size);
    for (const Piece& piece : pieces_) {
        if (writer.Full()) break;
        LineFormatParser::Expand(writer, piece.code, text_.data() + piece.offset, piece.length, record, module);
    }
    return writer.Finish();
}

}  // namespace Korvo
