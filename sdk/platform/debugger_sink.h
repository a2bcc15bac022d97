// sdk/platform/debugger_sink.h - the process-wide sink behind DebuggerOutput,
// the same on every system; each system's DebuggerOutput hands its text on
// here after its own channel (if it has one).
#pragma once

namespace Korvo::Platform::detail {

// Calls the sink installed by SetDebuggerSink, if any, with text. The sink
// runs outside the lock, so it may itself install another sink.
void CallDebuggerSink(const char* text);

}  // namespace Korvo::Platform::detail
