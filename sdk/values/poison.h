// sdk/values/poison.h - marks released arena memory for AddressSanitizer,
// so that a read or write through a stale pointer into a released cell or
// page fails loudly in the sanitizer build. Elsewhere the marks cost nothing.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define KORVO_HAS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVO_HAS_ASAN 1
#endif
#endif

#if defined(KORVO_HAS_ASAN)
#include <sanitizer/asan_interface.h>
#define KORVO_POISON(address, size) __asan_poison_memory_region((address), (size))
#define KORVO_UNPOISON(address, size) __asan_unpoison_memory_region((address), (size))
#else
#define KORVO_POISON(address, size) ((void)(address), (void)(size))
#define KORVO_UNPOISON(address, size) ((void)(address), (void)(size))
#endif
