#include "sdk/formats/message_pack_reader.h"

#include <array>
#include <bit>
#include <cassert>
#include <string_view>
#include <type_traits>
#include <vector>

#include "sdk/diagnostics/format.h"
#include "sdk/formats/containers.h"
#include "sdk/formats/message_pack_messages.h"
#include "sdk/formats/reader_limits.h"

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
    const uint8_t* bytes = cursor.data_ + cursor.position_;
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value = (value << 8) | bytes[i];
    *out = static_cast<T>(value);
    cursor.position_ += static_cast<uint32_t>(sizeof(T));
    return true;
}

// Points *out at the next length bytes and advances past them; false, with
// nothing read, when fewer bytes remain.
bool ReadBytes(Cursor& cursor, uint32_t length, const uint8_t** out) noexcept {
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
    MessagePackReader(const uint8_t* data, uint32_t size, BindingResult& result)
        : cursor_(data, size), result_(result) {
        frames_.reserve(kReservedFrames);
    }

    void Run();
    uint32_t Position() const noexcept { return cursor_.Position(); }

private:
    enum class Mode : uint8_t {
        Value,  // the target is still to be read
        Array,  // the target is an open collection
        Map,    // the target is an open structure
    };

    // One property being filled or container being read. count and index
    // are elements for an array, entries (key and value) for a map, so a
    // map 32 of any size fits.
    struct Frame {
        BindingProperty* target;
        uint32_t count;
        uint32_t index;
        Mode mode;
        uint32_t reserved;  // of an array: room made ahead and not filled yet
    };

    Frame* NextValueFrame();
    bool ReadKey(std::string_view* key);
    void ReadValue(Frame& frame);
    void OpenContainer(Frame& frame, Mode mode, uint32_t count);

    template <typename T>
    bool ReadField(T* out);
    bool ReadRun(uint32_t length, const char* message, const uint8_t** out);
    template <typename T>
    bool ReadRunOfLength(const char* message, const uint8_t** out, uint32_t* length);

    void Fail(const std::string& message) {
        // The loop stops at the first failure, so none was recorded before.
        assert(result_.Succeeded());
        result_.Fail(message);
    }
    bool Failed() const noexcept { return result_.Failed(); }

    Cursor cursor_;
    BindingResult& result_;
    std::vector<Frame> frames_;
    // Element slots made ahead in the open arrays and not filled yet. Each
    // will take at least one byte of the data still to come, so they never
    // outnumber those bytes: a declared size makes the reader allocate
    // ahead of the data no more than the elements themselves would.
    uint64_t reservedAhead_ = 0;
};

void MessagePackReader::Run() {
    frames_.push_back({&result_.Value(), 0, 0, Mode::Value, 0});
    while (!cursor_.AtEnd()) {
        Frame* frame = NextValueFrame();
        if (frame == nullptr) return;
        ReadValue(*frame);
        if (Failed()) return;
    }
}

// Pops finished containers and returns the frame of the next value to read:
// a new element of an open array, the field of a new map entry (its key is
// read here), or a frame still waiting for its value. Null when the root is
// complete, when the data ends between a key and its value, or on failure.
MessagePackReader::Frame* MessagePackReader::NextValueFrame() {
    while (!frames_.empty()) {
        Frame& top = frames_.back();
        if (top.mode == Mode::Value) return &top;
        if (top.index == top.count) {
            reservedAhead_ -= top.reserved;
            frames_.pop_back();
            continue;
        }
        ++top.index;
        BindingProperty* target = top.target;
        BindingProperty* child = nullptr;
        if (top.mode == Mode::Array) {
            if (top.reserved != 0) {
                --top.reserved;
                --reservedAhead_;
            }
            child = &target->Append();
        } else {
            std::string_view key;
            if (!ReadKey(&key) || cursor_.AtEnd()) return nullptr;
            child = &target->Member(key);
        }
        frames_.push_back({child, 0, 0, Mode::Value, 0});
        return &frames_.back();
    }
    return nullptr;
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

void MessagePackReader::ReadValue(Frame& frame) {
    BindingProperty& target = *frame.target;
    uint8_t type = 0;
    ReadBigEndian(cursor_, &type);  // the caller saw a byte left
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    switch (kTypeClasses[type]) {
        case TypeClass::Fixint:
            target.SetSigned(static_cast<int8_t>(type));
            break;
        case TypeClass::Nil:
            break;
        case TypeClass::False:
            target.SetBool(false);
            break;
        case TypeClass::True:
            target.SetBool(true);
            break;
        case TypeClass::Uint8: {
            uint8_t value = 0;
            if (!ReadField(&value)) return;
            target.SetUnsigned(value);
            break;
        }
        case TypeClass::Uint16: {
            uint16_t value = 0;
            if (!ReadField(&value)) return;
            target.SetUnsigned(value);
            break;
        }
        case TypeClass::Uint32: {
            uint32_t value = 0;
            if (!ReadField(&value)) return;
            target.SetUnsigned(value);
            break;
        }
        case TypeClass::Uint64: {
            uint64_t value = 0;
            if (!ReadField(&value)) return;
            target.SetUnsigned(value);
            break;
        }
        case TypeClass::Int8: {
            uint8_t value = 0;
            if (!ReadField(&value)) return;
            target.SetSigned(static_cast<int8_t>(value));
            break;
        }
        case TypeClass::Int16: {
            uint16_t value = 0;
            if (!ReadField(&value)) return;
            target.SetSigned(static_cast<int16_t>(value));
            break;
        }
        case TypeClass::Int32: {
            uint32_t value = 0;
            if (!ReadField(&value)) return;
            target.SetSigned(static_cast<int32_t>(value));
            break;
        }
        case TypeClass::Int64: {
            uint64_t value = 0;
            if (!ReadField(&value)) return;
            target.SetSigned(static_cast<int64_t>(value));
            break;
        }
        case TypeClass::Float32: {
            uint32_t bits = 0;
            if (!ReadField(&bits)) return;
            target.SetFloat(std::bit_cast<float>(bits));
            break;
        }
        case TypeClass::Float64: {
            uint64_t bits = 0;
            if (!ReadField(&bits)) return;
            target.SetFloat(std::bit_cast<double>(bits));
            break;
        }
        case TypeClass::FixStr:
            length = type & kFixStrLengthMask;
            if (!ReadRun(length, MessagePackMessage::kStringTruncated, &bytes)) return;
            target.SetString(std::string_view(reinterpret_cast<const char*>(bytes), length));
            break;
        case TypeClass::Str8:
        case TypeClass::Str16:
        case TypeClass::Str32: {
            TypeClass c = kTypeClasses[type];
            bool read = c == TypeClass::Str8    ? ReadRunOfLength<uint8_t>(MessagePackMessage::kStringTruncated, &bytes, &length)
                        : c == TypeClass::Str16 ? ReadRunOfLength<uint16_t>(MessagePackMessage::kStringTruncated, &bytes, &length)
                                                : ReadRunOfLength<uint32_t>(MessagePackMessage::kStringTruncated, &bytes, &length);
            if (!read) return;
            target.SetString(std::string_view(reinterpret_cast<const char*>(bytes), length));
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
            target.SetBlob(std::span<const uint8_t>(bytes, length));
            break;
        }
        case TypeClass::FixArray:
            OpenContainer(frame, Mode::Array, type & kFixContainerSizeMask);
            return;
        case TypeClass::FixMap:
            OpenContainer(frame, Mode::Map, type & kFixContainerSizeMask);
            return;
        case TypeClass::Array16:
        case TypeClass::Map16: {
            uint16_t count = 0;
            if (!ReadField(&count)) return;
            OpenContainer(frame, kTypeClasses[type] == TypeClass::Array16 ? Mode::Array : Mode::Map, count);
            return;
        }
        case TypeClass::Array32:
        case TypeClass::Map32: {
            uint32_t count = 0;
            if (!ReadField(&count)) return;
            OpenContainer(frame, kTypeClasses[type] == TypeClass::Array32 ? Mode::Array : Mode::Map, count);
            return;
        }
        case TypeClass::Invalid:
            Fail(FormatToString(MessagePackMessage::kInvalidType, cursor_.Position()));
            return;
    }
    // A scalar (or nil) completes its frame.
    frames_.pop_back();
}

// The frame stays on the stack and serves the container from now on.
void MessagePackReader::OpenContainer(Frame& frame, Mode mode, uint32_t count) {
    // Every frame below this one is an open container.
    if (frames_.size() > kMaxNestingDepth) {
        Fail(FormatToString(MessagePackMessage::kNestedTooDeep, cursor_.Position(), kMaxNestingDepth));
        return;
    }
    BindingProperty& target = *frame.target;
    if (mode == Mode::Array) {
        detail::BecomeCollection(target);
        // Room for every declared element at once, within the data left
        // (see reservedAhead_). A repeated key's array appends to an earlier
        // one, which grows as usual: reserving exactly would copy it on every
        // repetition.
        const uint64_t room = cursor_.Remaining() > reservedAhead_ ? cursor_.Remaining() - reservedAhead_ : 0;
        if (target.Size() == 0 && count != 0 && count <= room) {
            target.Reserve(count);
            frame.reserved = count;
            reservedAhead_ += count;
        }
    } else {
        detail::BecomeStructure(target);
    }
    frame.mode = mode;
    frame.count = count;
    frame.index = 0;
}

template <typename T>
bool MessagePackReader::ReadField(T* out) {
    uint32_t at = cursor_.Position();
    if (ReadBigEndian(cursor_, out)) return true;
    Fail(FormatToString(TruncatedMessage<sizeof(T)>(), at));
    return false;
}

bool MessagePackReader::ReadRun(uint32_t length, const char* message, const uint8_t** out) {
    uint32_t at = cursor_.Position();
    if (ReadBytes(cursor_, length, out)) return true;
    Fail(FormatToString(message, length, at));
    return false;
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
    MessagePackReader reader(static_cast<const uint8_t*>(data), size, result);
    reader.Run();
    if (position != nullptr) *position = reader.Position();
    return result;
}

bool LooksLikeMessagePack(const void* data, uint32_t size) noexcept {
    if (size == 0) return false;
    uint8_t first = *static_cast<const uint8_t*>(data);
    return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

}  // namespace Korvo
