#include "host/common/host_value_json.h"

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstring>

namespace Korvo::Host {

namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

std::string Base64(const uint8_t* bytes, size_t count) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((count + 2) / 3 * 4);
    for (size_t i = 0; i < count; i += 3) {
        uint32_t chunk = uint32_t{bytes[i]} << 16;
        if (i + 1 < count) chunk |= uint32_t{bytes[i + 1]} << 8;
        if (i + 2 < count) chunk |= bytes[i + 2];
        out += kAlphabet[(chunk >> 18) & 63];
        out += kAlphabet[(chunk >> 12) & 63];
        out += i + 1 < count ? kAlphabet[(chunk >> 6) & 63] : '=';
        out += i + 2 < count ? kAlphabet[chunk & 63] : '=';
    }
    return out;
}

void WriteScalar(JsonWriter& writer, const HostValue& value) {
    switch (static_cast<KorvoValueType>(value.type)) {
        case KORVO_VALUE_BOOL: writer.Bool(value.data.boolean != 0); break;
        case KORVO_VALUE_INT64: writer.Int64(value.data.int64); break;
        case KORVO_VALUE_UINT64: writer.Uint64(value.data.uint64); break;
        case KORVO_VALUE_DOUBLE:
            // JSON has no NaN or infinity.
            if (std::isfinite(value.data.float64)) {
                writer.Double(value.data.float64);
            } else {
                writer.Null();
            }
            break;
        case KORVO_VALUE_STRING:
        case KORVO_VALUE_BORROWED_STRING:
            if (value.data.string.text == nullptr) {
                writer.String("", 0);
            } else {
                writer.String(value.data.string.text, value.data.string.length);
            }
            break;
        case KORVO_VALUE_BINARY:
        case KORVO_VALUE_BORROWED_BINARY: {
            const std::string text =
                Base64(value.data.binary.bytes, value.data.binary.bytes ? value.data.binary.count : 0);
            writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
            break;
        }
        default: writer.Null(); break;
    }
}

struct Frame {
    const HostValue* array;         // items of an Array, or null
    const HostValueMember* members; // members of an Object, or null
    uint32_t count;
    uint32_t next;
    bool object;
};

}  // namespace

// The walk keeps its own stack of open arrays and objects, and the writer
// keeps its nesting on the heap too: no recursion at any depth.
std::string HostValueToJson(const HostValue& root) {
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    std::vector<Frame> stack;
    const HostValue* current = &root;
    for (;;) {
        if (current != nullptr) {
            auto type = static_cast<KorvoValueType>(current->type);
            if (type == KORVO_VALUE_ARRAY) {
                writer.StartArray();
                const HostValue* items = current->data.array.items;
                stack.push_back(Frame{items, nullptr, items ? current->data.array.count : 0, 0, false});
            } else if (type == KORVO_VALUE_OBJECT) {
                writer.StartObject();
                const HostValueMember* members = current->data.object.members;
                stack.push_back(Frame{nullptr, members, members ? current->data.object.count : 0, 0, true});
            } else {
                WriteScalar(writer, *current);
            }
            current = nullptr;
        }
        if (stack.empty()) break;
        Frame& top = stack.back();
        if (top.next == top.count) {
            if (top.object) {
                writer.EndObject();
            } else {
                writer.EndArray();
            }
            stack.pop_back();
            continue;
        }
        if (top.array != nullptr) {
            current = &top.array[top.next];
        } else {
            const HostValueMember& member = top.members[top.next];
            const char* key = member.key ? member.key : "";
            writer.Key(key, static_cast<rapidjson::SizeType>(std::strlen(key)));
            current = &member.value;
        }
        ++top.next;
    }
    return std::string(buffer.GetString(), buffer.GetSize());
}

// ------------------------------------------------------------ OwnedHostValue

struct OwnedHostValue::Node {
    HostValue record{};
    std::string text;
    std::vector<uint8_t> bytes;
    std::vector<OwnedHostValue> items;
    std::vector<std::string> keys;
    std::vector<HostValue> itemRecords;
    std::vector<HostValueMember> memberRecords;
};

OwnedHostValue& OwnedHostValue::operator=(const OwnedHostValue& other) {
    // Nodes are immutable once built, so sharing them is a copy.
    node_ = other.node_;
    return *this;
}

const HostValue& OwnedHostValue::Record() const {
    static const HostValue kNull{};
    return node_ ? node_->record : kNull;
}

OwnedHostValue OwnedHostValue::Null() { return OwnedHostValue(); }

OwnedHostValue OwnedHostValue::OfType(KorvoValueType type) {
    OwnedHostValue result;
    result.node_ = std::make_shared<Node>();
    result.node_->record.type = static_cast<uint32_t>(type);
    return result;
}

OwnedHostValue OwnedHostValue::Bool(bool value) {
    OwnedHostValue result = OfType(KORVO_VALUE_BOOL);
    result.node_->record.data.boolean = value ? 1 : 0;
    return result;
}

OwnedHostValue OwnedHostValue::Int(int64_t value) {
    OwnedHostValue result = OfType(KORVO_VALUE_INT64);
    result.node_->record.data.int64 = value;
    return result;
}

OwnedHostValue OwnedHostValue::UInt(uint64_t value) {
    OwnedHostValue result = OfType(KORVO_VALUE_UINT64);
    result.node_->record.data.uint64 = value;
    return result;
}

OwnedHostValue OwnedHostValue::Double(double value) {
    OwnedHostValue result = OfType(KORVO_VALUE_DOUBLE);
    result.node_->record.data.float64 = value;
    return result;
}

OwnedHostValue OwnedHostValue::String(std::string_view text) {
    OwnedHostValue result = OfType(KORVO_VALUE_STRING);
    Node& node = *result.node_;
    node.text.assign(text);
    node.record.data.string.text = node.text.data();
    node.record.data.string.length = static_cast<uint32_t>(node.text.size());
    return result;
}

OwnedHostValue OwnedHostValue::Binary(std::vector<uint8_t> bytes) {
    OwnedHostValue result = OfType(KORVO_VALUE_BINARY);
    Node& node = *result.node_;
    node.bytes = std::move(bytes);
    node.record.data.binary.bytes = node.bytes.data();
    node.record.data.binary.count = static_cast<uint32_t>(node.bytes.size());
    return result;
}

OwnedHostValue OwnedHostValue::Array(std::vector<OwnedHostValue> items) {
    OwnedHostValue result = OfType(KORVO_VALUE_ARRAY);
    Node& node = *result.node_;
    node.items = std::move(items);
    for (const OwnedHostValue& item : node.items) node.itemRecords.push_back(item.Record());
    node.record.data.array.items = node.itemRecords.empty() ? nullptr : node.itemRecords.data();
    node.record.data.array.count = static_cast<uint32_t>(node.itemRecords.size());
    return result;
}

OwnedHostValue OwnedHostValue::Object(std::vector<std::pair<std::string, OwnedHostValue>> members) {
    OwnedHostValue result = OfType(KORVO_VALUE_OBJECT);
    Node& node = *result.node_;
    node.keys.reserve(members.size());
    for (auto& [key, value] : members) {
        node.keys.push_back(std::move(key));
        node.items.push_back(std::move(value));
    }
    for (size_t i = 0; i < node.items.size(); ++i) {
        HostValueMember member{};
        member.key = node.keys[i].data();
        member.value = node.items[i].Record();
        member.ownsKey = 0;
        node.memberRecords.push_back(member);
    }
    node.record.data.object.members = node.memberRecords.empty() ? nullptr : node.memberRecords.data();
    node.record.data.object.count = static_cast<uint32_t>(node.memberRecords.size());
    return result;
}

namespace {

// Builds the value from the reader's events on a stack of open containers
// (the reader itself is iterative), so neither depth costs native stack.
class HostValueBuilder {
public:
    HostValueBuilder(size_t maxDepth, size_t maxValues) : maxDepth_(maxDepth), valuesLeft_(maxValues) {}

    bool Null() { return Take() && Add(OwnedHostValue::Null()); }
    bool Bool(bool value) { return Take() && Add(OwnedHostValue::Bool(value)); }
    bool Int(int value) { return Take() && Add(OwnedHostValue::Int(value)); }
    bool Uint(unsigned value) { return Take() && Add(OwnedHostValue::Int(value)); }
    bool Int64(int64_t value) { return Take() && Add(OwnedHostValue::Int(value)); }
    bool Uint64(uint64_t value) {
        return Take() && Add(value > static_cast<uint64_t>(INT64_MAX) ? OwnedHostValue::UInt(value)
                                                             : OwnedHostValue::Int(static_cast<int64_t>(value)));
    }
    bool Double(double value) { return Take() && Add(OwnedHostValue::Double(value)); }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        return Take() && Add(OwnedHostValue::String(std::string_view(text, length)));
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        open_.back().key.assign(text, length);
        return true;
    }
    bool StartObject() { return Open(true); }
    bool StartArray() { return Open(false); }
    bool EndObject(rapidjson::SizeType) { return Close(); }
    bool EndArray(rapidjson::SizeType) { return Close(); }

    bool TooDeep() const noexcept { return tooDeep_; }
    bool TooMany() const noexcept { return tooMany_; }
    OwnedHostValue& Root() noexcept { return root_; }

private:
    struct Container {
        bool object;
        std::string key;
        std::vector<OwnedHostValue> items;
        std::vector<std::pair<std::string, OwnedHostValue>> members;
    };

    bool Add(OwnedHostValue value) {
        if (open_.empty()) {
            root_ = std::move(value);
        } else if (Container& top = open_.back(); top.object) {
            top.members.emplace_back(std::move(top.key), std::move(value));
        } else {
            top.items.push_back(std::move(value));
        }
        return true;
    }
    // Counts one more value; false (and the parse ends) past the limit,
    // before the value is built.
    bool Take() {
        if (valuesLeft_ == 0) {
            tooMany_ = true;
            return false;
        }
        --valuesLeft_;
        return true;
    }
    bool Open(bool object) {
        if (!Take()) return false;
        if (open_.size() >= maxDepth_) {
            tooDeep_ = true;
            return false;
        }
        open_.push_back(Container{object, {}, {}, {}});
        return true;
    }
    bool Close() {
        Container top = std::move(open_.back());
        open_.pop_back();
        return Add(top.object ? OwnedHostValue::Object(std::move(top.members))
                              : OwnedHostValue::Array(std::move(top.items)));
    }

    size_t maxDepth_;
    size_t valuesLeft_;
    bool tooDeep_ = false;
    bool tooMany_ = false;
    std::vector<Container> open_;
    OwnedHostValue root_;
};

}  // namespace

bool JsonToHostValue(std::string_view text, OwnedHostValue& value, std::string& error, size_t maxDepth,
                     size_t maxValues) {
    HostValueBuilder builder(maxDepth, maxValues);
    rapidjson::MemoryStream stream(text.data(), text.size());
    rapidjson::Reader reader;
    const rapidjson::ParseResult parsed = reader.Parse<rapidjson::kParseIterativeFlag>(stream, builder);
    if (builder.TooDeep()) {
        error = "The JSON text nests deeper than " + std::to_string(maxDepth) + " levels";
        return false;
    }
    if (builder.TooMany()) {
        error = "The JSON text holds more than " + std::to_string(maxValues) + " values";
        return false;
    }
    if (parsed.IsError()) {
        error = std::string("Invalid JSON at offset ") + std::to_string(parsed.Offset()) + ": " +
                rapidjson::GetParseError_En(parsed.Code());
        return false;
    }
    value = std::move(builder.Root());
    return true;
}

}  // namespace Korvo::Host
