#include "tests/devhost/plugin_host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

extern char** environ;

namespace Korvo::Host::Testing {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(20);
constexpr int kSignalBase = 128;
constexpr const char* kListening = "plugin-host: listening on http://";

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string TemporaryPath(const char* suffix) {
    static std::mt19937_64 random{std::random_device{}()};
    return (std::filesystem::temp_directory_path() / ("plugin-host-" + std::to_string(random()) + suffix)).string();
}

// The child's environment: the test's own, except that leak checking is off
// in it. The plug-in library keeps a process-wide page pool in static
// storage that it never frees, and what that pool still holds becomes
// unreachable when the host unloads the library; the host code itself is
// leak-checked in-process by the unit tests.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> variables;
    std::string asan = "ASAN_OPTIONS=detect_leaks=0";
    for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
        std::string text = *variable;
        if (text.rfind("ASAN_OPTIONS=", 0) == 0) {
            asan = text + ":detect_leaks=0";
            continue;
        }
        variables.push_back(text);
    }
    variables.push_back(asan);
    return variables;
}

}  // namespace

PluginHostProcess::PluginHostProcess(const std::string& program, const std::vector<std::string>& arguments)
    : outputPath_(TemporaryPath(".out")), errorPath_(TemporaryPath(".err")) {
    std::vector<std::string> texts{program};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = ChildEnvironment();
    std::vector<char*> envp;
    for (std::string& text : environment) envp.push_back(text.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errorPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
}

PluginHostProcess::~PluginHostProcess() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        WaitForExit();
    }
    std::error_code ignored;
    std::filesystem::remove(outputPath_, ignored);
    std::filesystem::remove(errorPath_, ignored);
}

int PluginHostProcess::WaitForPort(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string output = Output();
        size_t at = output.find(kListening);
        size_t end = at == std::string::npos ? at : output.find('\n', at);
        if (end != std::string::npos) {
            size_t colon = output.rfind(':', end);
            return std::stoi(output.substr(colon + 1, end - colon - 1));
        }
        if (WaitForExit(std::chrono::milliseconds(0))) return -1;
        std::this_thread::sleep_for(kPoll);
    }
    return -1;
}

void PluginHostProcess::Terminate() {
    if (pid_ > 0 && !status_) kill(pid_, SIGTERM);
}

void PluginHostProcess::Interrupt() {
    if (pid_ > 0 && !status_) kill(pid_, SIGINT);
}

std::optional<int> PluginHostProcess::WaitForExit(std::chrono::milliseconds timeout) {
    if (status_ || pid_ <= 0) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : kSignalBase + WTERMSIG(status);
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(kPoll);
    }
}

std::string PluginHostProcess::Output() const { return ReadFile(outputPath_); }

std::string PluginHostProcess::Errors() const { return ReadFile(errorPath_); }

}  // namespace Korvo::Host::Testing
