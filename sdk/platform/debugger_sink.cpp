// The debugger sink of sdk/platform/platform.h, shared by every system.
#include "sdk/platform/debugger_sink.h"

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

DebuggerSink SetDebuggerSink(DebuggerSink sink, void* context) noexcept {
    std::lock_guard<std::mutex> guard(gDebuggerSinkLock);
    DebuggerSink old = gDebuggerSink;
    gDebuggerSink = sink;
    gDebuggerSinkContext = context;
    return old;
}

}  // namespace Korvo::Platform
