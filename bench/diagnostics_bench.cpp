// The message formatter beside one snprintf of the equivalent format, and
// LogMessage: filtered out by the level threshold, and passing to an
// attached target that formats its line and discards it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "sdk/diagnostics/format.h"
#include "sdk/diagnostics/log.h"
#include "sdk/diagnostics/log_target.h"
#include "sdk/diagnostics/logger.h"
#include "sdk/values/conversion_messages.h"

namespace {

// A typical message of three arguments: a number, a name and a type name.
constexpr char kPrintfEquivalent[] = "Value %lld for '%s' of type %s is out of range";
constexpr int64_t kNumber = 300;
constexpr const char* kName = "volume";
constexpr const char* kTypeName = "uint8";

void FormatToStringThree(benchmark::State& state) {
    for (auto _ : state) {
        std::string text = Korvo::FormatToString(Korvo::ConversionMessage::kOutOfRange, kNumber, kName, kTypeName);
        benchmark::DoNotOptimize(text);
    }
}

void FormatToStringPrintfForm(benchmark::State& state) {
    for (auto _ : state) {
        std::string text = Korvo::FormatToString(kPrintfEquivalent, kNumber, kName, kTypeName);
        benchmark::DoNotOptimize(text);
    }
}

void SnprintfFloor(benchmark::State& state) {
    for (auto _ : state) {
        char buffer[256];
        int length = std::snprintf(buffer, sizeof buffer, kPrintfEquivalent, static_cast<long long>(kNumber), kName,
                                   kTypeName);
        benchmark::DoNotOptimize(length);
        benchmark::DoNotOptimize(buffer);
    }
}

void SnprintfToString(benchmark::State& state) {
    for (auto _ : state) {
        char buffer[256];
        int length = std::snprintf(buffer, sizeof buffer, kPrintfEquivalent, static_cast<long long>(kNumber), kName,
                                   kTypeName);
        std::string text(buffer, length > 0 ? static_cast<size_t>(length) : 0);
        benchmark::DoNotOptimize(text);
    }
}

// A console-like target whose sink drops every line.
class DiscardingTarget final : public Korvo::BaseConsoleLogTarget {
public:
    ~DiscardingTarget() override { DetachForDestruction(); }
    const char* GetName() const noexcept override { return "DiscardingTarget"; }
    void Flush() noexcept override {}

protected:
    void WriteLine(const char* line) noexcept override { benchmark::DoNotOptimize(line); }
};

void LogFiltered(benchmark::State& state) {
    Korvo::Logger* logger = Korvo::EnsureLogger();
    logger->SetLevel(Korvo::Warn);
    int64_t i = 0;
    for (auto _ : state) {
        Korvo::LogMessage(Korvo::Okay, Korvo::kLogGroupDebug, "request %lld took %d us", static_cast<long long>(++i),
                          17);
    }
}

void LogToDiscardingTarget(benchmark::State& state) {
    Korvo::Logger* logger = Korvo::EnsureLogger();
    DiscardingTarget target;
    Korvo::LogTargetSettings settings;
    settings.level = Korvo::Okay;
    if (!target.Configure(settings)) state.SkipWithError("could not attach the target");
    logger->SetLevel(Korvo::Okay);
    int64_t i = 0;
    // The built-in console targets stay at Warn: only this target writes.
    for (auto _ : state) {
        Korvo::LogMessage(Korvo::Okay, Korvo::kLogGroupDebug, "request %lld took %d us", static_cast<long long>(++i),
                          17);
    }
    logger->SetLevel(Korvo::Warn);
    target.Detach();
}

const bool kRegistered = [] {
    benchmark::RegisterBenchmark("Format/three_arguments/FormatToString", FormatToStringThree);
    benchmark::RegisterBenchmark("Format/three_arguments/FormatToString_printf_form", FormatToStringPrintfForm);
    benchmark::RegisterBenchmark("Format/three_arguments/snprintf_floor", SnprintfFloor);
    benchmark::RegisterBenchmark("Format/three_arguments/snprintf_to_string", SnprintfToString);
    benchmark::RegisterBenchmark("Log/filtered/LogMessage", LogFiltered);
    benchmark::RegisterBenchmark("Log/discarding_target/LogMessage", LogToDiscardingTarget);
    return true;
}();

}  // namespace
