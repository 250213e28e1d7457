#ifndef IREG_REG_FNC_NODE_H
#define IREG_REG_FNC_NODE_H

// RegFncNode<T>: a node whose value lives nowhere in the registry: every read calls a getter and
// every write a setter of the component that made it.
//
// Four function shapes, each optional:
//   scalar setter  bool(const T&)                     true when applied
//   scalar getter  bool(T&)                           true when the value was stored
//   array setter   bool(const T*, pos, count)         true when all count values were applied
//   array getter   n(T*, pos, count)                  values delivered, at most count; 0 = failure
// The array functions serve every position; the scalar ones only position 0 with one value.
// A write that no setter takes, or that the setter refuses, throws
// "ireg: Can't set value: setter function failed: " + name; a read that no getter serves reads
// 0 values, which the node core reports as "Unable to get value.".
//
// Made from function objects (the flags as given), or from an object and member functions
// (what mci::factory::Create passes): then a function given as 0 (or nullptr) is missing, and
// the node loses writable without a setter and readable without a getter. The member functions
// of the array shapes may take their position and count as size_t, unsigned or any other
// integer type, and return any integer count; a position or count the function's types cannot
// carry is a failed call, never a truncated one. Create forwards its arguments, so an overloaded
// member function must be named with its type: static_cast<bool (C::*)(T&) const>(&C::Get).

#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "ireg/reg_reference_node.h"
#include "istd/exception.h"
#include "istd/trace.h"

namespace ireg {

namespace detail {

// What the node needs to know of a member function pointer.
template <class F>
struct MemberFn {
    static constexpr bool c_isMember = false;
};
template <class R, class C, class... A>
struct MemberFn<R (C::*)(A...)> {
    static constexpr bool c_isMember = true;
    using Result = R;
    using Args = std::tuple<A...>;
};
template <class R, class C, class... A>
struct MemberFn<R (C::*)(A...) const> : MemberFn<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct MemberFn<R (C::*)(A...) noexcept> : MemberFn<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct MemberFn<R (C::*)(A...) const noexcept> : MemberFn<R (C::*)(A...)> {};

// The 0 (or nullptr) that stands for a missing member function.
template <class F>
inline constexpr bool IsMissingFn = std::is_integral_v<F> || std::is_null_pointer_v<F>;

template <class O, class F, class... A>
inline constexpr bool IsMemberCallable = MemberFn<F>::c_isMember && std::is_invocable_v<F, O*, A...>;

template <class O, class F, class... A>
inline constexpr bool IsMemberOrMissing = IsMissingFn<F> || IsMemberCallable<O, F, A...>;

// The integer type of argument I of a member function (size_t when F is missing).
template <class F, size_t I, bool = MemberFn<F>::c_isMember>
struct ArgOf {
    using type = size_t;
};
template <class F, size_t I>
struct ArgOf<F, I, true> {
    using type = std::decay_t<std::tuple_element_t<I, typename MemberFn<F>::Args>>;
};

// True when pos, count and pos + count all fit the integer types P and N.
template <class P, class N>
constexpr bool FitsArgs(size_t pos, size_t count)
{
    static_assert(std::is_integral_v<P> && std::is_integral_v<N>, "positions and counts are integers");
    constexpr auto maxP = static_cast<std::make_unsigned_t<P>>(std::numeric_limits<P>::max());
    constexpr auto maxN = static_cast<std::make_unsigned_t<N>>(std::numeric_limits<N>::max());
    return pos <= maxP && count <= maxN && count <= maxP - pos;
}

} // namespace detail

template <class T>
class RegFncNode : public detail::RegCountedNode<T> {
public:
    using ScalarSetter = std::function<bool(const T&)>;
    using ScalarGetter = std::function<bool(T&)>;
    using ArraySetter = std::function<bool(const T*, size_t, size_t)>;
    using ArrayGetter = std::function<size_t(T*, size_t, size_t)>;

    // Scalar from function objects; the flags as given.
    RegFncNode(const std::string& name, ScalarSetter setter, ScalarGetter getter,
               mci::Flags flags = mci::TreeNode::c_defaultFlags)
        : detail::RegCountedNode<T>(name, flags, 1), m_setter(std::move(setter)), m_getter(std::move(getter))
    {
    }

    // Array of size from function objects; flags with the array bit.
    RegFncNode(const std::string& name, size_t size, ArraySetter setter, ArrayGetter getter,
               mci::Flags flags = mci::TreeNode::c_defaultFlags)
        : detail::RegCountedNode<T>(name, flags | mci::enums::eArray, size),
          m_arraySetter(std::move(setter)),
          m_arrayGetter(std::move(getter))
    {
    }

    // Scalar from member functions of *object: setter bool(const T&) or 0, getter bool(T&)
    // (const or not) or 0.
    template <class O, class S, class G,
              std::enable_if_t<std::is_class_v<O> && detail::IsMemberOrMissing<O, S, const T&> &&
                                   detail::IsMemberOrMissing<O, G, T&>,
                               int> = 0>
    RegFncNode(const std::string& name, O* object, S setter, G getter, mci::Flags flags = mci::TreeNode::c_defaultFlags)
        : detail::RegCountedNode<T>(name, _MemberFlags<S, G>(flags), 1)
    {
        ISTD_TRACE_FNC("ireg::RegFncNode::RegFncNode(const std::string&, O*, S, G, mci::Flags)");
        if constexpr (detail::IsMissingFn<S>) {
            _CheckMissing(setter);
        } else {
            m_setter = [object, setter](const T& value) -> bool { return (object->*setter)(value); };
        }
        if constexpr (detail::IsMissingFn<G>) {
            _CheckMissing(getter);
        } else {
            m_getter = [object, getter](T& value) -> bool { return (object->*getter)(value); };
        }
    }

    // Array of size from member functions of *object: setter bool(const T*, P, N) or 0, getter
    // R(T*, P, N) (const or not) or 0, with integer P, N and R.
    template <class O, class S, class G,
              std::enable_if_t<std::is_class_v<O> &&
                                   detail::IsMemberOrMissing<O, S, const T*, typename detail::ArgOf<S, 1>::type,
                                                             typename detail::ArgOf<S, 2>::type> &&
                                   detail::IsMemberOrMissing<O, G, T*, typename detail::ArgOf<G, 1>::type,
                                                             typename detail::ArgOf<G, 2>::type>,
                               int> = 0>
    RegFncNode(const std::string& name, size_t size, O* object, S setter, G getter,
               mci::Flags flags = mci::TreeNode::c_defaultFlags)
        : detail::RegCountedNode<T>(name, _MemberFlags<S, G>(flags) | mci::enums::eArray, size)
    {
        ISTD_TRACE_FNC("ireg::RegFncNode::RegFncNode(const std::string&, size_t, O*, S, G, mci::Flags)");
        if constexpr (detail::IsMissingFn<S>) {
            _CheckMissing(setter);
        } else {
            using P = typename detail::ArgOf<S, 1>::type;
            using N = typename detail::ArgOf<S, 2>::type;
            m_arraySetter = [object, setter](const T* values, size_t pos, size_t count) -> bool {
                return detail::FitsArgs<P, N>(pos, count) &&
                       (object->*setter)(values, static_cast<P>(pos), static_cast<N>(count));
            };
        }
        if constexpr (detail::IsMissingFn<G>) {
            _CheckMissing(getter);
        } else {
            using P = typename detail::ArgOf<G, 1>::type;
            using N = typename detail::ArgOf<G, 2>::type;
            m_arrayGetter = [object, getter](T* values, size_t pos, size_t count) -> size_t {
                if (!detail::FitsArgs<P, N>(pos, count)) {
                    return 0;
                }
                const auto n = (object->*getter)(values, static_cast<P>(pos), static_cast<N>(count));
                static_assert(std::is_integral_v<decltype(n)>, "an array getter returns its count");
                // A negative count is a failure, never a huge number of values.
                return n > 0 ? static_cast<size_t>(n) : 0;
            };
        }
    }

    using RegTypeNode<T>::OnGet;
    using RegTypeNode<T>::OnSet;

    size_t OnGet(T* values, size_t pos, size_t count) const override
    {
        if (m_arrayGetter) {
            return m_arrayGetter(values, pos, count);
        }
        if (m_getter && pos == 0 && count == 1) {
            return m_getter(values[0]) ? 1 : 0;
        }
        return 0;
    }

    void OnSet(const T* values, size_t pos, size_t count) override
    {
        if (m_arraySetter) {
            if (m_arraySetter(values, pos, count)) {
                return;
            }
        } else if (m_setter && pos == 0 && count == 1) {
            if (m_setter(values[0])) {
                return;
            }
        }
        _ThrowSetterFailed();
    }

private:
    template <class S, class G>
    static constexpr mci::Flags _MemberFlags(mci::Flags flags)
    {
        if constexpr (detail::IsMissingFn<S>) {
            flags &= ~mci::Flags(mci::enums::eWritable);
        }
        if constexpr (detail::IsMissingFn<G>) {
            flags &= ~mci::Flags(mci::enums::eReadable);
        }
        return flags;
    }

    // A missing function is given as 0; any other number is a mistake of the caller.
    template <class Z>
    void _CheckMissing(const Z& zero) const
    {
        if constexpr (std::is_integral_v<Z>) {
            if (zero != 0) {
                throw istd::Exception("ireg: " + this->GetName() + ": a missing function is given as 0", true);
            }
        }
    }

    [[noreturn]] void _ThrowSetterFailed() const
    {
        ISTD_TRACE_FNC("void ireg::RegFncNode::_ThrowSetterFailed() const");
        throw istd::Exception("ireg: Can't set value: setter function failed: " + this->GetName(), true);
    }

    ScalarSetter m_setter;
    ScalarGetter m_getter;
    ArraySetter m_arraySetter;
    ArrayGetter m_arrayGetter;
};

} // namespace ireg

#endif
