#include "sdk/platform/child_process.h"

#include <windows.h>

namespace Korvo::Platform {

namespace {

// One argument as the C runtime's command-line parser reads it back:
// quoted, with backslashes doubled where they precede a quote.
void AppendQuoted(std::string& line, const std::string& argument) {
    line += '"';
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

// Exit codes from this value up are exception codes: the child crashed.
constexpr DWORD kFirstExceptionCode = 0xC0000000u;

}  // namespace

ChildOutcome RunChildProcess(const std::vector<std::string>& argv, const std::string& outputPath,
                             uint32_t timeoutMilliseconds) {
    if (argv.empty()) return {ChildOutcome::Ending::NotStarted, ERROR_INVALID_PARAMETER};
    std::string line;
    for (const std::string& argument : argv) {
        if (!line.empty()) line += ' ';
        AppendQuoted(line, argument);
    }

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE output = ::CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) return {ChildOutcome::Ending::NotStarted, ::GetLastError()};

    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    // The child inherits the error mode: a crash ends it instead of waiting
    // for someone to close a dialog.
    const UINT previousMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    const BOOL started = ::CreateProcessA(argv[0].c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                          nullptr, nullptr, &startup, &process);
    const DWORD startError = ::GetLastError();
    ::SetErrorMode(previousMode);
    ::CloseHandle(output);
    if (!started) return {ChildOutcome::Ending::NotStarted, startError};

    ChildOutcome outcome;
    if (::WaitForSingleObject(process.hProcess, timeoutMilliseconds) == WAIT_TIMEOUT) {
        ::TerminateProcess(process.hProcess, 1);
        ::WaitForSingleObject(process.hProcess, INFINITE);
        outcome = {ChildOutcome::Ending::TimedOut, 0};
    } else {
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        outcome = {code >= kFirstExceptionCode ? ChildOutcome::Ending::Crashed : ChildOutcome::Ending::Exited, code};
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return outcome;
}

std::string MainExecutablePath() {
    char path[MAX_PATH * 4];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    if (length == 0 || length >= sizeof(path)) return {};
    return std::string(path, length);
}

}  // namespace Korvo::Platform
