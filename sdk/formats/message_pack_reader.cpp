#include "sdk/formats/message_pack_reader.h"

#include <array>
#include <bit>
#include <cassert>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "sdk/diagnostics/format.h"
#include "sdk/formats/message_pack_messages.h"
#include "sdk/formats/reader_limits.h"
#include "sdk/values/property_builder.h"
#include "sdk/values/work_stack.h"

namespace Korvo {
namespace {

// Frames reserved up front; deeper documents grow the stack.
constexpr size_t kReservedFrames = 16;

// ---------------------------------------------------------------- the cursor

// The bytes and the read position. Every read goes through ReadBigEndian or
// ReadBytes, which check the bounds; nothing else does pointer arithmetic.
class Cursor {
public:
    Cursor(const uint8_t* data, uint32_t size) noexcept : data_(data), size_(size) {}

    uint32_t Position() const noexcept { return position_; }
    uint32_t Remaining() const noexcept { return size_ - position_; }
    bool AtEnd() const noexcept { return position_ == size_; }

    template <typename T>
    friend bool ReadBigEndian(Cursor& cursor, T* out) noexcept;
    friend bool ReadBytes(Cursor& cursor, uint32_t length, const uint8_t** out) noexcept;

private:
    const uint8_t* data_;
    uint32_t size_;
    uint32_t position_ = 0;
};

// Reads an unsigned big-endian field of sizeof(T) bytes and advances; false,
// with nothing read, when fewer bytes remain.
template <typename T>
bool ReadBigEndian(Cursor& cursor, T* out) noexcept {
    static_assert(std::is_unsigned_v<T> && sizeof(T) <= sizeof(uint64_t));
    if (cursor.Remaining() < sizeof(T)) return false;
    // One load and a byte swap: a field is read for nearly every value.
    T value;
    std::memcpy(&value, cursor.data_ + cursor.position_, sizeof(T));
    if constexpr (std::endian::native == std::endian::little && sizeof(T) > 1) {
        if constexpr (sizeof(T) == 2) value = __builtin_bswap16(value);
        if constexpr (sizeof(T) == 4) value = __builtin_bswap32(value);
        if constexpr (sizeof(T) == 8) value = __builtin_bswap64(value);
    }
    *out = value;
    cursor.position_ += static_cast<uint32_t>(sizeof(T));
    return true;
}

// Points *out at the next length bytes and advances past them; false, with
// nothing read, when fewer bytes remain.
inline bool ReadBytes(Cursor& cursor, uint32_t length, const uint8_t** out) noexcept {
    if (cursor.Remaining() < length) return false;
    *out = cursor.data_ + cursor.position_;
    cursor.position_ += length;
    return true;
}

// ------------------------------------------------------------- type classes

enum class TypeClass : uint8_t {
    Fixint,  // positive and negative fixint: the byte itself, sign-extended
    FixMap,
    FixArray,
    FixStr,
    Nil,
    Invalid,  // 0xC1, ext 8/16/32, fixext 1/2/4/8/16
    False,
    True,
    Bin8,
    Bin16,
    Bin32,
    Float32,
    Float64,
    Uint8,
    Uint16,
    Uint32,
    Uint64,
    Int8,
    Int16,
    Int32,
    Int64,
    Str8,
    Str16,
    Str32,
    Array16,
    Array32,
    Map16,
    Map32,
};

constexpr std::array<TypeClass, 256> MakeTypeClasses() {
    std::array<TypeClass, 256> classes{};
    for (int b = 0; b < 256; ++b) {
        TypeClass c = TypeClass::Invalid;
        if (b <= 0x7F || b >= 0xE0) {
            c = TypeClass::Fixint;
        } else if (b <= 0x8F) {
            c = TypeClass::FixMap;
        } else if (b <= 0x9F) {
            c = TypeClass::FixArray;
        } else if (b <= 0xBF) {
            c = TypeClass::FixStr;
        } else {
            switch (b) {
                case 0xC0: c = TypeClass::Nil; break;
                case 0xC2: c = TypeClass::False; break;
                case 0xC3: c = TypeClass::True; break;
                case 0xC4: c = TypeClass::Bin8; break;
                case 0xC5: c = TypeClass::Bin16; break;
                case 0xC6: c = TypeClass::Bin32; break;
                case 0xCA: c = TypeClass::Float32; break;
                case 0xCB: c = TypeClass::Float64; break;
                case 0xCC: c = TypeClass::Uint8; break;
                case 0xCD: c = TypeClass::Uint16; break;
                case 0xCE: c = TypeClass::Uint32; break;
                case 0xCF: c = TypeClass::Uint64; break;
                case 0xD0: c = TypeClass::Int8; break;
                case 0xD1: c = TypeClass::Int16; break;
                case 0xD2: c = TypeClass::Int32; break;
                case 0xD3: c = TypeClass::Int64; break;
                case 0xD9: c = TypeClass::Str8; break;
                case 0xDA: c = TypeClass::Str16; break;
                case 0xDB: c = TypeClass::Str32; break;
                case 0xDC: c = TypeClass::Array16; break;
                case 0xDD: c = TypeClass::Array32; break;
                case 0xDE: c = TypeClass::Map16; break;
                case 0xDF: c = TypeClass::Map32; break;
                default: c = TypeClass::Invalid; break;
            }
        }
        classes[static_cast<size_t>(b)] = c;
    }
    return classes;
}

constexpr std::array<TypeClass, 256> kTypeClasses = MakeTypeClasses();

constexpr uint8_t kFixContainerSizeMask = 0x0F;
constexpr uint8_t kFixStrLengthMask = 0x1F;

template <size_t kBytes>
constexpr const char* TruncatedMessage() {
    if constexpr (kBytes == 1) return MessagePackMessage::kTruncated8;
    if constexpr (kBytes == 2) return MessagePackMessage::kTruncated16;
    if constexpr (kBytes == 4) return MessagePackMessage::kTruncated32;
    if constexpr (kBytes == 8) return MessagePackMessage::kTruncated64;
}

// ---------------------------------------------------------------- the reader

class MessagePackReader {
public:
    MessagePackReader(const uint8_t* data, uint32_t size, BindingProperty& root) : cursor_(data, size), builder_(root) {}

    void Run();
    uint32_t Position() const noexcept { return cursor_.Position(); }
    // The failure's message; empty when the data was read.
    const std::string& Failure() const noexcept { return failure_; }

private:
    // One open container. count and index are elements for an array,
    // entries (key and value) for a map, so a map 32 of any size fits.
    struct Frame {
        uint32_t count;
        uint32_t index;
        bool isMap;
    };

    bool ReadKey(std::string_view* key);
    void ReadValue();
    void OpenContainer(bool isMap, uint32_t count);

    template <typename T>
    bool ReadField(T* out);
    bool ReadRun(uint32_t length, const char* message, const uint8_t** out);
    template <typename T>
    bool ReadRunOfLength(const char* message, const uint8_t** out, uint32_t* length);
    [[gnu::noinline]] void FailTruncated(const char* message, uint32_t at);
    [[gnu::noinline]] void FailTruncatedRun(const char* message, uint32_t length, uint32_t at);

    void Fail(const std::string& message) {
        // The loop stops at the first failure, so none was recorded before.
        assert(failure_.empty());
        failure_ = message;
    }
    bool Failed() const noexcept { return !failure_.empty(); }

    Cursor cursor_;
    PropertyBuilder builder_;
    detail::WorkStack<Frame, kReservedFrames> frames_;
    std::string failure_;
};

// Reads values until the root is complete, the data ends or a value fails.
// Data that ends inside a container keeps what was read (the containers
// still open are closed as they stand); a map entry whose key is the last
// thing in the data is not added.
void MessagePackReader::Run() {
    bool rootRead = false;
    while (!cursor_.AtEnd()) {
        // Close the containers that are complete.
        while (!frames_.empty() && frames_.back().index == frames_.back().count) {
            frames_.pop_back();
            builder_.End();
        }
        if (frames_.empty()) {
            if (rootRead) break;
            rootRead = true;
        } else {
            Frame& top = frames_.back();
            ++top.index;
            if (top.isMap) {
                std::string_view key;
                if (!ReadKey(&key) || cursor_.AtEnd()) break;
                builder_.Key(key);
            }
        }
        ReadValue();
        if (Failed()) return;
    }
    if (!Failed()) builder_.Finish();
}

bool MessagePackReader::ReadKey(std::string_view* key) {
    uint8_t type = 0;
    ReadBigEndian(cursor_, &type);  // the caller saw a byte left
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    bool read = false;
    switch (kTypeClasses[type]) {
        case TypeClass::FixStr:
            length = type & kFixStrLengthMask;
            read = ReadRun(length, MessagePackMessage::kStringTruncated, &bytes);
            break;
        case TypeClass::Str8:
            read = ReadRunOfLength<uint8_t>(MessagePackMessage::kStringTruncated, &bytes, &length);
            break;
        case TypeClass::Str16:
            read = ReadRunOfLength<uint16_t>(MessagePackMessage::kStringTruncated, &bytes, &length);
            break;
        case TypeClass::Str32:
            read = ReadRunOfLength<uint32_t>(MessagePackMessage::kStringTruncated, &bytes, &length);
            break;
        default:
            Fail(FormatToString(MessagePackMessage::kKeyNotString, cursor_.Position()));
            return false;
    }
    if (!read) return false;
    *key = std::string_view(reinterpret_cast<const char*>(bytes), length);
    return true;
}

void MessagePackReader::ReadValue() {
    uint8_t type = 0;
    ReadBigEndian(cursor_, &type);  // the caller saw a byte left
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    switch (kTypeClasses[type]) {
        case TypeClass::Fixint:
            builder_.Signed(static_cast<int8_t>(type));
            break;
        case TypeClass::Nil:
            builder_.Null();
            break;
        case TypeClass::False:
            builder_.Bool(false);
            break;
        case TypeClass::True:
            builder_.Bool(true);
            break;
        case TypeClass::Uint8: {
            uint8_t value = 0;
            if (!ReadField(&value)) return;
            builder_.Unsigned(value);
            break;
        }
        case TypeClass::Uint16: {
            uint16_t value = 0;
            if (!ReadField(&value)) return;
            builder_.Unsigned(value);
            break;
        }
        case TypeClass::Uint32: {
            uint32_t value = 0;
            if (!ReadField(&value)) return;
            builder_.Unsigned(value);
            break;
        }
        case TypeClass::Uint64: {
            uint64_t value = 0;
            if (!ReadField(&value)) return;
            builder_.Unsigned(value);
            break;
        }
        case TypeClass::Int8: {
            uint8_t value = 0;
            if (!ReadField(&value)) return;
            builder_.Signed(static_cast<int8_t>(value));
            break;
        }
        case TypeClass::Int16: {
            uint16_t value = 0;
            if (!ReadField(&value)) return;
            builder_.Signed(static_cast<int16_t>(value));
            break;
        }
        case TypeClass::Int32: {
            uint32_t value = 0;
            if (!ReadField(&value)) return;
            builder_.Signed(static_cast<int32_t>(value));
            break;
        }
        case TypeClass::Int64: {
            uint64_t value = 0;
            if (!ReadField(&value)) return;
            builder_.Signed(static_cast<int64_t>(value));
            break;
        }
        case TypeClass::Float32: {
            uint32_t bits = 0;
            if (!ReadField(&bits)) return;
            builder_.Float(std::bit_cast<float>(bits));
            break;
        }
        case TypeClass::Float64: {
            uint64_t bits = 0;
            if (!ReadField(&bits)) return;
            builder_.Float(std::bit_cast<double>(bits));
            break;
        }
        case TypeClass::FixStr:
            length = type & kFixStrLengthMask;
            if (!ReadRun(length, MessagePackMessage::kStringTruncated, &bytes)) return;
            builder_.String(std::string_view(reinterpret_cast<const char*>(bytes), length));
            break;
        case TypeClass::Str8:
        case TypeClass::Str16:
        case TypeClass::Str32: {
            TypeClass c = kTypeClasses[type];
            bool read = c == TypeClass::Str8    ? ReadRunOfLength<uint8_t>(MessagePackMessage::kStringTruncated, &bytes, &length)
                        : c == TypeClass::Str16 ? ReadRunOfLength<uint16_t>(MessagePackMessage::kStringTruncated, &bytes, &length)
                                                : ReadRunOfLength<uint32_t>(MessagePackMessage::kStringTruncated, &bytes, &length);
            if (!read) return;
            builder_.String(std::string_view(reinterpret_cast<const char*>(bytes), length));
            break;
        }
        case TypeClass::Bin8:
        case TypeClass::Bin16:
        case TypeClass::Bin32: {
            TypeClass c = kTypeClasses[type];
            bool read = c == TypeClass::Bin8    ? ReadRunOfLength<uint8_t>(MessagePackMessage::kRawBytesTruncated, &bytes, &length)
                        : c == TypeClass::Bin16 ? ReadRunOfLength<uint16_t>(MessagePackMessage::kRawBytesTruncated, &bytes, &length)
                                                : ReadRunOfLength<uint32_t>(MessagePackMessage::kRawBytesTruncated, &bytes, &length);
            if (!read) return;
            builder_.Blob(std::span<const uint8_t>(bytes, length));
            break;
        }
        case TypeClass::FixArray:
            OpenContainer(false, type & kFixContainerSizeMask);
            return;
        case TypeClass::FixMap:
            OpenContainer(true, type & kFixContainerSizeMask);
            return;
        case TypeClass::Array16:
        case TypeClass::Map16: {
            uint16_t count = 0;
            if (!ReadField(&count)) return;
            OpenContainer(kTypeClasses[type] == TypeClass::Map16, count);
            return;
        }
        case TypeClass::Array32:
        case TypeClass::Map32: {
            uint32_t count = 0;
            if (!ReadField(&count)) return;
            OpenContainer(kTypeClasses[type] == TypeClass::Map32, count);
            return;
        }
        case TypeClass::Invalid:
            Fail(FormatToString(MessagePackMessage::kInvalidType, cursor_.Position()));
            return;
    }
}

void MessagePackReader::OpenContainer(bool isMap, uint32_t count) {
    if (frames_.size() >= kMaxNestingDepth) {
        Fail(FormatToString(MessagePackMessage::kNestedTooDeep, cursor_.Position(), kMaxNestingDepth));
        return;
    }
    if (isMap) {
        builder_.BeginStructure();
    } else {
        builder_.BeginCollection();
    }
    frames_.push_back({count, 0, isMap});
}

// The reads are inline and their failures are not: every value and key
// goes through them.
template <typename T>
inline bool MessagePackReader::ReadField(T* out) {
    uint32_t at = cursor_.Position();
    if (ReadBigEndian(cursor_, out)) [[likely]] return true;
    FailTruncated(TruncatedMessage<sizeof(T)>(), at);
    return false;
}

inline bool MessagePackReader::ReadRun(uint32_t length, const char* message, const uint8_t** out) {
    uint32_t at = cursor_.Position();
    if (ReadBytes(cursor_, length, out)) [[likely]] return true;
    FailTruncatedRun(message, length, at);
    return false;
}

void MessagePackReader::FailTruncated(const char* message, uint32_t at) { Fail(FormatToString(message, at)); }

void MessagePackReader::FailTruncatedRun(const char* message, uint32_t length, uint32_t at) {
    Fail(FormatToString(message, length, at));
}

template <typename T>
bool MessagePackReader::ReadRunOfLength(const char* message, const uint8_t** out, uint32_t* length) {
    T declared = 0;
    if (!ReadField(&declared)) return false;
    *length = declared;
    return ReadRun(declared, message, out);
}

}  // namespace

BindingResult ReadMessagePack(const void* data, uint32_t size, uint32_t* position) {
    BindingResult result;
    std::string failure;
    {
        // The reader and its builder go before a failure replaces what they
        // built into.
        MessagePackReader reader(static_cast<const uint8_t*>(data), size, result.Value());
        reader.Run();
        if (position != nullptr) *position = reader.Position();
        failure = reader.Failure();
    }
    if (!failure.empty()) result.Fail(failure);
    return result;
}

bool LooksLikeMessagePack(const void* data, uint32_t size) noexcept {
    if (size == 0) return false;
    uint8_t first = *static_cast<const uint8_t*>(data);
    return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

}  // namespace Korvo
