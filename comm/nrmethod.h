// TMethod: an event handler of the component model, a routine bound to an object.
//
// Events of the library are TMethod members named On...; a component calls one only
// when it is assigned (`if (OnClose) OnClose(this);`). A TMethod is built either from
// an object and one of its member functions, or from any callable (a lambda). Two
// handlers can be compared by their routine alone (SameRoutine), which the
// notification list needs to tell listeners apart.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <functional>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace nrdetail {

// Identity of a routine: the member-function pointer's bytes and class, or a
// unique number given to a callable when it was wrapped.
struct TRoutineId {
    const std::type_info* type = nullptr;
    std::array<unsigned char, 2 * sizeof(void*)> bytes{};
    std::size_t size = 0;

    friend bool operator==(const TRoutineId& a, const TRoutineId& b) {
        if (a.type != b.type && (a.type == nullptr || b.type == nullptr || *a.type != *b.type))
            return false;
        return a.size == b.size && std::memcmp(a.bytes.data(), b.bytes.data(), a.size) == 0;
    }
};

std::size_t NextCallableId();

} // namespace nrdetail

template <class Sig> class TMethod;

template <class R, class... Args> class TMethod<R(Args...)> {
public:
    TMethod() = default;
    TMethod(std::nullptr_t) {}

    // A member function of an object: the handler is identified by the member function.
    template <class C, class M>
        requires std::is_member_function_pointer_v<M C::*>
    TMethod(C* object, M C::*routine)
        : fObject(object), fCall([object, routine](Args... a) -> R {
              return (object->*routine)(std::forward<Args>(a)...);
          }) {
        using P = M C::*;
        static_assert(sizeof(P) <= sizeof(fRoutine.bytes), "member pointer too large");
        fRoutine.type = &typeid(P);
        fRoutine.size = sizeof(P);
        std::memcpy(fRoutine.bytes.data(), &routine, sizeof(P));
    }

    // Any other callable: each wrapping is a routine of its own; copies share it.
    template <class F>
        requires(!std::is_same_v<std::decay_t<F>, TMethod> && !std::is_same_v<std::decay_t<F>, std::nullptr_t> &&
                 std::is_invocable_r_v<R, F&, Args...>)
    TMethod(F&& callable) : fCall(std::forward<F>(callable)) {
        const std::size_t id = nrdetail::NextCallableId();
        fRoutine.type = &typeid(void);
        fRoutine.size = sizeof(id);
        std::memcpy(fRoutine.bytes.data(), &id, sizeof(id));
    }

    explicit operator bool() const { return static_cast<bool>(fCall); }

    R operator()(Args... a) const { return fCall(std::forward<Args>(a)...); }

    // True when both handlers run the same routine, whatever object they are bound to.
    bool SameRoutine(const TMethod& other) const { return fRoutine == other.fRoutine; }

    // The object a member-function handler is bound to; null for a plain callable.
    const void* Object() const { return fObject; }

    friend bool operator==(const TMethod& a, const TMethod& b) {
        return a.fRoutine == b.fRoutine && a.fObject == b.fObject;
    }

private:
    const void* fObject = nullptr;
    nrdetail::TRoutineId fRoutine;
    std::function<R(Args...)> fCall;
};
