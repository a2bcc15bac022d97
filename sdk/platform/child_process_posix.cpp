#include "sdk/platform/child_process.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <ucontext.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
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

// ---- the child's fault report. Everything the handler does is
// async-signal-safe but for dladdr, which reads the loader's tables and is
// what every crash reporter on this system relies on.

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};
int faultFile = -1;
struct sigaction previousActions[sizeof(kFaultSignals) / sizeof(kFaultSignals[0])];
// A stack of its own, so that a stack overflow is reported too.
alignas(16) char faultStack[64 * 1024];

const char* SignalName(int signal) {
    switch (signal) {
        case SIGSEGV: return "SIGSEGV";
        case SIGBUS: return "SIGBUS";
        case SIGILL: return "SIGILL";
        case SIGFPE: return "SIGFPE";
        case SIGABRT: return "SIGABRT";
        case SIGTRAP: return "SIGTRAP";
        case SIGSYS: return "SIGSYS";
    }
    return "signal";
}

// A line built without the heap or stdio.
class FaultLine {
public:
    FaultLine& Text(const char* text) {
        while (*text != '\0' && length_ < sizeof(text_)) text_[length_++] = *text++;
        return *this;
    }
    FaultLine& Decimal(unsigned long value) {
        char digits[24];
        size_t count = 0;
        do digits[count++] = static_cast<char>('0' + value % 10); while ((value /= 10) != 0);
        while (count > 0 && length_ < sizeof(text_)) text_[length_++] = digits[--count];
        return *this;
    }
    FaultLine& Hex(uintptr_t value) {
        Text("0x");
        char digits[2 * sizeof(value)];
        size_t count = 0;
        do digits[count++] = "0123456789abcdef"[value & 15]; while ((value >>= 4) != 0);
        while (count > 0 && length_ < sizeof(text_)) text_[length_++] = digits[--count];
        return *this;
    }
    void WriteTo(int file) {
        size_t written = 0;
        while (written < length_) {
            const ssize_t result = write(file, text_ + written, length_ - written);
            if (result < 0 && errno == EINTR) continue;
            if (result <= 0) return;
            written += static_cast<size_t>(result);
        }
    }

private:
    char text_[512];
    size_t length_ = 0;
};

uintptr_t FaultingInstruction(const void* context) {
    const auto* user = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(user->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<uintptr_t>(user->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(user->uc_mcontext.pc);
#else
    (void)user;
    return 0;
#endif
}

void OnFault(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    FaultLine line;
    line.Text("signal ").Decimal(static_cast<unsigned long>(signal)).Text(" (").Text(SignalName(signal)).Text(")");
    if (signal == SIGSEGV || signal == SIGBUS) line.Text(", address ").Hex(reinterpret_cast<uintptr_t>(info->si_addr));
    const uintptr_t instruction = context != nullptr ? FaultingInstruction(context) : 0;
    Dl_info module{};
    if (instruction != 0 && dladdr(reinterpret_cast<void*>(instruction), &module) != 0 &&
        module.dli_fname != nullptr) {
        const char* name = std::strrchr(module.dli_fname, '/');
        line.Text(", in ").Text(name != nullptr ? name + 1 : module.dli_fname).Text("+");
        line.Hex(instruction - reinterpret_cast<uintptr_t>(module.dli_fbase));
    } else if (instruction != 0) {
        line.Text(", at ").Hex(instruction);
    }
    line.Text("\n");
    line.WriteTo(faultFile);

    // The handler that was there before (the default action, or a
    // sanitizer's report) then deals with the fault as it would have: a
    // fault raised by an instruction is raised again when the handler
    // returns, one sent by a process or by abort() is sent again here.
    size_t index = 0;
    while (kFaultSignals[index] != signal) ++index;
    sigaction(signal, &previousActions[index], nullptr);
    if (info->si_code <= 0) raise(signal);
    errno = savedErrno;
}

}  // namespace

bool ReportFaultsTo(const std::string& path) {
    faultFile = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (faultFile < 0) return false;
    stack_t stack{};
    stack.ss_sp = faultStack;
    stack.ss_size = sizeof(faultStack);
    sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (size_t index = 0; index < sizeof(kFaultSignals) / sizeof(kFaultSignals[0]); ++index) {
        sigaction(kFaultSignals[index], &action, &previousActions[index]);
    }
    return true;
}

}  // namespace Korvo::Platform
