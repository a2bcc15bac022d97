// POSIX implementation of sdk/platform/platform.h.
#include "sdk/platform/platform.h"

#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "sdk/platform/platform_shared.h"

namespace Korvo::Platform {

namespace {

pthread_mutex_t* Mutex(unsigned char* storage) {
    return reinterpret_cast<pthread_mutex_t*>(storage);
}

}  // namespace

RecursiveLock::RecursiveLock() noexcept {
    static_assert(sizeof(pthread_mutex_t) <= sizeof(storage_));
    static_assert(alignof(pthread_mutex_t) <= 8);
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (storage_) pthread_mutex_t, &attr);
    pthread_mutexattr_destroy(&attr);
}

RecursiveLock::~RecursiveLock() { pthread_mutex_destroy(Mutex(storage_)); }

void RecursiveLock::Lock() noexcept {
    if (pthread_mutex_lock(Mutex(storage_)) != 0) TerminateProcess(70);
}

void RecursiveLock::Unlock() noexcept {
    if (pthread_mutex_unlock(Mutex(storage_)) != 0) TerminateProcess(70);
}

LocalTime GetLocalTime() noexcept {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    localtime_r(&now.tv_sec, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                     parts.tm_min,         parts.tm_sec,     static_cast<int32_t>(now.tv_nsec / 1000000)};
}

int64_t SystemTimeTicks100ns() noexcept {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

int64_t PreciseSystemTimeTicks100ns() noexcept { return SystemTimeTicks100ns(); }

int64_t SystemTimeMilliseconds() noexcept { return SystemTimeTicks100ns() / 10000; }

int64_t PerformanceCounter() noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t PerformanceFrequency() noexcept { return 1000000000; }

uint32_t CurrentThreadId() noexcept { return static_cast<uint32_t>(syscall(SYS_gettid)); }

size_t MainExecutableFileName(char* buffer, size_t size) noexcept {
    if (buffer == nullptr || size == 0) return 0;
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    path[length] = '\0';
    return detail::CopyFileName(path, '/', buffer, size);
}

void DebuggerOutput(const char* text) noexcept {
    if (text == nullptr) return;
    detail::CallDebuggerSink(text);
}

void* ReserveBlock() noexcept {
    // Over-reserve, then trim to an aligned block so the result meets the
    // same alignment as VirtualAlloc's 64 KiB granularity.
    const size_t span = kBlockSize * 2;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    auto start = reinterpret_cast<uintptr_t>(raw);
    uintptr_t aligned = (start + kBlockSize - 1) & ~(uintptr_t{kBlockSize} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    uintptr_t end = start + span;
    if (end > aligned + kBlockSize) munmap(reinterpret_cast<void*>(aligned + kBlockSize), end - aligned - kBlockSize);
    return reinterpret_cast<void*>(aligned);
}

void ReleaseBlock(void* block) noexcept {
    if (block != nullptr) munmap(block, kBlockSize);
}

void* LoadSharedLibrary(const char* path) noexcept {
    if (path == nullptr) return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* FindSymbol(void* library, const char* name) noexcept {
    if (library == nullptr || name == nullptr) return nullptr;
    return dlsym(library, name);
}

void UnloadSharedLibrary(void* library) noexcept {
    if (library != nullptr) dlclose(library);
}

void* OpenTracingService() noexcept { return dlopen(nullptr, RTLD_NOW); }

AddressSpaceUsage ReadAddressSpaceUsage() noexcept {
    AddressSpaceUsage usage{0, 0};
    FILE* maps = std::fopen("/proc/self/maps", "r");
    if (maps == nullptr) return usage;
    char line[512];
    while (std::fgets(line, sizeof line, maps) != nullptr) {
        // Lines longer than the buffer come in pieces; only a piece that
        // starts a line begins with the range.
        unsigned long long start = 0;
        unsigned long long end = 0;
        if (std::sscanf(line, "%llx-%llx ", &start, &end) == 2 && end > start) {
            ++usage.regions;
            usage.bytes += end - start;
        }
        while (std::strchr(line, '\n') == nullptr && std::fgets(line, sizeof line, maps) != nullptr) {
        }
    }
    std::fclose(maps);
    return usage;
}

size_t UsableSize(void* block) noexcept { return block ? malloc_usable_size(block) : 0; }

void TerminateProcess(int exitCode) noexcept { _exit(exitCode); }

}  // namespace Korvo::Platform
