#include "sdk/platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace Korvo::Platform {

namespace {

// How often a running child is looked at; the time limit is the only clock
// that decides anything here, and it only ends a child that overran it.
constexpr std::chrono::milliseconds kPollInterval{5};

ChildOutcome OutcomeOf(int status) {
    if (WIFEXITED(status)) return {ChildOutcome::Ending::Exited, static_cast<uint32_t>(WEXITSTATUS(status))};
    if (WIFSIGNALED(status)) return {ChildOutcome::Ending::Crashed, static_cast<uint32_t>(WTERMSIG(status))};
    return {ChildOutcome::Ending::Crashed, 0};
}

}  // namespace

ChildOutcome RunChildProcess(const std::vector<std::string>& argv, const std::string& outputPath,
                             uint32_t timeoutMilliseconds) {
    if (argv.empty()) return {ChildOutcome::Ending::NotStarted, static_cast<uint32_t>(EINVAL)};
    std::vector<char*> arguments;
    arguments.reserve(argv.size() + 1);
    for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t child = 0;
    const int started = posix_spawn(&child, argv[0].c_str(), &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return {ChildOutcome::Ending::NotStarted, static_cast<uint32_t>(started)};

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child) return OutcomeOf(status);
        if (ended < 0 && errno != EINTR) return {ChildOutcome::Ending::Crashed, 0};
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(kPollInterval);
    }
    kill(child, SIGKILL);
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return {ChildOutcome::Ending::TimedOut, 0};
}

std::string MainExecutablePath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return {};
    return std::string(path, static_cast<size_t>(length));
}

}  // namespace Korvo::Platform
