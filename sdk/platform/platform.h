// sdk/platform/platform.h - the operating-system services the SDK uses.
//
// This header is the one place that knows there is an operating system
// below: nothing else in the SDK includes a system header for these
// services. There are two implementations, platform_posix.cpp and
// platform_win32.cpp; exactly one is built into any binary.
//
// Every function here may be called from any thread unless its comment says
// otherwise, and none of them throws.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Korvo::Platform {

// A lock that its owning thread may take again (a critical section on
// Windows). Not copyable; destroying it while held is undefined.
class RecursiveLock {
public:
    RecursiveLock() noexcept;
    ~RecursiveLock();
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;

    void Lock() noexcept;
    void Unlock() noexcept;

    // BasicLockable spelling so std::lock_guard and std::scoped_lock work.
    void lock() noexcept { Lock(); }
    void unlock() noexcept { Unlock(); }

private:
    // Large enough for a CRITICAL_SECTION or a pthread mutex on either
    // pointer width; each implementation static_asserts that it fits.
    alignas(8) unsigned char storage_[64];
};

// Local wall-clock time, the seven fields the logger prints.
struct LocalTime {
    int32_t year;
    int32_t month;        // 1..12
    int32_t day;          // 1..31
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t millisecond;
};

LocalTime GetLocalTime() noexcept;

// UTC system time since 1970-01-01T00:00:00.
int64_t SystemTimeMilliseconds() noexcept;
int64_t SystemTimeTicks100ns() noexcept;  // 100-nanosecond ticks
// The same to the finest resolution the system keeps (on Windows the
// precise system time where there is one; SystemTimeTicks100ns there moves
// in whole milliseconds).
int64_t PreciseSystemTimeTicks100ns() noexcept;

// Monotonic high-resolution counter and its ticks per second.
int64_t PerformanceCounter() noexcept;
int64_t PerformanceFrequency() noexcept;

// The calling thread's id as the operating system numbers it.
uint32_t CurrentThreadId() noexcept;

// Writes the file name (the part after the last path separator) of the
// process's main executable into buffer, NUL-terminated and cut to fit.
// Returns the length written, 0 when it cannot be found.
size_t MainExecutableFileName(char* buffer, size_t size) noexcept;

// Text for an attached debugger. On Windows this is OutputDebugStringA; POSIX
// has no such channel, so the text goes to a process-wide sink that writes
// nothing unless a test or tool installs one.
void DebuggerOutput(const char* text) noexcept;
using DebuggerSink = void (*)(const char* text, void* context);
// Installs sink (null restores the silent default); returns the previous one.
DebuggerSink SetDebuggerSink(DebuggerSink sink, void* context) noexcept;

// Address-space blocks of kBlockSize bytes, committed, read-write, aligned to
// kBlockSize. Null when the system refuses. Release only what Reserve gave.
inline constexpr size_t kBlockSize = 0x10000;
void* ReserveBlock() noexcept;
void ReleaseBlock(void* block) noexcept;

// Run-time loading. LoadSharedLibrary takes a UTF-8 path (or a bare name the
// system searches for) and returns null when it cannot load it.
void* LoadSharedLibrary(const char* path) noexcept;
void* FindSymbol(void* library, const char* name) noexcept;
void UnloadSharedLibrary(void* library) noexcept;

// The system's event-tracing service, as a library handle for FindSymbol
// (EventRegister, EventWrite, EventUnregister), or null where there is none.
// On Windows it is Advapi32.dll, loaded on first call and never unloaded
// (unloading it while an image unloads is not safe). Other systems have no
// such service: the names are looked up in the host process's own global
// symbols, where an ordinary host defines none, so tracing stays off, and a
// test host can stand in for the service by exporting them.
void* OpenTracingService() noexcept;

// What the process has mapped: its regions of committed or mapped memory
// and their bytes, as the system counts them. Zeros when it cannot tell.
struct AddressSpaceUsage {
    size_t regions;
    uint64_t bytes;
};
AddressSpaceUsage ReadAddressSpaceUsage() noexcept;

// Usable size of a block that the C runtime's malloc family returned; 0 for
// null.
size_t UsableSize(void* block) noexcept;

// Ends the process at once with the given exit code, without running static
// destructors or returning to the caller.
[[noreturn]] void TerminateProcess(int exitCode) noexcept;

}  // namespace Korvo::Platform
