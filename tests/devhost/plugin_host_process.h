// tests/devhost/plugin_host_process.h - runs plugin-host as a child process
// for end-to-end tests: started with given arguments, its standard output and
// error captured in files, signalled, and waited for.
//
// POSIX only, like the development host itself (built for native targets
// only). The product never starts processes, so the platform layer offers
// none; this test helper is the one place that does.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace Korvo::Host::Testing {

class PluginHostProcess {
public:
    // Starts program with arguments (program name excluded).
    PluginHostProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~PluginHostProcess();
    PluginHostProcess(const PluginHostProcess&) = delete;
    PluginHostProcess& operator=(const PluginHostProcess&) = delete;

    bool Started() const noexcept { return pid_ > 0; }
    // Waits for "plugin-host: listening on http://ADDRESS:PORT" on standard
    // output; the port, or -1 when it does not come (the process ended or
    // the time ran out).
    int WaitForPort(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    void Terminate();  // SIGTERM
    void Interrupt();  // SIGINT
    // The exit status (128 + n after signal n), or nothing on a timeout.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(60));

    std::string Output() const;  // standard output so far
    std::string Errors() const;  // standard error so far

private:
    int pid_ = -1;
    std::optional<int> status_;
    std::string outputPath_;
    std::string errorPath_;
};

}  // namespace Korvo::Host::Testing
