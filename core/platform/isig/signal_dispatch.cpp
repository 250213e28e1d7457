#include "isig/signal_dispatch.h"

#include "istd/exception.h"

namespace isig {

SignalDispatchBase::~SignalDispatchBase() = default;

#define ISIG_DISPATCH_NOT_SUPPORTED(T)                                                              \
    void SignalDispatchBase::Dispatch(const T*, unsigned, const SignalMeta&)                        \
    {                                                                                               \
        throw istd::Exception(std::string("isig: Dispatch of ") + istd::EnumName(AtomTypeOf(typeid(T))) + \
                              " not supported");                                                    \
    }
ISIG_FOR_EACH_BASE_TYPE(ISIG_DISPATCH_NOT_SUPPORTED)
#undef ISIG_DISPATCH_NOT_SUPPORTED

} // namespace isig
