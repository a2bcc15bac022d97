// bench/tree_memory.h - the memory a document's tree holds, beside the memory
// a RapidJSON Document holds for the same document. Shared by the memory
// benchmarks of korvo_bench and by tree_bytes (tree_bytes_32bit.sh), which
// reports the same figures for a 32-bit build.
//   ours      everything the tree keeps: the heap bytes the allocation
//             counters see while the result lives (usable sizes), plus the
//             4096-byte pool pages its arena holds (those come from the
//             platform's block reservations, which the counters do not see);
//   Document  the usable sizes of the blocks its allocators hold after Parse
//             (its parse stack is gone by then, as ReadJson's is).
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "sdk/allocation/allocation.h"
#include "sdk/formats/json_reader.h"
#include "sdk/platform/platform.h"
#include "sdk/values/property_arena.h"

namespace KorvoBench {

struct TreeBytes {
    int64_t counted = 0;  // heap bytes the counters see
    int64_t pool = 0;     // pool pages the arena holds
    int64_t Total() const { return counted + pool; }
};

inline int64_t CountedBytesInUse() {
    const Korvo::Memory::MemoryStats stats = Korvo::Memory::ReadCounters(Korvo::Memory::ProcessCounters());
    return static_cast<int64_t>(stats.bytesAllocated) - static_cast<int64_t>(stats.bytesFreed);
}

// The bytes the tree ReadJson builds from text holds; call passes the
// result on while it lives (a benchmark keeps it from being optimised out).
template <typename Use>
TreeBytes MeasureTree(const std::string& text, Use&& use) {
    TreeBytes bytes;
    const int64_t before = CountedBytesInUse();
    Korvo::BindingResult result = Korvo::ReadJson(text);
    bytes.counted = CountedBytesInUse() - before;
    const Korvo::PropertyArena* arena = result.Value().Arena();
    bytes.pool = arena != nullptr ? static_cast<int64_t>(arena->PagesHeld() * Korvo::PropertyArena::kPageSize) : 0;
    use(result);
    return bytes;
}

// RapidJSON's base allocator concept over malloc, keeping the usable bytes
// it has out.
inline int64_t gRapidJsonBytes = 0;

struct CountingCrtAllocator {
    static const bool kNeedFree = true;
    void* Malloc(size_t size) {
        if (size == 0) return nullptr;
        void* block = std::malloc(size);
        gRapidJsonBytes += static_cast<int64_t>(Korvo::Platform::UsableSize(block));
        return block;
    }
    void* Realloc(void* block, size_t, size_t newSize) {
        if (newSize == 0) {
            Free(block);
            return nullptr;
        }
        gRapidJsonBytes -= static_cast<int64_t>(Korvo::Platform::UsableSize(block));
        void* grown = std::realloc(block, newSize);
        gRapidJsonBytes += static_cast<int64_t>(Korvo::Platform::UsableSize(grown));
        return grown;
    }
    static void Free(void* block) {
        if (block == nullptr) return;
        gRapidJsonBytes -= static_cast<int64_t>(Korvo::Platform::UsableSize(block));
        std::free(block);
    }
};

using CountedDocument =
    rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<CountingCrtAllocator>,
                               CountingCrtAllocator>;

// The bytes a Document of text holds after Parse; -1 when it fails.
template <typename Use>
int64_t MeasureRapidJsonDocument(const std::string& text, Use&& use) {
    const int64_t before = gRapidJsonBytes;
    CountedDocument document;
    document.Parse(text.c_str());
    if (document.HasParseError()) return -1;
    const int64_t held = gRapidJsonBytes - before;
    use(document);
    return held;
}

}  // namespace KorvoBench
