// What every system's implementation of sdk/platform/platform.h shares.
#include "sdk/platform/platform_shared.h"

#include <cstring>
#include <mutex>

#include "sdk/platform/platform.h"

namespace Korvo::Platform {

namespace {

// The sink and its context change together; output copies both under the
// lock and calls the sink outside it.
std::mutex gDebuggerSinkLock;
DebuggerSink gDebuggerSink = nullptr;
void* gDebuggerSinkContext = nullptr;

}  // namespace

void detail::CallDebuggerSink(const char* text) {
    DebuggerSink sink;
    void* context;
    {
        std::lock_guard<std::mutex> guard(gDebuggerSinkLock);
        sink = gDebuggerSink;
        context = gDebuggerSinkContext;
    }
    if (sink != nullptr) sink(text, context);
}

size_t detail::CopyFileName(const char* path, char separator, char* buffer, size_t size) noexcept {
    const char* name = std::strrchr(path, separator);
    name = name ? name + 1 : path;
    size_t nameLength = std::strlen(name);
    if (nameLength >= size) nameLength = size - 1;
    std::memcpy(buffer, name, nameLength);
    buffer[nameLength] = '\0';
    return nameLength;
}

DebuggerSink SetDebuggerSink(DebuggerSink sink, void* context) noexcept {
    std::lock_guard<std::mutex> guard(gDebuggerSinkLock);
    DebuggerSink old = gDebuggerSink;
    gDebuggerSink = sink;
    gDebuggerSinkContext = context;
    return old;
}

}  // namespace Korvo::Platform
