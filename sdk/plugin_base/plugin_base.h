// sdk/plugin_base/plugin_base.h - the class every plug-in derives from.
//
// \file
// PluginBase owns what a plug-in needs to talk to the host: the host's API
// version and interface, the plug-in's identity and tags, the transport that
// serves its API (and is its binding registry), the owned log target, the
// entry points the host calls, and the API descriptor built at load. A
// derived plug-in supplies two operations: RegisterRoutes (its routes and
// types, run once during loading) and OnStart (its start-up check).
//
// Life of a plug-in object, as the host drives it:
//   1. LoadPlugin<P> (plugin_entry.h), inside the library's export, builds
//      the object and runs Register: version check, identity, tags, the
//      plug-in manager set, RegisterRoutes, the descriptor, and the load
//      record's outputs. An incompatible host ends the process.
//   2. The host calls Start (PluginCallbacks entry 0) once with its
//      HostInterface: log target, handle, service-proxy subscriptions, then
//      OnStart, whose verdict goes back to the host.
//   3. Requests and events arrive on the host's threads.
//   4. Stop (entry 1) runs Shutdown and destroys the object.
// No exception leaves an entry point: each catches everything and answers
// with a plain value.
//
// Every Host* operation forwards to the host's function table with the
// table as first argument and its own arguments unchanged. Before Start
// there is no table; the operations then do nothing (HostPollWake answers
// 0, a request's response stays zeroed).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/binding/record_builder.h"
#include "sdk/contract/records.h"
#include "sdk/remoting/host_request.h"
#include "sdk/host/plugin_core.h"
#include "sdk/host/plugin_log_target.h"
#include "sdk/host/plugin_version.h"
#include "sdk/remoting/transport.h"

namespace Korvo {

// The type of every plug-in this SDK builds, and the process's exit code
// when a host of an incompatible plug-in API loads one.
inline constexpr std::string_view kBackendPluginType = "backend";
inline constexpr int kIncompatibleHostExitCode = 1;

// The assertion expression reported for an incompatible host, and the text
// logged beside it (%1 the short name, %2 the plug-in's version, %3 the
// host's).
inline constexpr const char* kIncompatibleHostExpression = "ALE-EECF0606";
inline constexpr const char* kIncompatibleHostTemplate =
    "%1 which supports plugin API %2 is not compatible with core's plugin API %3";

class PluginBase : public PluginCore {
public:
    // Takes one reference on the process's Logger (building it when this is
    // the first user) and creates the transport and the callbacks table.
    PluginBase();
    // Deletes the transport, clears tags and identity, deletes the log
    // target, then releases the Logger reference.
    ~PluginBase() override;

    // ---- the host, over its function table
    void HostSendRequest(HostResponseRecord* response, const HostRequestRecord* request) override;
    void HostCall1(uint32_t a, uint32_t b) override;
    void HostSendEvent(const HostEventRecord* event) override;
    void HostSubscribe(const char* eventName, uint32_t pluginHandle, HostEventCallback callback, void* userData,
                       uint32_t flag) override;
    void HostUnsubscribe(const char* eventName, uint32_t pluginHandle) override;
    void HostCall5(uint32_t a, uint32_t b, uint32_t c, double d, uint32_t e) override;
    void HostYield() override;
    void HostMarkActivity(const std::string& label, uint32_t value) override;
    uint64_t HostPollWake() override;

    // ---- what a plug-in supplies
    // Registers the plug-in's routes and types; the base registers none.
    virtual void RegisterRoutes();
    // The start-up check; its result is the host's answer to Start.
    virtual bool OnStart() = 0;

    // ---- the host's entry points (normally reached through Callbacks())
    // Registration steps of the load export, in order. On an incompatible
    // host API version reports the assertion, logs why and ends the process
    // (never returns). Throws only what registration throws
    // (std::bad_alloc); the load record's outputs are written last.
    void Register(PluginLoadContext& context, std::string_view shortName);
    // Keeps host, installs the log target, logs a warning for each
    // registration problem (the first Start only), keeps the handle,
    // subscribes the service-proxy events and returns OnStart(). False for a
    // null host.
    bool Start(const HostInterface* host);

    // ---- state
    const PluginCallbacks& Callbacks() const noexcept { return callbacks_; }
    const PluginApiVersion& HostVersion() const noexcept { return hostVersion_; }
    const PluginIdentity& Identity() const noexcept { return identity_; }
    const std::vector<std::string>& Tags() const noexcept { return tags_; }
    HttpBaseTransport& Transport() noexcept { return *transport_; }
    const HostApiDescriptor& Descriptor() const noexcept { return descriptor_; }
    const HostInterface* Host() const noexcept { return host_; }

protected:
    // Registers a route served by a member of the derived plug-in, bound to
    // this object, with the plug-in's tags; describe its arguments on the
    // returned builder.
    template <typename Object, typename Result, typename... Args>
    RouteBuilder AddRoute(HttpMethod method, std::string_view routeTemplate,
                          HandlerResult<Result> (Object::*handler)(Args...));
    template <typename Object, typename Result, typename... Args>
    RouteBuilder AddGetRoute(std::string_view routeTemplate, HandlerResult<Result> (Object::*handler)(Args...)) {
        return AddRoute(HttpMethod::Get, routeTemplate, handler);
    }
    template <typename Object, typename Result, typename... Args>
    RouteBuilder AddPostRoute(std::string_view routeTemplate, HandlerResult<Result> (Object::*handler)(Args...)) {
        return AddRoute(HttpMethod::Post, routeTemplate, handler);
    }

    // Registers the record R under name in the plug-in's registry with the
    // plug-in's tags; add its fields on the returned builder.
    template <typename R>
    BindingRecordBuilder<R> AddType(std::string_view name);
    // Registers the enum E under name, with the plug-in's tags; add its
    // enumerators on the returned builder.
    template <typename E>
    BindingEnumBuilder<E> AddEnum(std::string_view name);

    // A request to the host, answered in the plug-in's types.
    template <typename T>
    RemotingResult<T> RequestFromHost(HttpMethod method, std::string_view path) {
        return ::Korvo::RequestFromHost<T>(*this, method, path);
    }

private:
    // Holds the Logger reference for exactly the object's life.
    class LoggerReference {
    public:
        LoggerReference() noexcept;
        ~LoggerReference();
        LoggerReference(const LoggerReference&) = delete;
        LoggerReference& operator=(const LoggerReference&) = delete;
    };

    [[noreturn]] static void StopOnIncompatibleHost(std::string_view shortName, const PluginApiVersion& plugin,
                                                    const PluginApiVersion& host) noexcept;
    const HostFunctions* Functions() const noexcept { return host_ != nullptr ? host_->functions : nullptr; }

    // Declared in the order that makes destruction follow the documented
    // order (members die in reverse).
    LoggerReference loggerReference_;
    PluginApiVersion hostVersion_;
    std::unique_ptr<PluginLogTarget> logTarget_;
    PluginIdentity identity_;
    std::vector<std::string> tags_;
    std::unique_ptr<HttpBaseTransport> transport_;
    const HostInterface* host_ = nullptr;
    PluginCallbacks callbacks_{};
    HostApiDescriptor descriptor_{};
    // What registration got wrong, logged as warnings by the first Start.
    std::vector<std::string> registrationProblems_;
};

template <typename Object, typename Result, typename... Args>
RouteBuilder PluginBase::AddRoute(HttpMethod method, std::string_view routeTemplate,
                                  HandlerResult<Result> (Object::*handler)(Args...)) {
    static_assert(std::is_base_of_v<PluginBase, Object>, "a route handler is a member of the plug-in");
    RouteBuilder builder = transport_->RegisterRoute(method, routeTemplate, static_cast<Object*>(this), handler);
    for (const std::string& tag : tags_) builder.AddTag(tag);
    return builder;
}

template <typename R>
BindingRecordBuilder<R> PluginBase::AddType(std::string_view name) {
    BindingRecordBuilder<R> builder = RegisterRecord<R>(*transport_, name);
    for (const std::string& tag : tags_) builder.Tag(tag);
    return builder;
}

template <typename E>
BindingEnumBuilder<E> PluginBase::AddEnum(std::string_view name) {
    BindingEnumBuilder<E> builder = RegisterEnum<E>(*transport_, name);
    for (const std::string& tag : tags_) builder.Tag(tag);
    return builder;
}

}  // namespace Korvo
