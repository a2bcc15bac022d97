// The global operator new and delete of every binary the SDK is linked into,
// over the counted allocation layer, so that the library's own containers and
// strings show up in the host's memory statistics.
//
// This file is linked into final binaries (the plug-in library, tests, tools)
// as an object, not through the static library: a replacement pulled from an
// archive would depend on link order.
#include <cstddef>
#include <cstdint>
#include <new>

#include "sdk/allocation/allocation.h"

namespace {

void* AllocateOrThrow(std::size_t size) {
    if (size == 0) size = 1;
    for (;;) {
        void* block = Korvo::Memory::Allocate(size);
        if (block != nullptr) return block;
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void* AllocateNoThrow(std::size_t size) noexcept {
    try {
        return AllocateOrThrow(size);
    } catch (...) {
        return nullptr;
    }
}

// Aligned blocks keep the address the layer returned in the word before the
// aligned address.
void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
    auto align = static_cast<std::size_t>(alignment);
    if (align < alignof(void*)) align = alignof(void*);
    if (size > SIZE_MAX - align - sizeof(void*)) throw std::bad_alloc();
    void* raw = AllocateOrThrow(size + align + sizeof(void*));
    auto start = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
    std::uintptr_t aligned = (start + align - 1) & ~(std::uintptr_t{align} - 1);
    reinterpret_cast<void**>(aligned)[-1] = raw;
    return reinterpret_cast<void*>(aligned);
}

void FreeAligned(void* block) noexcept {
    if (block != nullptr) Korvo::Memory::Free(static_cast<void**>(block)[-1]);
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateNoThrow(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateNoThrow(size); }
void operator delete(void* block) noexcept { Korvo::Memory::Free(block); }
void operator delete[](void* block) noexcept { Korvo::Memory::Free(block); }
void operator delete(void* block, std::size_t) noexcept { Korvo::Memory::Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Korvo::Memory::Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Korvo::Memory::Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Korvo::Memory::Free(block); }

void* operator new(std::size_t size, std::align_val_t alignment) { return AllocateAligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return AllocateAligned(size, alignment); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return AllocateAligned(size, alignment);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t& tag) noexcept {
    return operator new(size, alignment, tag);
}
void operator delete(void* block, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete[](void* block, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(block); }
