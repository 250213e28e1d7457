#include "istd/any.h"

#include "istd/convert.h"

namespace istd {

AnyReference::PtrHolder::~PtrHolder() = default;

AnyReference::~AnyReference()
{
    delete m_holder;
}

void AnyReference::ThrowTypeException(const std::string& context, const std::type_info& held,
                                      const std::type_info& requested)
{
    throw Exception(context + ": type mismatch, holds " + CppName(held) + ", requested " +
                        CppName(requested),
                    true);
}

void AnyReference::_ThrowNothingWrapped()
{
    throw Exception("AnyReference: nothing wrapped.", true);
}

void AnyReference::_ThrowMismatch(const std::string* context, const char* operation,
                                  bool constRequested, const std::type_info& requested) const
{
    std::string text = context ? *context
                               : std::string("AnyReference: ") + operation +
                                     (constRequested ? "const " : "") + CppName(requested);
    // Same type but another constness: say so, the two type names alone would read alike.
    if (m_holder->Type() == requested) {
        text += constRequested ? " (wrapped non-const)" : " (wrapped const)";
    }
    ThrowTypeException(text, m_holder->Type(), requested);
}

} // namespace istd
