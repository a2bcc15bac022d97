#include "host/check/checks.h"

#include "host/check/check_support.h"

namespace Korvo::Host::Check {

namespace {

constexpr CheckInfo kChecks[] = {
    {"export", "the library exports its entry point alone", false, &CheckExport},
    {"handshake", "a compatible host gets a complete load record", false, &CheckHandshake},
    {"incompatible-host", "a host of another major version ends the process", true, &CheckIncompatibleHost},
    {"records", "every description record is well formed", false, &CheckRecords},
    {"start-stop", "start and stop keep the host's side clean", false, &CheckStartStop},
    {"hostile-requests", "hostile requests get clean answers", false, &CheckHostileRequests},
    {"concurrent-calls", "calls from many threads at once", false, &CheckConcurrentCalls},
    {"lifecycle", "start/stop/unload cycles give all memory back", false, &CheckLifecycle},
};

}  // namespace

std::span<const CheckInfo> AllChecks() { return kChecks; }

const CheckInfo* FindCheck(const std::string& name) {
    for (const CheckInfo& check : kChecks) {
        if (name == check.name) return &check;
    }
    return nullptr;
}

}  // namespace Korvo::Host::Check
