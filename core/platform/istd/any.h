#ifndef ISTD_ANY_H
#define ISTD_ANY_H

// Any: a value of any type (a T or a std::vector<T>).
// AnyReference: a reference to one object of any type, its type checked on every use.
//
//     int result = 0;
//     const bmc::SensorId id = ...;
//     std::vector<istd::AnyReference> args{istd::AnyReference(id)};   // holds const SensorId
//     istd::AnyReference res(result);                                  // holds int
//     const bmc::SensorId& in = args[0];   // reading needs the same constness it was wrapped with
//     res = 42;                            // assigns to result
//
// The referenced object belongs to the caller and must outlive every AnyReference to it.

#include <any>
#include <string>
#include <type_traits>
#include <typeinfo>

#include "istd/exception.h"
#include "istd/istd_export.h"

namespace istd {

using Any = std::any;

class ISTD_API AnyReference {
public:
    class PtrHolder {
    public:
        virtual ~PtrHolder();
        // The referenced type without const.
        virtual const std::type_info& Type() const = 0;
        virtual PtrHolder* Clone() const = 0;
    };

    // T keeps its constness: wrapping a const object gives SpecificPtrHolder<const X>.
    template <class T>
    class SpecificPtrHolder : public PtrHolder {
    public:
        explicit SpecificPtrHolder(T* ptr) noexcept : m_ptr(ptr) {}
        const std::type_info& Type() const override { return typeid(T); }
        PtrHolder* Clone() const override { return new SpecificPtrHolder<T>(m_ptr); }
        T* Get() const noexcept { return m_ptr; }

        T* m_ptr;
    };

    // Wraps nothing.
    AnyReference() noexcept = default;

    template <class T, class = std::enable_if_t<!std::is_base_of_v<AnyReference, std::remove_cv_t<T>>>>
    AnyReference(T& ref) : m_holder(new SpecificPtrHolder<T>(&ref))
    {
    }

    template <class T, class = std::enable_if_t<!std::is_base_of_v<AnyReference, T>>>
    AnyReference(const T& ref) : m_holder(new SpecificPtrHolder<const T>(&ref))
    {
    }

    AnyReference(const AnyReference& other) : m_holder(other.m_holder ? other.m_holder->Clone() : nullptr)
    {
    }

    AnyReference& operator=(const AnyReference& other)
    {
        if (this != &other) {
            PtrHolder* copy = other.m_holder ? other.m_holder->Clone() : nullptr;
            delete m_holder;
            m_holder = copy;
        }
        return *this;
    }

    virtual ~AnyReference();

    bool IsEmpty() const noexcept { return m_holder == nullptr; }
    // The wrapped type without const; typeid(void) when nothing is wrapped.
    const std::type_info& Type() const noexcept { return m_holder ? m_holder->Type() : typeid(void); }

    // The referenced object; T must match the wrapped type and constness exactly.
    template <class T>
    operator T&() const
    {
        return *_Check<T>(nullptr, "conversion to ")->m_ptr;
    }

    // Assigns to the referenced object, which must be a non-const T.
    template <class T, class = std::enable_if_t<!std::is_base_of_v<AnyReference, T>>>
    AnyReference& operator=(const T& value)
    {
        *_Check<T>(nullptr, "assignment of ")->m_ptr = value;
        return *this;
    }

    // The type check alone: "AnyReference: nothing wrapped." without a holder, else
    // ThrowTypeException(context, ...) unless the holder is exactly SpecificPtrHolder<T>.
    template <class T>
    SpecificPtrHolder<T>* StrictCast(const std::string& context) const
    {
        return _Check<T>(&context, nullptr);
    }

    // Throws context + ": type mismatch, holds " + held + ", requested " + requested.
    [[noreturn]] static void ThrowTypeException(const std::string& context, const std::type_info& held,
                                                const std::type_info& requested);

private:
    [[noreturn]] static void _ThrowNothingWrapped();
    [[noreturn]] void _ThrowMismatch(const std::string* context, const char* operation, bool constRequested,
                                     const std::type_info& requested) const;

    // The context is the caller's text, or "AnyReference: " + operation + the requested type;
    // it is only built when the check fails.
    template <class T>
    SpecificPtrHolder<T>* _Check(const std::string* context, const char* operation) const
    {
        if (m_holder == nullptr) {
            _ThrowNothingWrapped();
        }
        auto* holder = m_holder->Type() == typeid(T) ? dynamic_cast<SpecificPtrHolder<T>*>(m_holder) : nullptr;
        if (holder == nullptr) {
            _ThrowMismatch(context, operation, std::is_const_v<T>, typeid(T));
        }
        return holder;
    }

    PtrHolder* m_holder = nullptr;
};

} // namespace istd

#endif
