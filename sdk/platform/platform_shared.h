// sdk/platform/platform_shared.h - what every system's implementation of
// sdk/platform/platform.h shares. Private to korvo_platform.
#pragma once

#include <cstddef>

namespace Korvo::Platform::detail {

// Calls the sink installed by SetDebuggerSink, if any, with text: each
// system's DebuggerOutput hands its text on here after its own channel (if it
// has one). The sink runs outside the lock, so it may install another sink.
void CallDebuggerSink(const char* text);

// Copies the last part of path (after the last separator, or all of it)
// into buffer, cut to size - 1 bytes and NUL-terminated; returns its length.
// buffer is not null and size is not 0.
size_t CopyFileName(const char* path, char separator, char* buffer, size_t size) noexcept;

}  // namespace Korvo::Platform::detail
