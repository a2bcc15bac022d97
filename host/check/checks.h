// host/check/checks.h - the conformance checks plugin-check runs on a
// plug-in library, written against the contract alone: what any host core
// may rely on, whatever language or SDK built the library.
//
// Each check runs in a process of its own (main.cpp): it loads the library
// afresh, so that a crash, a hang or an ended process is that check's
// failure and nothing else's.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace Korvo::Host::Check {

struct CheckSettings {
    std::string library;
    std::string exportName;
    // What the host answers to the plug-in's own requests, by exact path
    // (JSON text); every other path is answered with a 404 error.
    std::vector<std::pair<std::string, std::string>> hostAnswers;
    uint32_t threads = 8;
};

struct CheckVerdict {
    bool passed = false;
    std::string detail;
};

struct CheckInfo {
    const char* name;   // on the command line and in reports
    const char* title;  // what passing means
    // The check passes only when the process ends inside the plug-in,
    // as the contract demands of an incompatible host.
    bool expectsProcessEnd;
    CheckVerdict (*run)(const CheckSettings& settings);
};

std::span<const CheckInfo> AllChecks();
const CheckInfo* FindCheck(const std::string& name);

// Where this process's checks write the warnings and errors their plug-in
// logs, one "warning 'TEXT'" or "error 'TEXT'" a line as they come; nowhere
// until called.
void RecordWarningsTo(const std::string& path);

// A route template as a function served by path needs it: one the
// contract's grammar reads (ParseRouteTemplate), starting with '/', naming
// no parameter twice. Fills names with the parameter names read; returns
// the problem, empty when there is none.
std::string CheckRouteTemplate(const char* routeTemplate, std::vector<std::string>& names);

}  // namespace Korvo::Host::Check
