// sdk/binding/builtin_types.cpp - registration of the help and
// asynchronous-operation types.
#include "sdk/binding/builtin_types.h"

#include "sdk/binding/record_builder.h"

namespace Korvo {

namespace {

constexpr char kBuiltinTag[] = "$builtin";
constexpr char kHelpTag[] = "help";
constexpr char kAsyncTag[] = "async";

using Help = BindingHelpProvider;

}  // namespace

void RegisterHelpTypes(BindingRegistry& registry) {
    RegisterEnum<Help::HelpFormat>(registry, "BindingHelpFormat")
        .Enumerator("Full", Help::HelpFormat::Full, "Native help format")
        .Enumerator("Epytext", Help::HelpFormat::Epytext, "Python epytext format")
        .Description("Help format for binding functions and types.")
        .Tag(kBuiltinTag)
        .Tag(kHelpTag);

    RegisterRecord<Help::FullTypeIdentifier>(registry, "BindingFullTypeIdentifier")
        .Field("type", &Help::FullTypeIdentifier::type)
        .Field("elementType", &Help::FullTypeIdentifier::elementType)
        .Description("Describes the type of a value.")
        .Tag(kBuiltinTag)
        .Tag(kHelpTag);

    RegisterRecord<Help::FullArgumentHelp>(registry, "BindingFullArgumentHelp")
        .Field("name", &Help::FullArgumentHelp::name)
        .Field("description", &Help::FullArgumentHelp::description)
        .Field("type", &Help::FullArgumentHelp::type)
        .Field("optional", &Help::FullArgumentHelp::optional)
        .Description("Describes a function parameter.")
        .Tag(kBuiltinTag)
        .Tag(kHelpTag);

    RegisterRecord<Help::FullFunctionHelp>(registry, "BindingFullFunctionHelp")
        .Field("name", &Help::FullFunctionHelp::name)
        .Field("nameSpace", &Help::FullFunctionHelp::nameSpace)
        .Field("arguments", &Help::FullFunctionHelp::arguments)
        .Field("returns", &Help::FullFunctionHelp::returns)
        .Field("description", &Help::FullFunctionHelp::description)
        .Field("help", &Help::FullFunctionHelp::help)
        .Field("threadSafe", &Help::FullFunctionHelp::threadSafe)
        .Field("async", &Help::FullFunctionHelp::async)
        .Field("tags", &Help::FullFunctionHelp::tags)
        .Description("Describes a function.")
        .Tag(kBuiltinTag)
        .Tag(kHelpTag);

    RegisterRecord<Help::FullEnumValueHelp>(registry, "BindingFullEnumValueHelp")
        .Field("name", &Help::FullEnumValueHelp::name)
        .Field("description", &Help::FullEnumValueHelp::description)
        .Field("value", &Help::FullEnumValueHelp::value)
        .Description("Describes an enumerator.")
        .Tag(kBuiltinTag)
        .Tag(kHelpTag);

    RegisterRecord<Help::FullFieldHelp>(registry, "BindingFullFieldHelp")
        .Field("name", &Help::FullFieldHelp::name)
        .Field("description", &Help::FullFieldHelp::description)
        .Field("offset", &Help::FullFieldHelp::offset)
        .Field("type", &Help::FullFieldHelp::type)
        .Field("optional", &Help::FullFieldHelp::optional)
        .Description("Describes a member of a struct.")
        .Tag(kBuiltinTag)
        .Tag(kHelpTag);

    RegisterRecord<Help::FullTypeHelp>(registry, "BindingFullTypeHelp")
        .Field("name", &Help::FullTypeHelp::name)
        .Field("nameSpace", &Help::FullTypeHelp::nameSpace)
        .Field("size", &Help::FullTypeHelp::size)
        .Field("description", &Help::FullTypeHelp::description)
        .Field("tags", &Help::FullTypeHelp::tags)
        .Field("fields", &Help::FullTypeHelp::fields)
        .Field("values", &Help::FullTypeHelp::values)
        .Description("Describes a struct or enum type.")
        .Tag(kBuiltinTag)
        .Tag(kHelpTag);

    RegisterRecord<Help::FullEventHelp>(registry, "BindingFullEventHelp")
        .Field("name", &Help::FullEventHelp::name)
        .Field("nameSpace", &Help::FullEventHelp::nameSpace)
        .Field("type", &Help::FullEventHelp::type)
        .Field("description", &Help::FullEventHelp::description)
        .Field("tags", &Help::FullEventHelp::tags)
        .Description("Describes an event.")
        .Tag(kBuiltinTag)
        .Tag(kHelpTag);

    RegisterRecord<Help::FullApiHelp>(registry, "BindingFullApiHelp")
        .Field("functions", &Help::FullApiHelp::functions)
        .Field("types", &Help::FullApiHelp::types)
        .Field("events", &Help::FullApiHelp::events)
        .Description("Describes the exposed native API.")
        .Tag(kBuiltinTag)
        .Tag(kHelpTag);
}

void RegisterAsyncTypes(BindingRegistry& registry) {
    using State = BindingAsyncState::Type;
    RegisterEnum<State>(registry, "BindingAsyncState")
        .Enumerator("None", State::None, "Invalid state")
        .Enumerator("Running", State::Running, "The operation is in flight")
        .Enumerator("Cancelling", State::Cancelling, "A request to cancel the operation has been made")
        .Enumerator("Cancelled", State::Cancelled, "The operation was cancelled")
        .Enumerator("Succeeded", State::Succeeded, "The operation completed successfully")
        .Enumerator("Failed", State::Failed, "The operation encountered an error")
        .Description("Possible states of an asynchronous operation.")
        .Tag(kBuiltinTag)
        .Tag(kAsyncTag);

    RegisterRecord<BindingGenericEvent>(registry, "BindingGenericEvent")
        .Field("data", &BindingGenericEvent::data, 0, "Event data")
        .Description("Represents generic data for an event.")
        .Tag(kBuiltinTag);

    RegisterRecord<BindingCallbackEvent>(registry, "BindingCallbackEvent")
        .Field("id", &BindingCallbackEvent::id, 0, "ID of the callback being invoked")
        .Field("parameters", &BindingCallbackEvent::parameters, 0, "Callback parameters")
        .Description("Represents the parameters of a call to a provided callback.")
        .Tag(kBuiltinTag);

    RegisterRecord<BindingGenericAsyncEvent>(registry, "BindingGenericAsyncEvent")
        .Field("asyncToken", &BindingGenericAsyncEvent::asyncToken, 0, "Asynchronous operation token")
        .Field("data", &BindingGenericAsyncEvent::data, 0, "Event data")
        .Description("Represents generic data for an asynchronous event.")
        .Tag(kBuiltinTag)
        .Tag(kAsyncTag);

    RegisterRecord<BindingAsyncFailureEvent>(registry, "BindingAsyncFailureEvent")
        .Field("asyncToken", &BindingAsyncFailureEvent::asyncToken, 0, "Asynchronous operation token")
        .Field("error", &BindingAsyncFailureEvent::error, 0, "Error message")
        .Description("Represents a failed asynchronous operation.")
        .Tag(kBuiltinTag)
        .Tag(kAsyncTag);

    RegisterRecord<BindingAsyncCancelEvent>(registry, "BindingAsyncCancelEvent")
        .Field("asyncToken", &BindingAsyncCancelEvent::asyncToken, 0, "Asynchronous operation token")
        .Description("Represents a cancelled asynchronous operation.")
        .Tag(kBuiltinTag)
        .Tag(kAsyncTag);
}

void RegisterBuiltins(BindingRegistry& registry) {
    RegisterHelpTypes(registry);
    RegisterAsyncTypes(registry);
}

}  // namespace Korvo
