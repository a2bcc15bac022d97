// crash-host - a host that hands the release plug-in a broken request record,
// so that the plug-in faults inside its own callback, as it would under a
// host with a bug. Nothing here catches the fault: the system's debugger
// gets it, and tests/dist/crash_backtrace_test.sh reads its backtrace.
//
//   crash-host LIBRARY FAULT
//
// FAULT is one of:
//   user-data  the record's userData points at 0x10: the callback itself
//              reads through it, so the faulting frame is the plug-in's
//   path       the record's path points at 0x10: the C runtime's strlen
//              faults, called from the plug-in, whose frame is below it
//
// Exit status: 2 when the plug-in could not be loaded or started, 3 when the
// bad call returned (it must not); a fault ends the process otherwise.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/testing/fake_host.h"

namespace {

using Korvo::Host::FakeHost;
using Korvo::Host::OwnedHostValue;

constexpr const char* kStatesPath = "/qem-quorvex-zv/v1/ui-states";

int Fail(const std::string& message) {
    std::fprintf(stderr, "crash-host: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: crash-host LIBRARY user-data|path\n");
        return 2;
    }
    const std::string fault = argv[2];
    if (fault != "user-data" && fault != "path") return Fail("unknown fault " + fault);

    FakeHost host;
    if (!host.Load(argv[1])) return Fail(host.LoadError());
    // What the host core answers the plug-in at start: it serves only its
    // own region.
    host.AnswerValue("/korvoclient/get_region_locale",
                     OwnedHostValue::Object({{"region", OwnedHostValue::String("QUORVEX")},
                                             {"locale", OwnedHostValue::String("en_US")}}));
    host.AnswerValue("/korvoclient/command-line-args", OwnedHostValue::Array({}));
    if (host.CallLoad() == nullptr) return Fail("the plug-in refused to load");
    if (!host.Start()) return Fail("the plug-in refused to start");

    const Korvo::HostFunctionRecord* record = host.FindFunction(KORVO_METHOD_GET, kStatesPath);
    if (record == nullptr) return Fail(std::string("the plug-in serves no GET ") + kStatesPath);
    // A good call first: the plug-in is up and answering, so the fault
    // below is the bad record's alone.
    const FakeHost::CallResponse answer = host.CallRecord(*record, KORVO_METHOD_GET, kStatesPath);
    if (answer.error) {
        return Fail("GET " + std::string(kStatesPath) + " failed (" + std::to_string(answer.status) + "): " +
                    answer.errorMessage);
    }

    Korvo::HostRequestRecord request;
    std::memset(&request, 0, sizeof(request));
    request.method = KORVO_METHOD_GET;
    request.path = kStatesPath;
    request.userData = record->description.userData;
    request.caller = 1;
    if (fault == "user-data") request.userData = reinterpret_cast<KorvoFunctionUserData*>(uintptr_t{0x10});
    if (fault == "path") request.path = reinterpret_cast<const char*>(uintptr_t{0x10});
    Korvo::HostResponseRecord response;
    std::memset(&response, 0, sizeof(response));
    std::fprintf(stderr, "crash-host: calling GET %s with %s at 0x10\n", kStatesPath, fault.c_str());
    std::fflush(stderr);
    record->callback(&response, &request);
    std::fprintf(stderr, "crash-host: the call returned (status %u)\n", static_cast<unsigned>(response.status));
    return 3;
}
