#include "sdk/formats/json_reader.h"

#include <cstring>
#include <new>

#include "sdk/diagnostics/format.h"
#include "sdk/formats/json_messages.h"
#include "sdk/formats/rapidjson_reader.h"
#include "sdk/formats/reader_limits.h"
#include "sdk/allocation/allocation.h"

namespace Korvo {
namespace {

// Bytes of RapidJSON's string stack before its first growth.
constexpr size_t kTokenStackCapacity = 256;

// RapidJSON's allocator concept over the counted allocation layer, for the
// reader's string stack. Failure throws rather than returning null, which
// RapidJSON does not check.
class CountedStackAllocator {
public:
    [[maybe_unused]] static const bool kNeedFree = true;

    void* Malloc(size_t size) {
        if (size == 0) return nullptr;
        return Checked(Memory::Allocate(size));
    }
    void* Realloc(void* block, size_t /*oldSize*/, size_t newSize) {
        if (newSize == 0) {
            Memory::Free(block);
            return nullptr;
        }
        return Checked(Memory::Reallocate(block, newSize));
    }
    static void Free(void* block) { Memory::Free(block); }

private:
    static void* Checked(void* block) {
        if (block == nullptr) throw std::bad_alloc();
        return block;
    }
};

using Reader = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, CountedStackAllocator>;

// Texts up to this long are scanned byte by byte: most names and strings
// are short, and a call into memchr costs more than the scan.
constexpr unsigned kShortText = 16;

// The length of text up to its first NUL character: strings and member
// names end there.
inline size_t LengthToNul(const char* text, unsigned length) noexcept {
    if (length <= kShortText) {
        for (unsigned i = 0; i < length; ++i) {
            if (text[i] == '\0') return i;
        }
        return length;
    }
    const void* nul = std::memchr(text, '\0', length);
    return nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length;
}

// Whether text may write a NUL character into a string or name: JSON can
// only escape one ("\u0000"). One search for backslashes spares every
// string and name its own scan; an escaped backslash before "u0000" is
// taken for the escape, which only costs the scans.
bool MayEscapeNul(const char* text) noexcept {
    for (const char* backslash = std::strchr(text, '\\'); backslash != nullptr;
         backslash = std::strchr(backslash + 1, '\\')) {
        if (std::strncmp(backslash + 1, "u0000", 5) == 0) return true;
    }
    return false;
}

std::string Describe(rapidjson::ParseErrorCode code, bool depthExceeded) {
    if (code == rapidjson::kParseErrorTermination && depthExceeded) {
        return FormatToString(JsonMessage::kNestedTooDeep, kMaxNestingDepth);
    }
    if (code == rapidjson::kParseErrorDocumentRootNotSingular) return JsonMessage::kRootNotSingular;
    return rapidjson::GetParseError_En(code);
}

}  // namespace

JsonPropertyBuilder::JsonPropertyBuilder(BindingProperty& root, bool textsMayHoldNul)
    : builder_(root), textsMayHoldNul_(textsMayHoldNul) {}

inline bool JsonPropertyBuilder::Open(bool isCollection) {
    if (builder_.Depth() >= kMaxNestingDepth) {
        depthExceeded_ = true;
        return false;
    }
    if (isCollection) {
        builder_.BeginCollection();
    } else {
        builder_.BeginStructure();
    }
    return true;
}

bool JsonPropertyBuilder::Null() {
    builder_.Null();
    return true;
}

bool JsonPropertyBuilder::Bool(bool value) {
    builder_.Bool(value);
    return true;
}

bool JsonPropertyBuilder::Int(int value) {
    builder_.Signed(value);
    return true;
}

bool JsonPropertyBuilder::Uint(unsigned value) {
    builder_.Unsigned(value);
    return true;
}

bool JsonPropertyBuilder::Int64(int64_t value) {
    builder_.Signed(value);
    return true;
}

bool JsonPropertyBuilder::Uint64(uint64_t value) {
    builder_.Unsigned(value);
    return true;
}

bool JsonPropertyBuilder::Double(double value) {
    builder_.Float(value);
    return true;
}

bool JsonPropertyBuilder::RawNumber(const char*, unsigned, bool) {
    // Only kParseNumbersAsStringsFlag produces raw numbers, and the reader
    // never sets it.
    return false;
}

bool JsonPropertyBuilder::String(const char* text, unsigned length, bool) {
    builder_.String(std::string_view(text, textsMayHoldNul_ ? LengthToNul(text, length) : length));
    return true;
}

bool JsonPropertyBuilder::StartObject() { return Open(false); }

bool JsonPropertyBuilder::Key(const char* text, unsigned length, bool) {
    builder_.Key(std::string_view(text, textsMayHoldNul_ ? LengthToNul(text, length) : length));
    return true;
}

bool JsonPropertyBuilder::EndObject(unsigned) {
    builder_.End();
    return true;
}

bool JsonPropertyBuilder::StartArray() { return Open(true); }

bool JsonPropertyBuilder::EndArray(unsigned) {
    builder_.End();
    return true;
}

BindingResult ReadJson(const std::string& text) { return ReadJson(text.c_str()); }

BindingResult ReadJson(const char* text) {
    BindingResult result;
    std::string failure;
    {
        // The builder goes before a failure replaces what it built into.
        JsonPropertyBuilder builder(result.Value(), MayEscapeNul(text));
        CountedStackAllocator allocator;
        Reader reader(&allocator, kTokenStackCapacity);
        rapidjson::StringStream stream(text);
        rapidjson::ParseResult parsed = reader.Parse<rapidjson::kParseDefaultFlags>(stream, builder);
        if (parsed.IsError() && parsed.Code() != rapidjson::kParseErrorDocumentEmpty) {
            std::string description = Describe(parsed.Code(), builder.DepthExceeded());
            failure = FormatToString(JsonMessage::kParseError, description.c_str(), static_cast<unsigned>(parsed.Offset()));
        }
    }
    if (!failure.empty()) result.Fail(failure);
    return result;
}

bool LooksLikeJson(std::string_view text) noexcept {
    size_t first = text.find_first_not_of(' ');
    return first != std::string_view::npos && (text[first] == '{' || text[first] == '[');
}

}  // namespace Korvo
