// host/check/check_support.h - what the checks share: loading the library
// as a host does, collecting a check's problems, reading the plug-in's own
// memory counters; and the checks themselves, one file each by what they
// look at (checks.cpp lists them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/check/checks.h"
#include "host/testing/fake_host.h"

namespace Korvo::Host::Check {

// The handle every check starts the plug-in with.
inline constexpr uint32_t kPluginHandle = 0x5EED;
// Problems listed per check before the rest are only counted.
inline constexpr size_t kMostProblemsShown = 5;

CheckVerdict Pass(std::string detail);
CheckVerdict Fail(std::string detail);

// Collects problems; the verdict lists the first few and counts the rest.
class Problems {
public:
    void Add(std::string problem);
    bool Any() const noexcept { return count_ > 0; }
    std::string Text() const;

private:
    std::vector<std::string> list_;
    size_t count_ = 0;
};

// The host every check loads the plug-in with: a fake host whose plug-in's
// warnings and errors also go to the file RecordWarningsTo (checks.h)
// named, a line each as they are logged, so that they reach the report even
// when the check never ends on its own (a crash, a hang, an ended process).
class CheckHost : public FakeHost {
public:
    CheckHost();
};

// 'text', or (null).
std::string Quoted(const char* text);
// "function 3 ('Name')".
std::string FunctionLabel(const HostFunctionRecord& record, size_t index);

// Loads the library and calls the export with this contract's version.
bool LoadCompatible(FakeHost& host, const CheckSettings& settings, std::string& why);
// Gives the host the answers of --host-answer.
bool ApplyHostAnswers(FakeHost& host, const CheckSettings& settings, std::string& why);
// Loaded, given the host's answers and started; why says what failed.
bool LoadAndStart(FakeHost& host, const CheckSettings& settings, std::string& why);

// The descriptor's function records, in order.
std::vector<const HostFunctionRecord*> Functions(const HostApiDescriptor* descriptor);

// The memory the plug-in holds by its own counters.
struct Held {
    int64_t blocks;
    int64_t bytes;
    bool operator==(const Held&) const = default;
};
Held HeldBy(const PluginMemoryStats& stats);
std::string HeldText(const Held& held);
// More frees than allocations is a block freed twice (or memory the plug-in
// never had); why says so.
bool FreedMoreThanAllocated(const PluginMemoryStats& stats, std::string& why);

// check_exports.cpp
CheckVerdict CheckExport(const CheckSettings& settings);
// check_handshake.cpp
CheckVerdict CheckHandshake(const CheckSettings& settings);
CheckVerdict CheckIncompatibleHost(const CheckSettings& settings);
// check_records.cpp
CheckVerdict CheckRecords(const CheckSettings& settings);
// check_lifecycle.cpp
CheckVerdict CheckStartStop(const CheckSettings& settings);
CheckVerdict CheckLifecycle(const CheckSettings& settings);
// check_requests.cpp
CheckVerdict CheckHostileRequests(const CheckSettings& settings);
CheckVerdict CheckConcurrentCalls(const CheckSettings& settings);

}  // namespace Korvo::Host::Check
