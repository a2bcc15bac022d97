// tests/support/host_table_plugin.h - a PluginCore that reaches the host
// through a HostFunctions table (normally a FakeHost's), for tests of the
// plug-in core without a loaded library.
#pragma once

#include <string>

#include "sdk/binding/registry.h"
#include "sdk/contract/records.h"
#include "sdk/host/plugin_core.h"

namespace Korvo::Testing {

class HostTablePlugin : public PluginCore {
public:
    static constexpr uint32_t kHandle = 0x5EED;

    // Registers the builtins and the plug-in manager set into its own
    // registry; the table must outlive the object.
    explicit HostTablePlugin(const HostFunctions* functions, uint32_t handle = kHandle) : functions_(functions) {
        registry_.Initialise();
        RegisterPluginManagerTypes(registry_);
        SetPluginHandle(handle);
    }

    BindingRegistry& MutableRegistry() { return registry_; }

    void HostSendRequest(HostResponseRecord* response, const HostRequestRecord* request) override {
        functions_->SendRequest(functions_, response, request);
    }
    void HostCall1(uint32_t a, uint32_t b) override { functions_->reserved1(functions_, a, b); }
    void HostSendEvent(const HostEventRecord* event) override { functions_->SendEvent(functions_, event); }
    void HostSubscribe(const char* name, uint32_t handle, HostEventCallback callback, void* userData,
                       uint32_t flag) override {
        functions_->Subscribe(functions_, name, handle, callback, userData, flag);
    }
    void HostUnsubscribe(const char* name, uint32_t handle) override {
        functions_->Unsubscribe(functions_, name, handle);
    }
    void HostCall5(uint32_t a, uint32_t b, uint32_t c, double d, uint32_t e) override {
        functions_->reserved5(functions_, a, b, c, d, e);
    }
    void HostYield() override { functions_->Yield(functions_); }
    void HostMarkActivity(const std::string& label, uint32_t value) override {
        functions_->MarkActivity(functions_, label.c_str(), value);
    }
    uint64_t HostPollWake() override { return functions_->PollWake(functions_); }

private:
    const HostFunctions* functions_;
    BindingRegistry registry_;
};

}  // namespace Korvo::Testing
