#include "sdk/platform/child_process.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

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

// ---- the child's fault report

namespace {

HANDLE faultFile = INVALID_HANDLE_VALUE;

const char* ExceptionName(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION: return "EXCEPTION_ACCESS_VIOLATION";
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
        case EXCEPTION_BREAKPOINT: return "EXCEPTION_BREAKPOINT";
        case EXCEPTION_DATATYPE_MISALIGNMENT: return "EXCEPTION_DATATYPE_MISALIGNMENT";
        case EXCEPTION_FLT_DENORMAL_OPERAND: return "EXCEPTION_FLT_DENORMAL_OPERAND";
        case EXCEPTION_FLT_DIVIDE_BY_ZERO: return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
        case EXCEPTION_FLT_INEXACT_RESULT: return "EXCEPTION_FLT_INEXACT_RESULT";
        case EXCEPTION_FLT_INVALID_OPERATION: return "EXCEPTION_FLT_INVALID_OPERATION";
        case EXCEPTION_FLT_OVERFLOW: return "EXCEPTION_FLT_OVERFLOW";
        case EXCEPTION_FLT_STACK_CHECK: return "EXCEPTION_FLT_STACK_CHECK";
        case EXCEPTION_FLT_UNDERFLOW: return "EXCEPTION_FLT_UNDERFLOW";
        case EXCEPTION_ILLEGAL_INSTRUCTION: return "EXCEPTION_ILLEGAL_INSTRUCTION";
        case EXCEPTION_IN_PAGE_ERROR: return "EXCEPTION_IN_PAGE_ERROR";
        case EXCEPTION_INT_DIVIDE_BY_ZERO: return "EXCEPTION_INT_DIVIDE_BY_ZERO";
        case EXCEPTION_INT_OVERFLOW: return "EXCEPTION_INT_OVERFLOW";
        case EXCEPTION_INVALID_DISPOSITION: return "EXCEPTION_INVALID_DISPOSITION";
        case EXCEPTION_NONCONTINUABLE_EXCEPTION: return "EXCEPTION_NONCONTINUABLE_EXCEPTION";
        case EXCEPTION_PRIV_INSTRUCTION: return "EXCEPTION_PRIV_INSTRUCTION";
        case EXCEPTION_SINGLE_STEP: return "EXCEPTION_SINGLE_STEP";
        case EXCEPTION_STACK_OVERFLOW: return "EXCEPTION_STACK_OVERFLOW";
        case 0xC0000374u: return "STATUS_HEAP_CORRUPTION";
        case 0xC0000409u: return "STATUS_STACK_BUFFER_OVERRUN";
        case 0xE06D7363u: return "a C++ exception of the Microsoft runtime";
    }
    return "an exception";
}

// The module an address lies in, and the offset in it: what a debugger
// needs to find the function in that module's symbols.
void DescribeAddress(const void* address, char* out, size_t size) {
    HMODULE module = nullptr;
    char path[MAX_PATH] = "";
    if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             static_cast<LPCSTR>(address), &module) &&
        ::GetModuleFileNameA(module, path, sizeof(path)) != 0) {
        const char* name = path;
        for (const char* at = path; *at != '\0'; ++at) {
            if (*at == '\\' || *at == '/') name = at + 1;
        }
        std::snprintf(out, size, "in %s+0x%lx", name,
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address) -
                                                 reinterpret_cast<uintptr_t>(module)));
    } else {
        std::snprintf(out, size, "at 0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address)));
    }
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    char where[MAX_PATH + 64];
    DescribeAddress(record->ExceptionAddress, where, sizeof(where));
    char access[64] = "";
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
        const ULONG_PTR kind = record->ExceptionInformation[0];
        std::snprintf(access, sizeof(access), ", %s address 0x%llx",
                      kind == 0 ? "reading" : kind == 8 ? "executing" : "writing",
                      static_cast<unsigned long long>(record->ExceptionInformation[1]));
    }
    char line[sizeof(where) + 192];
    const int length = std::snprintf(line, sizeof(line), "exception 0x%08lX (%s)%s, %s\r\n",
                                     static_cast<unsigned long>(record->ExceptionCode),
                                     ExceptionName(record->ExceptionCode), access, where);
    DWORD written = 0;
    if (length > 0) ::WriteFile(faultFile, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    // The process ends with the exception code as its exit code, as it
    // would without this filter, but without the debugger or dialog.
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

bool ReportFaultsTo(const std::string& path) {
    faultFile = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (faultFile == INVALID_HANDLE_VALUE) return false;
    // Without these the system would look for a debugger before the filter
    // is asked: Wine's prints its crash text into the child's output.
    ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::SetUnhandledExceptionFilter(OnUnhandledException);
    return true;
}

}  // namespace Korvo::Platform
