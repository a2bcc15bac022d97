// Win32 implementation of sdk/platform/platform.h.
#include "sdk/platform/platform.h"

#include <windows.h>

#include <malloc.h>

#include <atomic>
#include <cstring>
#include <new>

#include "sdk/platform/platform_shared.h"

namespace Korvo::Platform {

namespace {

CRITICAL_SECTION* Section(unsigned char* storage) {
    return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

// Windows counts 100-ns ticks from 1601; the SDK counts from 1970.
constexpr int64_t kTicksFrom1601To1970 = 116444736000000000LL;

}  // namespace

RecursiveLock::RecursiveLock() noexcept {
    static_assert(sizeof(CRITICAL_SECTION) <= sizeof(storage_));
    InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}

RecursiveLock::~RecursiveLock() { DeleteCriticalSection(Section(storage_)); }

void RecursiveLock::Lock() noexcept { EnterCriticalSection(Section(storage_)); }

void RecursiveLock::Unlock() noexcept { LeaveCriticalSection(Section(storage_)); }

LocalTime GetLocalTime() noexcept {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

int64_t SystemTimeTicks100ns() noexcept {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    FILETIME ticks;
    ::SystemTimeToFileTime(&now, &ticks);
    ULARGE_INTEGER value;
    value.LowPart = ticks.dwLowDateTime;
    value.HighPart = ticks.dwHighDateTime;
    return static_cast<int64_t>(value.QuadPart) - kTicksFrom1601To1970;
}

int64_t PreciseSystemTimeTicks100ns() noexcept {
    // GetSystemTimePreciseAsFileTime exists from Windows 8 on; older systems
    // get the system time as the clock interrupt last set it.
    using ReadFileTime = void(WINAPI*)(LPFILETIME);
    static const ReadFileTime read = [] {
        HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        auto precise = kernel ? reinterpret_cast<ReadFileTime>(
                                    reinterpret_cast<void*>(::GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime")))
                              : nullptr;
        return precise ? precise : &::GetSystemTimeAsFileTime;
    }();
    FILETIME ticks;
    read(&ticks);
    ULARGE_INTEGER value;
    value.LowPart = ticks.dwLowDateTime;
    value.HighPart = ticks.dwHighDateTime;
    return static_cast<int64_t>(value.QuadPart) - kTicksFrom1601To1970;
}

int64_t SystemTimeMilliseconds() noexcept { return SystemTimeTicks100ns() / 10000; }

int64_t PerformanceCounter() noexcept {
    LARGE_INTEGER value;
    ::QueryPerformanceCounter(&value);
    return value.QuadPart;
}

int64_t PerformanceFrequency() noexcept {
    LARGE_INTEGER value;
    ::QueryPerformanceFrequency(&value);
    return value.QuadPart;
}

uint32_t CurrentThreadId() noexcept { return ::GetCurrentThreadId(); }

size_t MainExecutableFileName(char* buffer, size_t size) noexcept {
    if (buffer == nullptr || size == 0) return 0;
    char path[1024];
    DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    if (length == 0 || length >= sizeof(path)) {
        buffer[0] = '\0';
        return 0;
    }
    path[length] = '\0';
    return detail::CopyFileName(path, '\\', buffer, size);
}

void DebuggerOutput(const char* text) noexcept {
    if (text == nullptr) return;
    ::OutputDebugStringA(text);
    detail::CallDebuggerSink(text);
}

void* ReserveBlock() noexcept {
    return ::VirtualAlloc(nullptr, kBlockSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void ReleaseBlock(void* block) noexcept {
    if (block != nullptr) ::VirtualFree(block, 0, MEM_RELEASE);
}

void* LoadSharedLibrary(const char* path) noexcept {
    if (path == nullptr) return nullptr;
    int wideLength = ::MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    if (wideLength <= 0 || wideLength > 32768) return nullptr;
    wchar_t wide[32768];
    if (::MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, wideLength) <= 0) return nullptr;
    return reinterpret_cast<void*>(::LoadLibraryW(wide));
}

void* FindSymbol(void* library, const char* name) noexcept {
    if (library == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadSharedLibrary(void* library) noexcept {
    if (library != nullptr) ::FreeLibrary(static_cast<HMODULE>(library));
}

void* OpenTracingService() noexcept { return reinterpret_cast<void*>(::LoadLibraryW(L"Advapi32.dll")); }

AddressSpaceUsage ReadAddressSpaceUsage() noexcept {
    AddressSpaceUsage usage{0, 0};
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    auto address = reinterpret_cast<uintptr_t>(system.lpMinimumApplicationAddress);
    const auto last = reinterpret_cast<uintptr_t>(system.lpMaximumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (address < last && ::VirtualQuery(reinterpret_cast<void*>(address), &region, sizeof region) != 0) {
        if (region.State == MEM_COMMIT) {
            ++usage.regions;
            usage.bytes += region.RegionSize;
        }
        const uintptr_t next = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return usage;
}

size_t UsableSize(void* block) noexcept { return block ? _msize(block) : 0; }

void TerminateProcess(int exitCode) noexcept { ::ExitProcess(static_cast<UINT>(exitCode)); }

}  // namespace Korvo::Platform
