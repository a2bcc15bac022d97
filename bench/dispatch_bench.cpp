// Calls into the plug-in library the way the host does: the library is
// loaded by its path, entered through its export and started with a host
// table; each call builds nothing but the request record (made once, outside
// the timed loop), calls the function record's callback and releases the
// response through the record's own release function. The host's SendEvent
// does nothing, so a write costs only what the plug-in does.
//
// Beside them, hand-written floors: the write done with a RapidJSON
// Document, a plain struct and a std::unordered_map, building the same
// outgoing event payload; the list of 1,000 features copied from plain
// structs into host values by hand.
#include <benchmark/benchmark.h>

#include <rapidjson/document.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/bench_data.h"
#include "host/common/function_call.h"
#include "host/common/host_value_json.h"
#include "host/common/plugin_library.h"
#include "sdk/allocation/allocation.h"
#include "sdk/contract/records.h"
#include "sdk/records/host_value.h"
#include "sdk/platform/platform.h"

namespace {

using Korvo::HostFunctionRecord;
using Korvo::HostRequestRecord;
using Korvo::HostResponseRecord;
using Korvo::HostValue;
using Korvo::HostValueMember;
using Korvo::HostValueType;
using Korvo::Host::OwnedHostValue;

constexpr uint32_t kGet = 2;
constexpr uint32_t kPost = 6;
constexpr const char* kStatesPath = "/qem-quorvex-zv/v1/ui-states";
constexpr const char* kStatePrefix = "/qem-quorvex-zv/v1/ui-states/";
constexpr const char* kJson = "application/json";
constexpr size_t kListSize = 1000;

// ------------------------------------------------------------- the host

// The host table: the start-up check's two requests are answered (the
// operator's region), events and everything else go nowhere.
class BenchHost {
public:
    bool Start() {
        if (!library_.Open(KORVO_PLUGIN_LIBRARY, "load_qem_quorvex_zv")) {
            std::fprintf(stderr, "korvo_bench: %s\n", library_.Error().c_str());
            return false;
        }
        if (library_.Load(18, 0, 0) == nullptr) return false;
        interface_.functions = &functions_;
        interface_.pluginHandle = 0x5EED;
        if (!library_.Start(&interface_)) return false;
        router_ = Korvo::Host::FunctionRouter(library_.Descriptor());
        return true;
    }

    const HostFunctionRecord* Find(uint32_t method, const std::string& path) const {
        return router_.Find(method, path).record;
    }

    // Allocations the plug-in's counters have seen so far.
    uint64_t PluginAllocations() const { return library_.MemoryStats().allocations; }

    static BenchHost& Instance() {
        static BenchHost* host = [] {
            auto* created = new BenchHost();
            if (!created->Start()) {
                std::fprintf(stderr, "korvo_bench: the plug-in did not start\n");
                std::exit(2);
            }
            return created;
        }();
        return *host;
    }

private:
    static void KORVO_CDECL SendRequest(const Korvo::HostFunctions*, HostResponseRecord* response,
                                        const HostRequestRecord* request) {
        static const OwnedHostValue region =
            OwnedHostValue::Object({{"region", OwnedHostValue::String("QUORVEX")}});
        static const OwnedHostValue arguments = OwnedHostValue::Array({});
        const std::string path = request->path != nullptr ? request->path : "";
        if (path == "/korvoclient/get_region_locale") {
            response->result = region.Record();
        } else {
            response->result = arguments.Record();
        }
        response->status = 200;
        response->release = &Release;
    }
    static void KORVO_CDECL Release(HostResponseRecord* response) { std::memset(response, 0, sizeof *response); }
    static void KORVO_CDECL Reserved1(const Korvo::HostFunctions*, uint32_t, uint32_t) {}
    static void KORVO_CDECL SendEvent(const Korvo::HostFunctions*, const Korvo::HostEventRecord* event) {
        benchmark::DoNotOptimize(event);
    }
    static void KORVO_CDECL Subscribe(const Korvo::HostFunctions*, const char*, uint32_t,
                                      Korvo::HostEventCallback, void*, uint32_t) {}
    static void KORVO_CDECL Unsubscribe(const Korvo::HostFunctions*, const char*, uint32_t) {}
    static void KORVO_CDECL Reserved5(const Korvo::HostFunctions*, uint32_t, uint32_t, uint32_t, double, uint32_t) {}
    static void KORVO_CDECL Yield(const Korvo::HostFunctions*) {}
    static void KORVO_CDECL MarkActivity(const Korvo::HostFunctions*, const char*, uint32_t) {}
    static uint64_t KORVO_CDECL PollWake(const Korvo::HostFunctions*) { return 0; }
    static void KORVO_CDECL Log(const Korvo::HostFunctions*, uint32_t, const char*) {}

    Korvo::HostFunctions functions_{&SendRequest, &Reserved1,    &SendEvent, &Subscribe, &Unsubscribe,
                                    &Reserved5,   &Yield,        &MarkActivity, &PollWake, &Log};
    Korvo::HostInterface interface_{};
    Korvo::Host::PluginLibrary library_;
    Korvo::Host::FunctionRouter router_;
};

// One prepared call: the texts it points to live as long as it does.
struct PreparedCall {
    const HostFunctionRecord* record = nullptr;
    std::string path;
    std::string body;
    HostRequestRecord request{};

    PreparedCall(uint32_t method, std::string callPath, const std::string* callBody) : path(std::move(callPath)) {
        record = BenchHost::Instance().Find(method, path);
        request.method = method;
        request.path = path.c_str();
        request.userData = record != nullptr ? record->description.userData : nullptr;
        request.caller = 1;
        if (callBody != nullptr) {
            body = *callBody;
            request.contentType = kJson;
            request.body = body.c_str();
            request.bodySize = static_cast<uint32_t>(body.size());
        }
    }
    PreparedCall(const PreparedCall&) = delete;
    PreparedCall& operator=(const PreparedCall&) = delete;

    // One call as the host makes it; false when the plug-in answered an error.
    // Plug-in allocations of one call (counted outside the timed loop).
    double AllocationsPerCall() const {
        const uint64_t before = BenchHost::Instance().PluginAllocations();
        Call();
        return static_cast<double>(BenchHost::Instance().PluginAllocations() - before);
    }

    bool Call() const {
        HostResponseRecord response{};
        record->callback(&response, &request);
        const bool ok = response.error == 0;
        benchmark::DoNotOptimize(response.result);
        if (response.release != nullptr) response.release(&response);
        return ok;
    }
};

const std::string& UiStateBody() { return KorvoBench::Document("json", "ui-state"); }

void WriteThroughCallback(benchmark::State& state) {
    const PreparedCall write(kPost, std::string(kStatePrefix) + "voice-chat", &UiStateBody());
    if (write.record == nullptr) state.SkipWithError("no function record for the write");
    for (auto _ : state) {
        if (!write.Call()) state.SkipWithError("the write failed");
    }
    state.counters["allocations"] = write.AllocationsPerCall();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * UiStateBody().size()));
}

void ReadThroughCallback(benchmark::State& state) {
    const PreparedCall write(kPost, std::string(kStatePrefix) + "voice-chat", &UiStateBody());
    const PreparedCall read(kGet, std::string(kStatePrefix) + "voice-chat", nullptr);
    if (write.record == nullptr || read.record == nullptr || !write.Call()) {
        state.SkipWithError("could not write the feature first");
    }
    for (auto _ : state) {
        if (!read.Call()) state.SkipWithError("the read failed");
    }
    state.counters["allocations"] = read.AllocationsPerCall();
}

void ListThroughCallback(benchmark::State& state) {
    for (size_t i = 0; i < kListSize; ++i) {
        const PreparedCall write(kPost, std::string(kStatePrefix) + "feature-" + std::to_string(i), &UiStateBody());
        if (write.record == nullptr || !write.Call()) state.SkipWithError("could not write the features first");
    }
    const PreparedCall list(kGet, kStatesPath, nullptr);
    if (list.record == nullptr) state.SkipWithError("no function record for the list");
    for (auto _ : state) {
        if (!list.Call()) state.SkipWithError("the list failed");
    }
    state.counters["allocations"] = list.AllocationsPerCall();
    state.counters["features"] = static_cast<double>(kListSize);
}

// A large body (twitter.json as the data of a write) followed by small
// writes, as a desktop client does after loading something big: the time
// per request, and what the process holds mapped right after a large write
// and after a long run of small ones.
constexpr int kSmallWritesAfterLarge = 15;
constexpr int kSmallWritesToSettle = 100;

std::string LargeBody() {
    return R"({"state":"loaded","updatedBy":"bench","data":)" + KorvoBench::Document("json", "twitter") + "}";
}

void LargeThenSmallThroughCallback(benchmark::State& state) {
    const std::string large = LargeBody();
    const PreparedCall writeLarge(kPost, std::string(kStatePrefix) + "large", &large);
    const PreparedCall dropLarge(kPost, std::string(kStatePrefix) + "large", &UiStateBody());
    const PreparedCall writeSmall(kPost, std::string(kStatePrefix) + "voice-chat", &UiStateBody());
    if (writeLarge.record == nullptr || writeSmall.record == nullptr) state.SkipWithError("no function record");
    auto series = [&] {
        bool ok = writeLarge.Call() && dropLarge.Call();
        for (int i = 0; i < kSmallWritesAfterLarge; ++i) ok = writeSmall.Call() && ok;
        return ok;
    };
    for (auto _ : state) {
        if (!series()) state.SkipWithError("a write failed");
    }
    state.SetItemsProcessed(state.iterations() * (2 + kSmallWritesAfterLarge));

    // Memory, outside the timed loop: what the process has mapped right
    // after a large write, and after a long run of small ones.
    (void)writeLarge.Call();
    (void)dropLarge.Call();
    const uint64_t afterLarge = Korvo::Platform::ReadAddressSpaceUsage().bytes;
    for (int i = 0; i < kSmallWritesToSettle; ++i) (void)writeSmall.Call();
    const uint64_t afterSmall = Korvo::Platform::ReadAddressSpaceUsage().bytes;
    state.counters["mappedAfterLargeKiB"] = static_cast<double>(afterLarge) / 1024;
    state.counters["mappedAfterSmallKiB"] = static_cast<double>(afterSmall) / 1024;
}

// ------------------------------------------------------- the hand floors

// Host values built by hand, with the allocation layer as the plug-in does.
char* CopyText(const char* text, size_t length) {
    auto* copy = static_cast<char*>(Korvo::Memory::Allocate(length + 1));
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

HostValue StringValue(const char* text, size_t length) {
    HostValue value{};
    value.type = static_cast<uint32_t>(HostValueType::String);
    value.data.string.text = CopyText(text, length);
    value.data.string.length = static_cast<uint32_t>(length);
    return value;
}

HostValue StringValue(const std::string& text) { return StringValue(text.data(), text.size()); }

HostValue ObjectValue(size_t count) {
    HostValue value{};
    value.type = static_cast<uint32_t>(HostValueType::Object);
    value.data.object.members =
        static_cast<HostValueMember*>(Korvo::Memory::Allocate(count * sizeof(HostValueMember)));
    value.data.object.count = static_cast<uint32_t>(count);
    return value;
}

void SetMember(HostValue& object, size_t index, const char* key, size_t keyLength, HostValue member) {
    HostValueMember& slot = object.data.object.members[index];
    slot.key = CopyText(key, keyLength);
    slot.ownsKey = 1;
    slot.value = member;
}

void SetMember(HostValue& object, size_t index, const char* key, HostValue member) {
    SetMember(object, index, key, std::strlen(key), member);
}

// A JSON value as a host value (the data of a record: small, so recursion
// is fine here). Members sorted by name, as the plug-in sends them.
HostValue FromJson(const rapidjson::Value& json) {
    HostValue value{};
    if (json.IsString()) return StringValue(json.GetString(), json.GetStringLength());
    if (json.IsBool()) {
        value.type = static_cast<uint32_t>(HostValueType::Bool);
        value.data.boolean = json.GetBool() ? 1 : 0;
    } else if (json.IsUint64()) {
        value.type = static_cast<uint32_t>(HostValueType::UInt64);
        value.data.uint64 = json.GetUint64();
    } else if (json.IsInt64()) {
        value.type = static_cast<uint32_t>(HostValueType::Int64);
        value.data.int64 = json.GetInt64();
    } else if (json.IsDouble()) {
        value.type = static_cast<uint32_t>(HostValueType::Double);
        value.data.float64 = json.GetDouble();
    } else if (json.IsArray()) {
        value.type = static_cast<uint32_t>(HostValueType::Array);
        value.data.array.items = static_cast<HostValue*>(Korvo::Memory::Allocate(json.Size() * sizeof(HostValue)));
        value.data.array.count = json.Size();
        for (rapidjson::SizeType i = 0; i < json.Size(); ++i) value.data.array.items[i] = FromJson(json[i]);
    } else if (json.IsObject()) {
        std::vector<const rapidjson::Value::Member*> members;
        for (const auto& member : json.GetObject()) members.push_back(&member);
        std::sort(members.begin(), members.end(), [](auto* a, auto* b) {
            return std::strcmp(a->name.GetString(), b->name.GetString()) < 0;
        });
        value = ObjectValue(members.size());
        for (size_t i = 0; i < members.size(); ++i) {
            SetMember(value, i, members[i]->name.GetString(), members[i]->name.GetStringLength(),
                      FromJson(members[i]->value));
        }
    }
    return value;
}

struct PlainRecord {
    std::string state;
    std::string updatedBy;
    int64_t timestamp = 0;
    rapidjson::Document data;
};

HostValue RecordValue(const PlainRecord& record) {
    HostValue value = ObjectValue(4);
    HostValue data{};
    if (!record.data.IsNull()) data = FromJson(record.data);
    SetMember(value, 0, "data", data);
    SetMember(value, 1, "state", StringValue(record.state));
    HostValue timestamp{};
    timestamp.type = static_cast<uint32_t>(HostValueType::Int64);
    timestamp.data.int64 = record.timestamp;
    SetMember(value, 2, "timestamp", timestamp);
    SetMember(value, 3, "updatedBy", StringValue(record.updatedBy));
    return value;
}

void KORVO_CDECL DiscardEvent(const Korvo::HostEventRecord* event) { benchmark::DoNotOptimize(event); }

class HandWrittenStore {
public:
    // Parse, check, store, and send the Update event to both event names.
    bool Write(const std::string& feature, const std::string& body) {
        rapidjson::Document json;
        json.Parse(body.c_str(), body.size());
        if (json.HasParseError() || !json.IsObject()) return false;
        PlainRecord record;
        auto state = json.FindMember("state");
        auto updatedBy = json.FindMember("updatedBy");
        if (state == json.MemberEnd() || !state->value.IsString() || updatedBy == json.MemberEnd() ||
            !updatedBy->value.IsString()) {
            return false;
        }
        record.state.assign(state->value.GetString(), state->value.GetStringLength());
        record.updatedBy.assign(updatedBy->value.GetString(), updatedBy->value.GetStringLength());
        if (record.state.empty() || record.updatedBy.empty()) return false;
        auto timestamp = json.FindMember("timestamp");
        if (timestamp != json.MemberEnd() && timestamp->value.IsInt64()) record.timestamp = timestamp->value.GetInt64();
        if (record.timestamp <= 0) record.timestamp = Korvo::Platform::SystemTimeMilliseconds();
        auto data = json.FindMember("data");
        if (data != json.MemberEnd()) record.data.CopyFrom(data->value, record.data.GetAllocator());

        HostValue payload = ObjectValue(3);
        SetMember(payload, 0, "data", RecordValue(record));
        SetMember(payload, 1, "eventType", StringValue(std::string("Update")));
        SetMember(payload, 2, "uri", StringValue(std::string(kStatePrefix) + feature));
        {
            std::unique_lock<std::shared_mutex> guard(lock_);
            store_.insert_or_assign(feature, std::move(record));
        }
        for (const char* name : {"OnJsonApiEvent_qem-quorvex-zv_v1_ui-states", "OnJsonApiEvent"}) {
            Korvo::HostEventRecord event{};
            event.name = name;
            event.payload = payload;
            DiscardEvent(&event);
        }
        Korvo::FreeHostValue(&payload);
        return true;
    }

    // Every record into one host object, by feature name.
    HostValue List() const {
        std::shared_lock<std::shared_mutex> guard(lock_);
        std::vector<const std::pair<const std::string, PlainRecord>*> sorted;
        sorted.reserve(store_.size());
        for (const auto& entry : store_) sorted.push_back(&entry);
        std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->first < b->first; });
        HostValue list = ObjectValue(sorted.size());
        for (size_t i = 0; i < sorted.size(); ++i) {
            SetMember(list, i, sorted[i]->first.data(), sorted[i]->first.size(), RecordValue(sorted[i]->second));
        }
        return list;
    }

private:
    mutable std::shared_mutex lock_;
    std::unordered_map<std::string, PlainRecord> store_;
};

void WriteHandFloor(benchmark::State& state) {
    HandWrittenStore store;
    const std::string feature = "voice-chat";
    for (auto _ : state) {
        if (!store.Write(feature, UiStateBody())) state.SkipWithError("the hand-written write failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * UiStateBody().size()));
}

void ListHandCopy(benchmark::State& state) {
    HandWrittenStore store;
    for (size_t i = 0; i < kListSize; ++i) store.Write("feature-" + std::to_string(i), UiStateBody());
    for (auto _ : state) {
        HostValue list = store.List();
        benchmark::DoNotOptimize(list);
        Korvo::FreeHostValue(&list);
    }
    state.counters["features"] = static_cast<double>(kListSize);
}

const bool kRegistered = [] {
    benchmark::RegisterBenchmark("Dispatch/write_ui_state/callback", WriteThroughCallback);
    benchmark::RegisterBenchmark("Dispatch/write_ui_state/hand_floor", WriteHandFloor);
    benchmark::RegisterBenchmark("Dispatch/read_ui_state/callback", ReadThroughCallback);
    benchmark::RegisterBenchmark("Dispatch/list_1000/callback", ListThroughCallback);
    benchmark::RegisterBenchmark("Dispatch/list_1000/hand_copy", ListHandCopy);
    benchmark::RegisterBenchmark("Dispatch/large_then_small/callback", LargeThenSmallThroughCallback);
    return true;
}();

}  // namespace
