#include "ireg/reg_reference_bit_node.h"

#include <array>

#include "ireg/ireg_export.h"
#include "ireg/reg_exec_node.h"
#include "isig/signal_types.h"
#include "istd/trace.h"

namespace ireg {

namespace {

// Enough stripes that unrelated words rarely wait for each other; each on its own cache line so
// that writers of different stripes do not share one.
constexpr size_t c_wordLockStripes = 256;

struct alignas(64) PaddedMutex {
    std::mutex mutex;
};

std::array<PaddedMutex, c_wordLockStripes>& WordLocks()
{
    static std::array<PaddedMutex, c_wordLockStripes> locks;
    return locks;
}

} // namespace

std::mutex& WordLock(const volatile void* word)
{
    // Words are 4 or 8 bytes apart, so the low bits say nothing; fold in higher ones so that
    // the same offset in different pages spreads as well.
    const auto address = reinterpret_cast<uintptr_t>(word);
    const size_t index = ((address >> 2) ^ (address >> 12)) % c_wordLockStripes;
    return WordLocks()[index].mutex;
}

// The instantiations the registry provides; others are made where they are used.
template class RegReferenceNode<bool, bool>;
template class RegReferenceNode<int32_t, int32_t>;
template class RegReferenceNode<uint32_t, uint32_t>;
template class RegReferenceNode<int64_t, int64_t>;
template class RegReferenceNode<uint64_t, uint64_t>;
template class RegReferenceNode<double, double>;
template class RegReferenceNode<float, float>;
template class RegReferenceNode<std::string, std::string>;
template class RegReferenceNode<int32_t, volatile int32_t>;
template class RegReferenceNode<uint32_t, volatile uint32_t>;
template class RegReferenceNode<int64_t, volatile int64_t>;
template class RegReferenceNode<uint64_t, volatile uint64_t>;

template class RegFncNode<bool>;
template class RegFncNode<int32_t>;
template class RegFncNode<uint32_t>;
template class RegFncNode<int64_t>;
template class RegFncNode<uint64_t>;
template class RegFncNode<double>;
template class RegFncNode<float>;
template class RegFncNode<std::string>;

template class RegValueEnumNode<istd::TraceLevel_e>;
template class RegReferenceEnumNode<istd::TraceLevel_e>;
template class RegFncEnumNode<istd::TraceLevel_e>;
template class RegValueEnumNode<isig::AtomType_e>;
template class RegValueEnumNode<isig::AccessType_e>;
template class RegValueEnumNode<mci::enums::NodeCommand_e>;

template class RegReferenceBitNode<bool, volatile uint32_t>;
template class RegReferenceBitNode<bool, volatile uint64_t>;
template class RegReferenceBitNode<uint32_t, volatile uint32_t>;
template class RegReferenceBitNode<uint32_t, volatile uint64_t>;
template class RegReferenceBitNode<istd::TraceLevel_e, volatile uint64_t>;
template class RegReferenceEnumBitNode<istd::TraceLevel_e, volatile uint64_t>;

// The kinds a memory block described at run time is laid out with (the runtime registry
// builder): every value type over its element, every integer type over a field of a 32-bit
// word.
template class IREG_API RegReferenceNode<bool, volatile bool>;
template class IREG_API RegReferenceNode<double, volatile double>;
template class IREG_API RegReferenceNode<float, volatile float>;
template class IREG_API RegReferenceBitNode<int32_t, volatile uint32_t>;
template class IREG_API RegReferenceBitNode<int64_t, volatile uint32_t>;
template class IREG_API RegReferenceBitNode<uint64_t, volatile uint32_t>;

} // namespace ireg
