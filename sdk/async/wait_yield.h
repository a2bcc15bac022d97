// sdk/async/wait_yield.h - the one waiting step of a plug-in.
//
// \file
// A plug-in has no threads of its own: it runs on the threads on which the
// host calls it. When it has to wait for the host (a streamed answer that is
// not complete yet), it neither blocks nor sleeps but hands control back to
// the host for one step: it marks the activity, lets the host run other work,
// and polls the host's wake value. What the host does meanwhile, and what the
// polled value means, is the host's business.
#pragma once

#include <cstdint>

namespace Korvo {

class PluginCore;

// The label of the activity mark before each yield.
inline constexpr const char* kWaitYieldLabel = "Wait: yield";

// HostMarkActivity("Wait: yield", 0), HostYield(), then returns
// HostPollWake(). Runs on the calling thread and takes no lock.
uint64_t WaitYield(PluginCore& plugin);

}  // namespace Korvo
