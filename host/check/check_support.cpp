#include "host/check/check_support.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "host/common/host_value_json.h"
#include "sdk/contract/korvo_plugin.h"

namespace Korvo::Host::Check {

CheckVerdict Pass(std::string detail) { return {true, std::move(detail)}; }
CheckVerdict Fail(std::string detail) { return {false, std::move(detail)}; }

namespace {

std::mutex warningsMutex;
std::FILE* warnings = nullptr;  // written for the life of the process

void RecordWarning(const FakeHost::LogLine& line) {
    const char* level = line.level == KORVO_LOG_WARN ? "warning" : line.level == KORVO_LOG_ERROR ? "error" : nullptr;
    if (level == nullptr) return;
    // One line each, whatever the text holds.
    std::string text = line.message;
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::lock_guard<std::mutex> guard(warningsMutex);
    if (warnings == nullptr) return;
    std::fprintf(warnings, "%s '%s'\n", level, text.c_str());
    // Flushed at once: the next thing the plug-in does may end the process.
    std::fflush(warnings);
}

}  // namespace

CheckHost::CheckHost() { SetLogHook(&RecordWarning); }

void RecordWarningsTo(const std::string& path) {
    std::lock_guard<std::mutex> guard(warningsMutex);
    if (warnings != nullptr) std::fclose(warnings);
    warnings = std::fopen(path.c_str(), "wb");
}

void Problems::Add(std::string problem) {
    if (list_.size() < kMostProblemsShown) list_.push_back(std::move(problem));
    ++count_;
}

std::string Problems::Text() const {
    std::string text;
    for (const std::string& problem : list_) text += (text.empty() ? "" : "; ") + problem;
    if (count_ > list_.size()) text += "; and " + std::to_string(count_ - list_.size()) + " more";
    return text;
}

std::string Quoted(const char* text) { return text == nullptr ? "(null)" : "'" + std::string(text) + "'"; }

std::string FunctionLabel(const HostFunctionRecord& record, size_t index) {
    return "function " + std::to_string(index) + " (" + Quoted(record.description.name) + ")";
}

bool LoadCompatible(FakeHost& host, const CheckSettings& settings, std::string& why) {
    if (!host.Load(settings.library, settings.exportName.c_str())) {
        why = host.LoadError();
        return false;
    }
    if (host.CallLoad(KORVO_PLUGIN_API_MAJOR, KORVO_PLUGIN_API_MINOR, KORVO_PLUGIN_API_PATCH) == nullptr) {
        why = settings.exportName + " gave no plug-in object to a compatible host";
        return false;
    }
    return true;
}

bool ApplyHostAnswers(FakeHost& host, const CheckSettings& settings, std::string& why) {
    for (const auto& [path, json] : settings.hostAnswers) {
        OwnedHostValue value;
        std::string error;
        if (!JsonToHostValue(json, value, error)) {
            why = "the host answer for " + path + " is not JSON: " + error;
            return false;
        }
        host.AnswerValue(path, std::move(value));
    }
    return true;
}

bool LoadAndStart(FakeHost& host, const CheckSettings& settings, std::string& why) {
    if (!ApplyHostAnswers(host, settings, why) || !LoadCompatible(host, settings, why)) return false;
    if (!host.Start(kPluginHandle)) {
        why = "Start answered 0 (not started); give the answers it asks the host for with --host-answer";
        return false;
    }
    return true;
}

std::vector<const HostFunctionRecord*> Functions(const HostApiDescriptor* descriptor) {
    std::vector<const HostFunctionRecord*> functions;
    if (descriptor == nullptr || descriptor->functions == nullptr) return functions;
    const uint32_t count = descriptor->functionCount;
    for (uint32_t i = 0; i < count; ++i) functions.push_back(&descriptor->functions[i]);
    return functions;
}

Held HeldBy(const PluginMemoryStats& stats) {
    const uint64_t allocations = stats.allocations, frees = stats.frees;
    const uint64_t allocated = stats.bytesAllocated, freed = stats.bytesFreed;
    return {static_cast<int64_t>(allocations - frees), static_cast<int64_t>(allocated - freed)};
}
std::string HeldText(const Held& held) {
    return std::to_string(held.blocks) + " blocks / " + std::to_string(held.bytes) + " bytes";
}
bool FreedMoreThanAllocated(const PluginMemoryStats& stats, std::string& why) {
    const uint64_t allocations = stats.allocations, frees = stats.frees;
    const uint64_t allocated = stats.bytesAllocated, freed = stats.bytesFreed;
    if (frees <= allocations && freed <= allocated) return false;
    why = "its counters show more freed than allocated (" + std::to_string(frees) + " frees of " +
          std::to_string(allocations) + " allocations, " + std::to_string(freed) + " of " +
          std::to_string(allocated) + " bytes): something was released twice";
    return true;
}

}  // namespace Korvo::Host::Check
