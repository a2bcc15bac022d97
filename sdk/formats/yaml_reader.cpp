#include "sdk/formats/yaml_reader.h"

#include <yaml.h>

#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "sdk/diagnostics/format.h"
#include "sdk/formats/reader_limits.h"
#include "sdk/formats/yaml_messages.h"
#include "sdk/values/property_builder.h"
#include "sdk/values/scalar_conversion.h"
#include "sdk/values/work_stack.h"

namespace Korvo {
namespace {

// Keys must be text: a tag on a key may say so and nothing else.
constexpr char kStrTag[] = "tag:yaml.org,2002:str";

// Frames and path steps kept in place; deeper documents put the rest on the
// heap.
constexpr size_t kReservedFrames = 16;

// ------------------------------------------------------------ libyaml owners

class YamlParser {
public:
    YamlParser() {
        if (yaml_parser_initialize(&parser_) == 0) throw std::bad_alloc();
    }
    ~YamlParser() { yaml_parser_delete(&parser_); }
    YamlParser(const YamlParser&) = delete;
    YamlParser& operator=(const YamlParser&) = delete;

    yaml_parser_t* Get() noexcept { return &parser_; }

private:
    yaml_parser_t parser_;
};

class YamlEvent {
public:
    YamlEvent() noexcept { std::memset(&event_, 0, sizeof(event_)); }
    ~YamlEvent() { Reset(); }
    YamlEvent(const YamlEvent&) = delete;
    YamlEvent& operator=(const YamlEvent&) = delete;

    // Parses the next event; false on a parser error.
    bool Parse(YamlParser& parser) noexcept {
        Reset();
        held_ = yaml_parser_parse(parser.Get(), &event_) != 0;
        return held_;
    }
    void Reset() noexcept {
        if (held_) yaml_event_delete(&event_);
        held_ = false;
    }
    const yaml_event_t& Get() const noexcept { return event_; }

private:
    yaml_event_t event_;
    bool held_ = false;
};

const char* Text(const yaml_char_t* text) noexcept { return reinterpret_cast<const char*>(text); }

// Line breaks as libyaml sees them: LF, CR, CR LF, and the UTF-8 NEL, LS
// and PS.
constexpr std::string_view kNextLine = "\xC2\x85";
constexpr std::string_view kLineSeparator = "\xE2\x80\xA8";
constexpr std::string_view kParagraphSeparator = "\xE2\x80\xA9";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool EndsWithLineBreak(std::string_view text) noexcept {
    return text.ends_with('\n') || text.ends_with('\r') || text.ends_with(kNextLine) ||
           text.ends_with(kLineSeparator) || text.ends_with(kParagraphSeparator);
}

// The line (from 1) that position at lies on.
uint64_t LineOf(std::string_view text, size_t at) noexcept {
    uint64_t line = 1;
    for (size_t i = 0; i < at; ++i) {
        std::string_view rest = text.substr(i, at - i);
        if (rest[0] == '\n' || (rest[0] == '\r' && !rest.starts_with("\r\n"))) {
            ++line;
        } else if (rest.starts_with(kNextLine) || rest.starts_with(kLineSeparator) ||
                   rest.starts_with(kParagraphSeparator)) {
            ++line;
        }
    }
    return line;
}

// The line (from 1) of the first line past kMaxYamlTagDirectives that starts
// with "%TAG", or 0. A line inside a block scalar may count too, which only
// errs on the safe side.
uint64_t FindExcessTagDirective(std::string_view text) noexcept {
    constexpr std::string_view kTagDirective = "%TAG";
    uint32_t directives = 0;
    for (size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 1)) {
        std::string_view before = text.substr(0, at);
        bool lineStart = before.empty() || before == kByteOrderMark || EndsWithLineBreak(before);
        if (lineStart && text.substr(at).starts_with(kTagDirective) && ++directives > kMaxYamlTagDirectives) {
            return LineOf(text, at);
        }
    }
    return 0;
}

// ------------------------------------------------------------- the builder

class YamlBuilder {
public:
    YamlBuilder(BindingProperty& root, size_t inputSize);

    // Handles one event; a failure is recorded (Failure()).
    void Handle(const yaml_event_t& event);

    [[nodiscard]] bool Failed() const noexcept { return !failure_.empty(); }
    [[nodiscard]] const std::string& Failure() const noexcept { return failure_; }

private:
    enum class Mode : uint8_t {
        Value,     // the target is still to be read
        Sequence,  // the target is an open collection
        Mapping,   // the target is an open structure
    };

    struct Frame {
        size_t pathNode;    // in path_
        uint32_t elements;  // of an open collection: read so far
        Mode mode;
        bool flow;  // an open flow collection ("[...]" or "{...}")
    };

    // How a frame's target is reached from its parent's. Steps form a tree
    // (each names its parent), so an anchor keeps the index of its node's
    // step instead of a copy of the whole path; a step stays as long as an
    // anchor needs it and is dropped with its frame otherwise.
    enum class StepKind : uint8_t { Root, Element, Field };
    struct PathStep {
        size_t parent;
        size_t value;      // Element: the index; Field: the key's offset in keys_
        size_t keyLength;  // Field only
        StepKind kind;
        bool pinned;       // an anchor refers to it
    };

    struct Anchor {
        bool isKey;
        size_t pathNode;      // node anchor
        std::string keyText;  // key anchor
    };

    void HandleKey(const yaml_event_t& event);
    void HandleValue(const yaml_event_t& event);
    void HandleAlias(const yaml_event_t& event);

    void PushFrame(StepKind kind, size_t value, size_t keyLength);
    void PopFrame();
    void SetPendingKey(std::string_view key);
    bool RecordAnchor(const char* name, Anchor anchor, const yaml_mark_t& mark);
    bool OpenContainer(const yaml_event_t& event);

    const BindingProperty* Resolve(size_t pathNode, uint64_t* work);
    bool Measure(const BindingProperty& source, uint64_t limit, uint64_t* work, uint32_t* depth);
    bool Charge(uint64_t work) noexcept;

    void Fail(const std::string& message) {
        // Reading stops at the first failure, so none was recorded before.
        assert(failure_.empty());
        failure_ = message;
    }
    template <typename... A>
    void FailAt(const char* message, const yaml_mark_t& mark, const A&... args) {
        Fail(FormatToString(message, args..., static_cast<uint64_t>(mark.line) + 1,
                            static_cast<uint64_t>(mark.column) + 1));
    }

    BindingProperty& root_;
    // Builds the tree; in place from the first node anchor on, so that an
    // alias finds the anchored node in the tree.
    PropertyBuilder builder_;
    std::string failure_;
    detail::WorkStack<Frame, kReservedFrames> frames_;
    detail::WorkStack<PathStep, kReservedFrames> path_;
    std::string keys_;  // the keys of the field steps in path_, then the pending key
    bool keyPending_ = false;
    size_t pendingKeyOffset_ = 0;
    std::map<std::string, Anchor, std::less<>> anchors_;
    uint32_t documents_ = 0;
    uint32_t flowDepth_ = 0;  // open flow collections
    uint64_t aliasWorkLeft_;
    std::vector<size_t> chain_;                                    // scratch of Resolve
    std::vector<std::pair<const BindingProperty*, uint32_t>> walk_;  // scratch of Measure
};

YamlBuilder::YamlBuilder(BindingProperty& root, size_t inputSize)
    : root_(root), builder_(root),
      aliasWorkLeft_(kAliasWorkFloor + kAliasWorkPerInputByte * static_cast<uint64_t>(inputSize)) {
    path_.push_back({0, 0, 0, StepKind::Root, true});
    frames_.push_back({0, 0, Mode::Value, false});
}

void YamlBuilder::Handle(const yaml_event_t& event) {
    switch (event.type) {
        case YAML_DOCUMENT_START_EVENT:
            if (++documents_ > 1) Fail(YamlMessage::kMultiDocument);
            return;
        case YAML_ALIAS_EVENT:
        case YAML_SCALAR_EVENT:
        case YAML_SEQUENCE_START_EVENT:
        case YAML_SEQUENCE_END_EVENT:
        case YAML_MAPPING_START_EVENT:
        case YAML_MAPPING_END_EVENT:
            break;
        default:  // stream start and end, document end
            return;
    }
    // libyaml gives exactly one root node per document and balances starts
    // and ends, so a node event always finds a frame.
    if (frames_.empty()) return;
    Frame& top = frames_.back();
    if (top.mode == Mode::Sequence) {
        if (event.type == YAML_SEQUENCE_END_EVENT) {
            builder_.End();
            PopFrame();
            return;
        }
        PushFrame(StepKind::Element, top.elements++, 0);
    } else if (top.mode == Mode::Mapping) {
        if (event.type == YAML_MAPPING_END_EVENT) {
            // libyaml gives every key a value (an empty scalar at least), so
            // no key is pending here.
            builder_.End();
            PopFrame();
            return;
        }
        if (!keyPending_) {
            HandleKey(event);
            return;
        }
        keyPending_ = false;
        size_t keyLength = keys_.size() - pendingKeyOffset_;
        builder_.Key(std::string_view(keys_).substr(pendingKeyOffset_));
        PushFrame(StepKind::Field, pendingKeyOffset_, keyLength);
    }
    HandleValue(event);
}

void YamlBuilder::HandleKey(const yaml_event_t& event) {
    switch (event.type) {
        case YAML_SCALAR_EVENT: {
            const char* tag = Text(event.data.scalar.tag);
            if (tag != nullptr && std::strcmp(tag, kStrTag) != 0) {
                FailAt(YamlMessage::kInvalidKey, event.start_mark);
                return;
            }
            std::string_view key(Text(event.data.scalar.value), event.data.scalar.length);
            SetPendingKey(key);
            if (event.data.scalar.anchor != nullptr) {
                RecordAnchor(Text(event.data.scalar.anchor), {true, 0, std::string(key)}, event.start_mark);
            }
            return;
        }
        case YAML_SEQUENCE_START_EVENT:
            FailAt(YamlMessage::kUnexpectedSequence, event.start_mark);
            return;
        case YAML_MAPPING_START_EVENT:
            FailAt(YamlMessage::kUnexpectedMapping, event.start_mark);
            return;
        case YAML_ALIAS_EVENT: {
            const char* name = Text(event.data.alias.anchor);
            auto anchor = anchors_.find(std::string_view(name));
            if (anchor == anchors_.end()) {
                FailAt(YamlMessage::kUndefinedAlias, event.start_mark, name);
            } else if (!anchor->second.isKey) {
                // The anchored node is a value, not a key: refused like any
                // other key that is not a string scalar.
                FailAt(YamlMessage::kInvalidKey, event.start_mark);
            } else {
                SetPendingKey(anchor->second.keyText);
            }
            return;
        }
        default:
            return;
    }
}

void YamlBuilder::HandleValue(const yaml_event_t& event) {
    Frame& frame = frames_.back();
    switch (event.type) {
        case YAML_SCALAR_EVENT: {
            const auto& scalar = event.data.scalar;
            bool quoted = scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                          scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
            // A scalar's failure goes into a result of its own: the reader's
            // is only failed once the builder is gone.
            BindingResult resolved;
            ResolveYamlScalar(resolved, builder_.Value(), Text(scalar.tag), Text(scalar.value), scalar.length, quoted);
            if (resolved.Failed()) {
                Fail(std::string(resolved.ErrorMessage()));
                return;
            }
            if (scalar.anchor != nullptr &&
                !RecordAnchor(Text(scalar.anchor), {false, frame.pathNode, {}}, event.start_mark)) {
                return;
            }
            PopFrame();
            return;
        }
        case YAML_SEQUENCE_START_EVENT:
        case YAML_MAPPING_START_EVENT:
            OpenContainer(event);
            return;
        case YAML_ALIAS_EVENT:
            HandleAlias(event);
            if (!Failed()) PopFrame();
            return;
        default:
            return;
    }
}

bool YamlBuilder::OpenContainer(const yaml_event_t& event) {
    // Every frame below the top one is an open container.
    if (frames_.size() > kMaxNestingDepth) {
        FailAt(YamlMessage::kNestedTooDeep, event.start_mark, kMaxNestingDepth);
        return false;
    }
    bool isSequence = event.type == YAML_SEQUENCE_START_EVENT;
    bool flow = isSequence ? event.data.sequence_start.style == YAML_FLOW_SEQUENCE_STYLE
                           : event.data.mapping_start.style == YAML_FLOW_MAPPING_STYLE;
    if (flow && ++flowDepth_ > kMaxYamlFlowDepth) {
        FailAt(YamlMessage::kFlowNestedTooDeep, event.start_mark, kMaxYamlFlowDepth);
        return false;
    }
    Frame& frame = frames_.back();
    frame.flow = flow;
    const yaml_char_t* anchor = nullptr;
    if (isSequence) {
        // A repeated key's sequence continues the earlier one: its elements'
        // positions count on from there.
        frame.elements = static_cast<uint32_t>(builder_.BeginCollection());
        frame.mode = Mode::Sequence;
        anchor = event.data.sequence_start.anchor;
    } else {
        builder_.BeginStructure();
        frame.mode = Mode::Mapping;
        anchor = event.data.mapping_start.anchor;
    }
    return anchor == nullptr || RecordAnchor(Text(anchor), {false, frame.pathNode, {}}, event.start_mark);
}

void YamlBuilder::HandleAlias(const yaml_event_t& event) {
    const char* name = Text(event.data.alias.anchor);
    auto found = anchors_.find(std::string_view(name));
    if (found == anchors_.end()) {
        FailAt(YamlMessage::kUndefinedAlias, event.start_mark, name);
        return;
    }
    const Anchor& anchor = found->second;
    if (anchor.isKey) {
        if (!Charge(1 + anchor.keyText.size() / kAliasTextBytesPerUnit)) {
            FailAt(YamlMessage::kAliasesTooLarge, event.start_mark, name);
            return;
        }
        builder_.String(anchor.keyText);
        return;
    }
    // Finding the node, checking it against the open levels and copying it
    // all count against the alias budget.
    // A node anchor made the builder build in place, so the anchored node
    // and the open containers are in the tree. The alias takes its place
    // first: appending may move the elements the anchored node is among.
    BindingProperty& target = builder_.Value();
    uint64_t work = frames_.size();
    const BindingProperty* source = Resolve(anchor.pathNode, &work);
    for (size_t level = 0; level < builder_.Depth(); ++level) {
        if (builder_.Container(level) == source) {
            FailAt(YamlMessage::kCyclicAlias, event.start_mark, name);
            return;
        }
    }
    uint32_t depth = 0;
    if (work > aliasWorkLeft_ || !Measure(*source, aliasWorkLeft_ - work, &work, &depth) || !Charge(work)) {
        FailAt(YamlMessage::kAliasesTooLarge, event.start_mark, name);
        return;
    }
    // The open containers above the target plus the copied levels.
    if (frames_.size() - 1 + depth > kMaxNestingDepth) {
        FailAt(YamlMessage::kNestedTooDeep, event.start_mark, kMaxNestingDepth);
        return;
    }
    // A copy into the node's own ancestor (a repeated key's earlier value
    // holding the anchor) is safe: the old payload goes after the copy.
    target = *source;
}

// The property at a path node's position now, or the shared null property
// when that position no longer exists (a repeated key replaced the scalar
// that held it). Adds the steps and key bytes walked to *work.
const BindingProperty* YamlBuilder::Resolve(size_t pathNode, uint64_t* work) {
    chain_.clear();
    for (size_t node = pathNode; path_[node].kind != StepKind::Root; node = path_[node].parent) {
        chain_.push_back(node);
    }
    const BindingProperty* property = &root_;
    for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
        const PathStep& step = path_[*it];
        if (step.kind == StepKind::Element) {
            property = &property->At(step.value);
            *work += 1;
        } else {
            property = &property->Get(std::string_view(keys_).substr(step.value, step.keyLength));
            *work += 1 + step.keyLength / kAliasTextBytesPerUnit;
        }
    }
    return property;
}

// Counts the work of copying source (nodes, string and member-name bytes)
// into *work and its container depth into *depth; false as soon as the work
// passes limit.
bool YamlBuilder::Measure(const BindingProperty& source, uint64_t limit, uint64_t* work, uint32_t* depth) {
    uint64_t total = 0;
    walk_.clear();
    walk_.push_back({&source, 0});
    while (!walk_.empty()) {
        auto [property, level] = walk_.back();
        walk_.pop_back();
        total += 1;
        switch (property->Kind()) {
            case BindingPropertyKind::String:
                total += property->Size() / kAliasTextBytesPerUnit;
                break;
            case BindingPropertyKind::Collection:
                *depth = std::max(*depth, level + 1);
                for (const BindingProperty& element : property->Elements()) walk_.push_back({&element, level + 1});
                break;
            case BindingPropertyKind::Structure:
                *depth = std::max(*depth, level + 1);
                for (auto member : property->Members()) {
                    total += member.first.size() / kAliasTextBytesPerUnit;
                    walk_.push_back({&member.second, level + 1});
                }
                break;
            default:
                break;
        }
        if (total > limit) return false;
    }
    *work += total;
    return true;
}

bool YamlBuilder::Charge(uint64_t work) noexcept {
    if (work > aliasWorkLeft_) return false;
    aliasWorkLeft_ -= work;
    return true;
}

void YamlBuilder::PushFrame(StepKind kind, size_t value, size_t keyLength) {
    path_.push_back({frames_.back().pathNode, value, keyLength, kind, false});
    frames_.push_back({path_.size() - 1, 0, Mode::Value, false});
}

void YamlBuilder::PopFrame() {
    size_t node = frames_.back().pathNode;
    if (frames_.back().flow) --flowDepth_;
    frames_.pop_back();
    // Steps go in stack order, so the frame's own step is the last one
    // unless an anchor pinned it or a step after it.
    if (node + 1 == path_.size() && !path_[node].pinned) {
        if (path_[node].kind == StepKind::Field) keys_.resize(path_[node].value);
        path_.pop_back();
    }
}

void YamlBuilder::SetPendingKey(std::string_view key) {
    pendingKeyOffset_ = keys_.size();
    keys_.append(key);
    keyPending_ = true;
}

bool YamlBuilder::RecordAnchor(const char* name, Anchor anchor, const yaml_mark_t& mark) {
    auto [it, inserted] = anchors_.try_emplace(std::string(name), std::move(anchor));
    if (!inserted) {
        FailAt(YamlMessage::kDuplicateAnchor, mark, name);
        return false;
    }
    if (!it->second.isKey) {
        path_[it->second.pathNode].pinned = true;
        if (!builder_.BuildsInPlace()) builder_.BuildInPlace();
    }
    return true;
}

}  // namespace

BindingResult ReadYaml(std::string_view text) {
    BindingResult result;
    if (uint64_t line = FindExcessTagDirective(text); line != 0) {
        result.Fail(FormatToString(YamlMessage::kTooManyTagDirectives, kMaxYamlTagDirectives, line));
        return result;
    }
    std::string failure;
    {
        // The builder goes before a failure replaces what it built into.
        YamlParser parser;
        yaml_parser_set_encoding(parser.Get(), YAML_UTF8_ENCODING);
        static const unsigned char kNoText[] = "";
        const unsigned char* input = text.empty() ? kNoText : reinterpret_cast<const unsigned char*>(text.data());
        yaml_parser_set_input_string(parser.Get(), input, text.size());
        YamlBuilder builder(result.Value(), text.size());
        YamlEvent event;
        while (!builder.Failed()) {
            if (!event.Parse(parser)) {
                const yaml_parser_t& state = *parser.Get();
                const char* problem = state.problem != nullptr ? state.problem : YamlMessage::kUnknownProblem;
                failure = FormatToString(YamlMessage::kParserError, problem,
                                         static_cast<uint64_t>(state.problem_mark.line),
                                         static_cast<uint64_t>(state.problem_mark.column));
                break;
            }
            if (event.Get().type == YAML_STREAM_END_EVENT) break;
            builder.Handle(event.Get());
        }
        if (builder.Failed()) failure = builder.Failure();
    }
    if (!failure.empty()) result.Fail(failure);
    return result;
}

bool LooksLikeYaml(std::string_view text) noexcept {
    size_t first = text.find_first_not_of(' ');
    return first != std::string_view::npos && text.substr(first).starts_with("---");
}

}  // namespace Korvo
