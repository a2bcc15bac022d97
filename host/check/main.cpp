// plugin-check - tells a plug-in author, before a host does, whether their
// library keeps the contract. Every check runs in a child process of its own
// (this program again, with --run-check), so a plug-in that crashes, hangs
// or ends its process fails that check and the report goes on.
//
//   plugin-check [--export NAME] [--host-answers FILE]... [--host-answer PATH=JSON]...
//                [--check NAME]... [--timeout SECONDS] [--threads N] [--strict] [--json]
//                LIBRARY
//
// Exit status: 0 when every check passed (and for --help), 1 when one
// failed, 2 for a usage error.
#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host/check/checks.h"
#include "host/common/host_answers.h"
#include "host/common/host_value_json.h"
#include "host/common/plugin_library.h"
#include "sdk/platform/child_process.h"

namespace {

using namespace Korvo::Host;
using namespace Korvo::Host::Check;
using Korvo::Platform::ChildOutcome;

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr uint32_t kDefaultTimeoutSeconds = 60;
constexpr uint32_t kMostThreads = 256;
constexpr size_t kMostWarningsShown = 5;

constexpr const char* kUsage =
    "usage: plugin-check [--export NAME] [--host-answers FILE]... [--host-answer PATH=JSON]...\n"
    "                    [--check NAME]... [--timeout SECONDS] [--threads N] [--strict] [--json]\n"
    "                    LIBRARY\n"
    "  --export NAME        the library's entry point (default: from its file name)\n"
    "  --host-answers FILE  the answers of FILE, one PATH=JSON a line (its --OPTION lines\n"
    "                       are plugin-host's)\n"
    "  --host-answer P=J    answer the plug-in's request for path P with JSON J\n"
    "  --check NAME         run only this check (repeatable)\n"
    "  --timeout SECONDS    time limit of each check (default 60)\n"
    "  --threads N          threads of the concurrency check (default 8)\n"
    "  --strict             a check fails when the plug-in logs a warning or an error\n"
    "                       during it; the report shows those lines\n"
    "  --json               the report as JSON\n"
    "  --help               this text\n";

struct Options {
    CheckSettings settings;
    std::vector<std::string> only;
    uint32_t timeoutSeconds = kDefaultTimeoutSeconds;
    bool json = false;
    bool strict = false;
    bool help = false;
    std::string runCheck;  // in a child: the one check to run
    std::string resultPath;
};

bool ParseNumber(const char* text, uint32_t low, uint32_t high, uint32_t& out) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high) return false;
    out = static_cast<uint32_t>(value);
    return true;
}

bool Parse(int argc, char** argv, Options& options, std::string& error) {
    enum : int { kExport = 256, kHostAnswers, kHostAnswer, kCheck, kTimeout, kThreads, kJson, kStrict, kHelp, kRunCheck, kResult };
    static const option kOptions[] = {
        {"export", required_argument, nullptr, kExport},     {"host-answer", required_argument, nullptr, kHostAnswer},
        {"host-answers", required_argument, nullptr, kHostAnswers},
        {"check", required_argument, nullptr, kCheck},       {"timeout", required_argument, nullptr, kTimeout},
        {"threads", required_argument, nullptr, kThreads},   {"json", no_argument, nullptr, kJson},
        {"strict", no_argument, nullptr, kStrict},     {"help", no_argument, nullptr, kHelp},
        {"run-check", required_argument, nullptr, kRunCheck}, {"result", required_argument, nullptr, kResult},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    optind = 1;
    for (int code; (code = getopt_long(argc, argv, "", kOptions, nullptr)) != -1;) {
        const std::string value = optarg != nullptr ? optarg : "";
        switch (code) {
            case kExport: options.settings.exportName = value; break;
            case kHostAnswers: {
                HostAnswers file;
                if (!ReadHostAnswers(value, file, error)) return false;
                for (HostAnswer& answer : file.answers) {
                    options.settings.hostAnswers.emplace_back(std::move(answer.path), std::move(answer.json));
                }
                break;
            }
            case kHostAnswer: {
                const size_t equals = value.find('=');
                if (equals == std::string::npos || equals == 0) {
                    error = "--host-answer takes PATH=JSON, not '" + value + "'";
                    return false;
                }
                options.settings.hostAnswers.emplace_back(value.substr(0, equals), value.substr(equals + 1));
                break;
            }
            case kCheck:
                if (FindCheck(value) == nullptr) {
                    error = "no check named '" + value + "'";
                    return false;
                }
                options.only.push_back(value);
                break;
            case kTimeout:
                if (!ParseNumber(optarg, 1, 3600, options.timeoutSeconds)) {
                    error = "--timeout takes 1 to 3600 seconds";
                    return false;
                }
                break;
            case kThreads:
                if (!ParseNumber(optarg, 1, kMostThreads, options.settings.threads)) {
                    error = "--threads takes 1 to " + std::to_string(kMostThreads);
                    return false;
                }
                break;
            case kJson: options.json = true; break;
            case kStrict: options.strict = true; break;
            case kHelp: options.help = true; return true;
            case kRunCheck: options.runCheck = value; break;
            case kResult: options.resultPath = value; break;
            default:
                error = std::string("unknown or incomplete option '") + argv[optind - 1] + "'";
                return false;
        }
    }
    if (optind != argc - 1) {
        error = "one LIBRARY is required";
        return false;
    }
    options.settings.library = argv[optind];
    if (options.settings.exportName.empty()) options.settings.exportName = ExportNameFor(options.settings.library);
    return true;
}

// ---- the child: one check, its verdict written to the result file

std::string FaultReportPath(const std::string& resultPath) { return resultPath + ".fault"; }
// The child always writes them; the parent reads them under --strict.
std::string WarningsPath(const std::string& resultPath) { return resultPath + ".logged"; }

int RunChild(const Options& options) {
    const CheckInfo* check = FindCheck(options.runCheck);
    if (check == nullptr) return kExitUsage;
    Korvo::Platform::ReportFaultsTo(FaultReportPath(options.resultPath));
    RecordWarningsTo(WarningsPath(options.resultPath));
    CheckVerdict verdict;
    try {
        verdict = check->run(options.settings);
    } catch (const std::exception& exception) {
        verdict = {false, std::string("the check itself failed: ") + exception.what()};
    }
    std::ofstream result(options.resultPath, std::ios::binary | std::ios::trunc);
    result << (verdict.passed ? "pass\n" : "fail\n") << verdict.detail;
    result.close();
    return result ? kExitPassed : kExitFailed;
}

// ---- the parent

struct Report {
    std::string name;
    std::string title;
    bool passed;
    std::string detail;
};

std::string OutcomeText(const ChildOutcome& outcome, uint32_t timeoutSeconds) {
    switch (outcome.ending) {
        case ChildOutcome::Ending::Exited: return "ended the process with exit status " + std::to_string(outcome.code);
        case ChildOutcome::Ending::Crashed: {
            // Signals are small numbers; Windows exception codes are not.
            if (outcome.code <= 255) return "crashed (signal " + std::to_string(outcome.code) + ")";
            std::ostringstream code;
            code << std::uppercase << std::hex << outcome.code;
            return "crashed (exception 0x" + code.str() + ")";
        }
        case ChildOutcome::Ending::TimedOut: return "did not finish within " + std::to_string(timeoutSeconds) + " s";
        case ChildOutcome::Ending::NotStarted: return "could not start the check's process (error " +
                                                      std::to_string(outcome.code) + ")";
    }
    return "ended in an unknown way";
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

// The last lines of what the child printed, for a check that died.
std::string Tail(const std::string& text, size_t lines) {
    size_t at = text.size();
    while (at > 0 && (text[at - 1] == '\n' || text[at - 1] == '\r')) --at;
    const size_t end = at;
    for (size_t seen = 0; at > 0; --at) {
        if (text[at - 1] == '\n' && ++seen == lines) break;
    }
    return text.substr(at, end - at);
}

// How a child that wrote no verdict ended. Its own account of a fault names
// the fault and where it happened; a sanitizer may then have ended the
// process with an exit status instead of the fault's.
std::string Ending(const ChildOutcome& outcome, uint32_t timeoutSeconds, const std::string& resultPath) {
    const std::string fault = Trimmed(ReadFile(FaultReportPath(resultPath)));
    if (!fault.empty() && outcome.ending != ChildOutcome::Ending::TimedOut) return "the plug-in crashed: " + fault;
    return "the plug-in " + OutcomeText(outcome, timeoutSeconds);
}

std::filesystem::path ResultPath(const std::filesystem::path& folder, const CheckInfo& check) {
    return folder / (std::string(check.name) + ".result");
}

Report RunCheckProcess(const CheckInfo& check, const Options& options, const std::filesystem::path& folder,
                       const std::string& self) {
    const std::filesystem::path result = ResultPath(folder, check);
    const std::filesystem::path output = folder / (std::string(check.name) + ".log");
    std::vector<std::string> argv = {self, "--run-check", check.name, "--result", result.string(),
                                     "--export", options.settings.exportName,
                                     "--threads", std::to_string(options.settings.threads)};
    for (const auto& [path, json] : options.settings.hostAnswers) {
        argv.push_back("--host-answer");
        argv.push_back(path + "=" + json);
    }
    argv.push_back(options.settings.library);
    const ChildOutcome outcome =
        Korvo::Platform::RunChildProcess(argv, output.string(), options.timeoutSeconds * 1000u);

    Report report{check.name, check.title, false, {}};
    const std::string verdict = ReadFile(result);
    const bool wroteVerdict = verdict.starts_with("pass\n") || verdict.starts_with("fail\n");
    if (check.expectsProcessEnd) {
        if (wroteVerdict) {
            report.detail = verdict.substr(5);
        } else if (outcome.ending == ChildOutcome::Ending::Exited) {
            report.passed = true;
            report.detail = "the plug-in " + OutcomeText(outcome, options.timeoutSeconds);
        } else {
            report.detail = Ending(outcome, options.timeoutSeconds, result.string());
        }
        return report;
    }
    if (outcome.ending == ChildOutcome::Ending::Exited && outcome.code == 0 && wroteVerdict) {
        report.passed = verdict.starts_with("pass\n");
        report.detail = verdict.substr(5);
        return report;
    }
    report.detail = Ending(outcome, options.timeoutSeconds, result.string());
    const std::string printed = Tail(ReadFile(output), 3);
    if (!printed.empty()) report.detail += "; it printed: " + printed;
    return report;
}

// What the plug-in logged at warning or error level, as the child wrote it
// down: the first few lines, then how many more.
std::string Warnings(const std::string& resultPath) {
    std::istringstream lines(ReadFile(WarningsPath(resultPath)));
    std::string text, line;
    size_t count = 0;
    while (std::getline(lines, line)) {
        if (++count <= kMostWarningsShown) text += (text.empty() ? "" : "; ") + line;
    }
    if (count > kMostWarningsShown) text += "; and " + std::to_string(count - kMostWarningsShown) + " more";
    return text;
}

Report RunInChild(const CheckInfo& check, const Options& options, const std::filesystem::path& folder,
                  const std::string& self) {
    Report report = RunCheckProcess(check, options, folder, self);
    if (!options.strict) return report;
    const std::string warnings = Warnings(ResultPath(folder, check).string());
    if (!warnings.empty()) {
        report.passed = false;
        report.detail += "; it logged (--strict): " + warnings;
    }
    return report;
}

std::string Json(const std::string& library, const std::vector<Report>& reports, size_t passed) {
    using Korvo::Host::OwnedHostValue;
    std::vector<OwnedHostValue> checks;
    for (const Report& report : reports) {
        checks.push_back(OwnedHostValue::Object({
            {"name", OwnedHostValue::String(report.name)},
            {"title", OwnedHostValue::String(report.title)},
            {"passed", OwnedHostValue::Bool(report.passed)},
            {"detail", OwnedHostValue::String(report.detail)},
        }));
    }
    const OwnedHostValue document = OwnedHostValue::Object({
        {"library", OwnedHostValue::String(library)},
        {"checks", OwnedHostValue::Array(std::move(checks))},
        {"passed", OwnedHostValue::UInt(passed)},
        {"failed", OwnedHostValue::UInt(reports.size() - passed)},
    });
    return HostValueToJson(document.Record());
}

std::filesystem::path MakeWorkFolder() {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
        const std::filesystem::path folder = base / ("plugin-check-" + std::to_string(random()) + std::to_string(random()));
        if (std::filesystem::create_directory(folder)) return folder;
    }
}

int RunParent(const Options& options) {
    const std::string self = Korvo::Platform::MainExecutablePath();
    if (self.empty()) {
        std::fprintf(stderr, "plugin-check: cannot find its own program file\n");
        return kExitUsage;
    }
    const std::filesystem::path folder = MakeWorkFolder();
    std::vector<Report> reports;
    size_t passed = 0;
    for (const CheckInfo& check : AllChecks()) {
        if (!options.only.empty() &&
            std::find(options.only.begin(), options.only.end(), check.name) == options.only.end()) {
            continue;
        }
        reports.push_back(RunInChild(check, options, folder, self));
        const Report& report = reports.back();
        if (report.passed) ++passed;
        if (!options.json) {
            std::printf("%s %-18s %s: %s\n", report.passed ? "PASS" : "FAIL", report.name.c_str(),
                        report.title.c_str(), report.detail.c_str());
            std::fflush(stdout);
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (options.json) {
        std::printf("%s\n", Json(options.settings.library, reports, passed).c_str());
    } else {
        std::printf("%zu passed, %zu failed\n", passed, reports.size() - passed);
    }
    return passed == reports.size() ? kExitPassed : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        Options options;
        std::string error;
        if (!Parse(argc, argv, options, error)) {
            std::fprintf(stderr, "plugin-check: %s\n%s", error.c_str(), kUsage);
            return kExitUsage;
        }
        if (options.help) {
            std::fputs(kUsage, stdout);
            return kExitPassed;
        }
        return options.runCheck.empty() ? RunParent(options) : RunChild(options);
    } catch (const std::exception& exception) {
        std::fprintf(stderr, "plugin-check: %s\n", exception.what());
        return kExitUsage;
    }
}
