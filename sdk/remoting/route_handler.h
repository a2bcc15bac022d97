// sdk/remoting/route_handler.h - the route handler made for a native
// handler's signature.
//
// \file
// A native handler is any callable returning HandlerResult<T> (T may be
// void). Its parameters are the API function's arguments in order, each a
// type that the binding layer converts (converter.h), taken by value or by
// const reference; a first parameter of type const HttpBaseTransport::Request&
// asks for the request context and is not an argument. The argument pack is
// a std::tuple of the parameters' plain types, built by Prepare and moved
// into the call.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "sdk/binding/converter.h"
#include "sdk/remoting/response.h"
#include "sdk/remoting/route_record.h"

namespace Korvo {

// The description of one handler argument for the registry.
struct RouteArgumentSignature {
    BindingTypeRef type;
    bool optional = false;
    // StaticType::Name of the record or enum the argument refers to; empty
    // when it refers to none.
    std::string_view referredType;
};

namespace detail {
// StaticType::Name of the record or enum a T refers to, or the empty text.
template <typename T>
std::string_view ReferredTypeName() noexcept {
    using Inner = typename BindingNative<T>::Inner;
    if constexpr (std::is_void_v<Inner>) {
        return {};
    } else {
        return StaticType::Name<Inner>();
    }
}
}  // namespace detail

namespace detail {

template <typename... T>
struct TypeList {};

template <typename T>
struct HandlerResultValue;
template <typename T>
struct HandlerResultValue<HandlerResult<T>> {
    using Type = T;
};

// Signature of a callable: function pointer, or a class with one
// non-template operator().
template <typename F>
struct CallableTraits : CallableTraits<decltype(&F::operator())> {};
template <typename R, typename... A>
struct CallableTraits<R (*)(A...)> {
    using Result = typename HandlerResultValue<R>::Type;
    using Arguments = TypeList<A...>;
};
template <typename C, typename R, typename... A>
struct CallableTraits<R (C::*)(A...)> : CallableTraits<R (*)(A...)> {};
template <typename C, typename R, typename... A>
struct CallableTraits<R (C::*)(A...) const> : CallableTraits<R (*)(A...)> {};

template <typename T>
inline constexpr bool kIsRequestContext = std::is_same_v<std::remove_cvref_t<T>, TransportRequest>;

template <typename Callable, bool kTakesContext, typename Result, typename... Args>
class TypedRouteHandler final : public RouteHandler {
public:
    using Pack = std::tuple<std::remove_cvref_t<Args>...>;

    explicit TypedRouteHandler(Callable callable) : callable_(std::move(callable)) {}

    static std::vector<RouteArgumentSignature> ArgumentSignatures([[maybe_unused]] const BindingRegistry* registry) {
        return {RouteArgumentSignature{BindingTypeRefOf<std::remove_cvref_t<Args>>(registry),
                                       BindingNative<std::remove_cvref_t<Args>>::kOptional,
                                       ReferredTypeName<std::remove_cvref_t<Args>>()}...};
    }
    static BindingTypeRef ResultType([[maybe_unused]] const BindingRegistry* registry) {
        if constexpr (std::is_void_v<Result>) {
            return {};
        } else {
            return BindingTypeRefOf<Result>(registry);
        }
    }
    static std::string_view ResultReferredType() noexcept {
        if constexpr (std::is_void_v<Result>) {
            return {};
        } else {
            return ReferredTypeName<Result>();
        }
    }

    void* Prepare(CallResult& result, const std::vector<BindingProperty>& arguments, uint32_t, void* storage,
                  size_t storageBytes) const override {
        const bool inPlace = storage != nullptr && sizeof(Pack) <= storageBytes &&
                             alignof(Pack) <= alignof(std::max_align_t);
        Pack* pack = inPlace ? new (storage) Pack() : new Pack();
        try {
            ConvertAll(result, *pack, arguments, std::index_sequence_for<Args...>{});
        } catch (...) {
            ReleaseArguments(pack, storage);
            throw;
        }
        if (result.Succeeded()) return pack;
        ReleaseArguments(pack, storage);
        return nullptr;
    }

    void Invoke(CallResult& result, const TransportRequest* context, void* pack, uint32_t) const override {
        Pack& arguments = *static_cast<Pack*>(pack);
        HandlerResult<Result> outcome = std::apply(
            [&](auto&... values) {
                if constexpr (kTakesContext) {
                    static const TransportRequest kNoContext{};
                    return callable_(context != nullptr ? *context : kNoContext, static_cast<Args&&>(values)...);
                } else {
                    (void)context;
                    return callable_(static_cast<Args&&>(values)...);
                }
            },
            arguments);
        if constexpr (std::is_void_v<Result>) {
            if (outcome.Failed()) result.Fail(outcome.ErrorMessage());
        } else if (outcome.HasValue()) {
            // Straight into host values: the same records FromNative and
            // ToHostValue would build, without the property tree between.
            HostValueWriter writer(Registry());
            OwnedHostValueRecord written;
            const bool complete = WriteHostValue(writer, written.Value(), outcome.Value());
            CompleteHostValue(result, writer, written, complete);
        } else {
            result.Fail(outcome.ErrorMessage());
        }
        ResponseSettings& from = outcome.Settings();
        ResponseSettings& to = result.settings;
        to.contentFlag = from.contentFlag;
        to.contentCode = from.contentCode;
        to.status = from.status;
        to.text = std::move(from.text);
        to.headers = std::move(from.headers);
    }

    void ReleaseArguments(void* pack, const void* storage) const noexcept override {
        if (pack == storage) {
            static_cast<Pack*>(pack)->~Pack();
        } else {
            delete static_cast<Pack*>(pack);
        }
    }
    const void* Target() const noexcept override { return &callable_; }
    const TypeIdentity& ContextType() const noexcept override {
        if constexpr (kTakesContext) {
            return StaticType::HashCode<TransportRequest>();
        } else {
            return StaticType::None();
        }
    }

private:
    template <size_t... kIndex>
    void ConvertAll(CallResult& result, Pack& pack, const std::vector<BindingProperty>& arguments,
                    std::index_sequence<kIndex...>) const {
        (ConvertOne<kIndex>(result, std::get<kIndex>(pack), arguments), ...);
    }

    template <size_t kIndex, typename T>
    void ConvertOne(CallResult& result, T& destination, const std::vector<BindingProperty>& arguments) const {
        if (result.Failed()) return;
        // A function described elsewhere with fewer arguments than the
        // handler takes leaves the rest missing.
        const BindingProperty& input = kIndex < arguments.size() ? arguments[kIndex] : BindingProperty::Null();
        const auto& described = Record()->function->arguments;
        const std::string_view name = kIndex < described.size() ? std::string_view(described[kIndex].name)
                                                                 : std::string_view();
        ToNative<T>(result, destination, input, name, Registry());
    }

    Callable callable_;
};

// Picks the handler class for a callable's parameter list: a leading
// context parameter is split off.
template <typename Callable, typename Result, typename List>
struct RouteHandlerFor;
template <typename Callable, typename Result, typename... A>
struct RouteHandlerFor<Callable, Result, TypeList<A...>> {
    using Type = TypedRouteHandler<Callable, false, Result, A...>;
};
template <typename Callable, typename Result, typename First, typename... A>
    requires kIsRequestContext<First>
struct RouteHandlerFor<Callable, Result, TypeList<First, A...>> {
    using Type = TypedRouteHandler<Callable, true, Result, A...>;
};

template <typename Callable>
using RouteHandlerOf = typename RouteHandlerFor<Callable, typename CallableTraits<Callable>::Result,
                                                typename CallableTraits<Callable>::Arguments>::Type;

}  // namespace detail

}  // namespace Korvo
