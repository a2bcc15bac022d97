#include "host/common/function_call.h"

#include <algorithm>
#include <cstring>

namespace Korvo::Host {

namespace {

// How much of a plug-in's streamed response the host asks for at a time.
constexpr size_t kResponseStreamReadBytes = 4096;
// What a fragment parameter's value follows on the path.
constexpr std::string_view kFragmentMark = "#";

std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

std::string_view PathOnly(std::string_view path) {
    size_t query = path.find('?');
    return query == std::string_view::npos ? path : path.substr(0, query);
}

void ReadStream(const HostResponseRecord& response, FunctionResponse& out) {
    out.streamed = true;
    char buffer[kResponseStreamReadBytes];
    for (;;) {
        uint32_t count = sizeof(buffer);
        bool more = false;
        if (!response.streamRead(response.stream, buffer, &count, &more) || count > sizeof(buffer)) {
            out.streamFailed = true;
            break;
        }
        if (out.streamBody.size() + count > kMaxStreamBytes) {
            out.streamFailed = true;
            break;
        }
        out.streamBody.append(buffer, count);
        if (!more) break;
    }
    if (response.streamRelease != nullptr) response.streamRelease(response.stream);
}

}  // namespace

uint32_t MethodCode(std::string_view name) noexcept {
    for (uint32_t code = KORVO_METHOD_DELETE; code <= KORVO_METHOD_PUT; ++code) {
        if (name == KorvoMethodName(code)) return code;
    }
    return KORVO_METHOD_ANY;
}

const char* MethodText(uint32_t code) noexcept {
    return KorvoMethodName(code);
}

// ------------------------------------------------------------ PathTemplate

PathTemplate::PathTemplate(std::string_view pathTemplate) {
    // The plug-in serves no path through a template it refuses.
    RouteTemplateParse parse = ParseRouteTemplate(pathTemplate);
    if (!parse.Ok()) {
        refused_ = true;
        return;
    }
    const auto addLiteral = [&](std::string_view text) {
        for (char c : text) atoms_.push_back(static_cast<int16_t>(static_cast<unsigned char>(c)));
        literalLength_ += text.size();
    };
    addLiteral(parse.parsed.leading);
    for (const RouteTemplateParameter& parameter : parse.parsed.parameters) {
        if (parameter.kind == RouteParameterKind::Segment) {
            atoms_.push_back(static_cast<int16_t>(Atom::Segment));
        } else {
            if (parameter.kind == RouteParameterKind::Fragment) addLiteral(kFragmentMark);
            atoms_.push_back(static_cast<int16_t>(Atom::Rest));
        }
        addLiteral(parameter.following);
    }
    for (int16_t atom : atoms_) {
        if (atom < 0) break;
        prefix_ += static_cast<char>(atom);
    }
}

bool PathTemplate::Fits(std::string_view path) const {
    if (refused_) return false;
    // A set-of-positions walk over the atoms: one pass over the path, no
    // backtracking and no recursion. Only the positions still alive are
    // visited - one or two for an ordinary template - so a path costs about
    // its length, and a path that leaves the template stops the walk there.
    // Up to the first parameter only one position can be alive: the fixed
    // start is compared at once and the walk begins after it.
    if (path.substr(0, prefix_.size()) != prefix_) return false;
    path.remove_prefix(prefix_.size());
    const size_t positions = atoms_.size() + 1;
    const uint32_t end = static_cast<uint32_t>(atoms_.size());
    constexpr size_t kInlinePositions = 64;
    uint32_t inlineLists[2 * kInlinePositions];
    char inlineMarks[kInlinePositions];
    std::vector<uint32_t> heapLists;
    std::vector<char> heapMarks;
    uint32_t* current = inlineLists;
    uint32_t* next = inlineLists + kInlinePositions;
    char* marks = inlineMarks;  // the positions in the list being built
    if (positions > kInlinePositions) {
        heapLists.resize(2 * positions);
        heapMarks.resize(positions);
        current = heapLists.data();
        next = heapLists.data() + positions;
        marks = heapMarks.data();
    } else {
        std::memset(inlineMarks, 0, sizeof(inlineMarks));
    }
    size_t currentCount = 0;
    size_t nextCount = 0;
    auto add = [&](uint32_t position) {
        if (marks[position]) return;
        marks[position] = 1;
        next[nextCount++] = position;
    };
    // A parameter may match nothing: the position after it is alive too.
    // The list grows while it is walked, so chains of parameters close.
    auto closeAndSwap = [&] {
        for (size_t i = 0; i < nextCount; ++i) {
            uint32_t position = next[i];
            if (position < end && atoms_[position] < 0) add(position + 1);
        }
        for (size_t i = 0; i < nextCount; ++i) marks[next[i]] = 0;
        std::swap(current, next);
        currentCount = nextCount;
        nextCount = 0;
    };
    add(static_cast<uint32_t>(prefix_.size()));
    closeAndSwap();
    for (char c : path) {
        for (size_t i = 0; i < currentCount; ++i) {
            uint32_t position = current[i];
            if (position == end) continue;
            int16_t atom = atoms_[position];
            if (atom == static_cast<int16_t>(Atom::Rest) || (atom == static_cast<int16_t>(Atom::Segment) && c != '/')) {
                add(position);
            } else if (atom == static_cast<int16_t>(static_cast<unsigned char>(c))) {
                add(position + 1);
            }
        }
        if (nextCount == 0) return false;
        closeAndSwap();
    }
    for (size_t i = 0; i < currentCount; ++i) {
        if (current[i] == end) return true;
    }
    return false;
}

// ---------------------------------------------------------- FunctionRouter

FunctionRouter::FunctionRouter(const HostApiDescriptor* descriptor) {
    if (descriptor == nullptr || descriptor->functions == nullptr) return;
    for (uint32_t i = 0; i < descriptor->functionCount; ++i) {
        const HostFunctionRecord& record = descriptor->functions[i];
        all_.push_back(&record);
        if (record.pathTemplate == nullptr || record.pathTemplate[0] == '\0') continue;
        routes_.push_back(Route{&record, PathTemplate(record.pathTemplate)});
    }
}

FunctionRouter::Lookup FunctionRouter::Find(uint32_t method, std::string_view path) const {
    Lookup lookup;
    path = PathOnly(path);
    size_t bestLiteral = 0;
    for (const Route& route : routes_) {
        if (!route.pathTemplate.Fits(path)) continue;
        uint32_t routeMethod = route.record->method;
        bool seen = false;
        for (uint32_t known : lookup.pathMethods) seen = seen || known == routeMethod;
        if (!seen) lookup.pathMethods.push_back(routeMethod);
        if (routeMethod != 0 && routeMethod != method) continue;
        if (lookup.record == nullptr || route.pathTemplate.LiteralLength() > bestLiteral) {
            lookup.record = route.record;
            bestLiteral = route.pathTemplate.LiteralLength();
        }
    }
    return lookup;
}

const HostFunctionRecord* FunctionRouter::FindByName(std::string_view name) const {
    for (const HostFunctionRecord* record : all_) {
        if (record->description.name != nullptr && name == record->description.name) return record;
    }
    return nullptr;
}

// ------------------------------------------------------------ CallFunction

FunctionResponse CallFunction(const HostFunctionRecord& record, const FunctionRequest& call) {
    std::vector<HostHeaderEntry> headerEntries;
    headerEntries.reserve(call.headers.size());
    for (const auto& [name, value] : call.headers) headerEntries.push_back(HostHeaderEntry{name.c_str(), value.c_str()});
    std::vector<HostArgumentEntry> argumentEntries;
    argumentEntries.reserve(call.arguments.size());
    for (const auto& [name, value] : call.arguments) {
        argumentEntries.push_back(HostArgumentEntry{name.empty() ? nullptr : name.c_str(), value.Record()});
    }

    HostRequestRecord request;
    std::memset(&request, 0, sizeof(request));
    request.method = call.method;
    request.path = call.path.c_str();
    request.arguments = argumentEntries.empty() ? nullptr : argumentEntries.data();
    request.argumentCount = static_cast<uint32_t>(argumentEntries.size());
    request.userData = record.description.userData;
    request.headers = headerEntries.empty() ? nullptr : headerEntries.data();
    request.headerCount = static_cast<uint32_t>(headerEntries.size());
    request.contentType = call.contentType.empty() ? nullptr : call.contentType.c_str();
    request.body = call.hasBody ? call.body.c_str() : nullptr;
    request.bodySize = call.hasBody ? static_cast<uint32_t>(call.body.size()) : 0;
    request.caller = call.caller;
    request.functionName = call.functionName;

    HostResponseRecord response;
    std::memset(&response, 0, sizeof(response));
    record.callback(&response, &request);

    FunctionResponse out;
    out.error = response.error != 0;
    out.errorMessage = TextOrEmpty(response.errorMessage);
    out.contentFlag = response.contentFlag;
    out.contentCode = response.contentCode;
    out.status = response.status;
    out.textIsNull = response.text == nullptr;
    out.text = TextOrEmpty(response.text);
    for (uint32_t i = 0; response.headers != nullptr && i < response.headerCount; ++i) {
        out.headers.emplace_back(TextOrEmpty(response.headers[i].name), TextOrEmpty(response.headers[i].value));
    }
    out.resultType = response.result.type;
    out.resultJson = HostValueToJson(response.result);
    // The stream is the callee's, released through its own function; the
    // record's release leaves it alone.
    if (response.streamRead != nullptr) ReadStream(response, out);
    out.releaseSet = response.release != nullptr;
    if (response.release != nullptr) response.release(&response);
    static const HostResponseRecord kZero{};
    out.zeroAfterRelease = std::memcmp(&response, &kZero, sizeof(response)) == 0;
    return out;
}

}  // namespace Korvo::Host
