// The lifecycle checks: start and stop leave the host's side clean, and
// start/stop/unload cycles give every block back.
#include "host/check/check_support.h"

#include <map>
#include <optional>
#include <string>

#include "sdk/contract/korvo_plugin.h"

namespace Korvo::Host::Check {

namespace {

constexpr int kLifecycleCycles = 3;

}  // namespace

CheckVerdict CheckStartStop(const CheckSettings& settings) {
    CheckHost host;
    std::string why;
    if (!LoadAndStart(host, settings, why)) return Fail(why);
    const size_t asked = host.Requests().size();
    host.Stop();
    Problems problems;
    const size_t released = host.ResponsesReleased();
    if (released != asked) {
        problems.Add("it asked the host " + std::to_string(asked) + " times and released " +
                     std::to_string(released) + " answers");
    }
    std::map<std::string, int> subscribed;
    for (const FakeHost::Subscription& subscription : host.Subscriptions()) ++subscribed[subscription.name];
    for (const auto& [name, handle] : host.Unsubscriptions()) --subscribed[name];
    for (const auto& [name, count] : subscribed) {
        if (count > 0) problems.Add("it left its subscription to " + name);
    }
    if (problems.Any()) return Fail(problems.Text());
    return Pass("asked the host " + std::to_string(asked) + " times, released every answer once, withdrew " +
                std::to_string(host.Subscriptions().size()) + " subscriptions");
}

CheckVerdict CheckLifecycle(const CheckSettings& settings) {
    Problems problems;
    std::optional<Held> reference;
    std::string why;
    for (int library = 0; library < 2; ++library) {
        CheckHost host;
        if (!ApplyHostAnswers(host, settings, why)) return Fail(why);
        if (!host.Load(settings.library, settings.exportName.c_str())) return Fail(host.LoadError());
        for (int cycle = 0; cycle < kLifecycleCycles; ++cycle) {
            if (host.CallLoad(KORVO_PLUGIN_API_MAJOR, KORVO_PLUGIN_API_MINOR, KORVO_PLUGIN_API_PATCH) == nullptr) {
                return Fail("no plug-in object in cycle " + std::to_string(cycle + 1));
            }
            if (!host.Start(kPluginHandle)) return Fail("Start answered 0 in cycle " + std::to_string(cycle + 1));
            host.Stop();
            const PluginMemoryStats stats = host.MemoryStats();
            if (FreedMoreThanAllocated(stats, why)) problems.Add(why);
            const Held held = HeldBy(stats);
            if (!reference) {
                reference = held;
            } else if (held != *reference) {
                problems.Add("after stop " + std::to_string(cycle + 1) + " of load " + std::to_string(library + 1) +
                             " it holds " + HeldText(held) + ", after the first " + HeldText(*reference));
            }
        }
        host.Unload();
    }
    if (problems.Any()) return Fail(problems.Text());
    return Pass(std::to_string(2 * kLifecycleCycles) + " start/stop cycles over 2 loads; after each stop it holds " +
                HeldText(*reference));
}

}  // namespace Korvo::Host::Check
