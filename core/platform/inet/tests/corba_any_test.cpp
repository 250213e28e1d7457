#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "inet/corba_any.h"
#include "inet/remote_path.h"
#include "istd/trace_capture.h"

namespace {

// One row: a local value, the TypeCode the CORBA value must carry, and a check of its content.
struct Case {
    const char* what;
    istd::Any value;
    CORBA::TypeCode_ptr type;
    std::function<bool(const CORBA::Any&)> holds;
};

template <class CorbaT>
std::function<bool(const CORBA::Any&)> Scalar(CorbaT expected)
{
    return [expected](const CORBA::Any& any) {
        CorbaT got{};
        return (any >>= got) && got == expected;
    };
}

template <class SEQ, class T>
std::function<bool(const CORBA::Any&)> Sequence(std::vector<T> expected)
{
    return [expected](const CORBA::Any& any) {
        const SEQ* seq = nullptr;
        if (!(any >>= seq) || seq->length() != expected.size()) {
            return false;
        }
        for (CORBA::ULong i = 0; i < seq->length(); ++i) {
            if (!(T((*seq)[i]) == expected[i])) {
                return false;
            }
        }
        return true;
    };
}

TEST(AnyToCorbaAny, EveryScalarAndVectorKindTakesItsCorbaType)
{
    constexpr int64_t i64 = std::numeric_limits<int64_t>::min();
    constexpr uint64_t u64 = std::numeric_limits<uint64_t>::max();
    const std::vector<Case> cases{
        {"int", istd::Any(int(-7)), CORBA::_tc_long, Scalar<CORBA::Long>(-7)},
        {"unsigned", istd::Any(4000000000u), CORBA::_tc_ulong, Scalar<CORBA::ULong>(4000000000u)},
        {"long", istd::Any(long(i64)), CORBA::_tc_longlong, Scalar<CORBA::LongLong>(i64)},
        {"unsigned long", istd::Any(static_cast<unsigned long>(u64)), CORBA::_tc_ulonglong,
         Scalar<CORBA::ULongLong>(u64)},
        {"long long", istd::Any(static_cast<long long>(i64)), CORBA::_tc_longlong, Scalar<CORBA::LongLong>(i64)},
        {"unsigned long long", istd::Any(static_cast<unsigned long long>(u64)), CORBA::_tc_ulonglong,
         Scalar<CORBA::ULongLong>(u64)},
        {"double", istd::Any(0.1), CORBA::_tc_double, Scalar<CORBA::Double>(0.1)},
        {"float", istd::Any(1.5f), CORBA::_tc_float, Scalar<CORBA::Float>(1.5f)},
        {"string", istd::Any(std::string("text")), CORBA::_tc_string,
         [](const CORBA::Any& any) {
             const char* s = nullptr;
             return (any >>= s) && std::string(s) == "text";
         }},
        {"bool", istd::Any(true), CORBA::_tc_boolean,
         [](const CORBA::Any& any) {
             CORBA::Boolean b = 0;
             return (any >>= CORBA::Any::to_boolean(b)) && b == 1;
         }},
        {"vector<bool>", istd::Any(std::vector<bool>{true, false, true}), i_NET::_tc_BooleanBuffer,
         Sequence<i_NET::BooleanBuffer, CORBA::Boolean>({1, 0, 1})},
        {"vector<int>", istd::Any(std::vector<int>{-1, 2}), i_NET::_tc_Int32Buffer,
         Sequence<i_NET::Int32Buffer, CORBA::Long>({-1, 2})},
        {"vector<unsigned>", istd::Any(std::vector<unsigned>{3u}), i_NET::_tc_UInt32Buffer,
         Sequence<i_NET::UInt32Buffer, CORBA::ULong>({3u})},
        {"vector<long>", istd::Any(std::vector<long>{i64, 5}), i_NET::_tc_Int64Buffer,
         Sequence<i_NET::Int64Buffer, CORBA::LongLong>({i64, 5})},
        {"vector<unsigned long>", istd::Any(std::vector<unsigned long>{u64}), i_NET::_tc_UInt64Buffer,
         Sequence<i_NET::UInt64Buffer, CORBA::ULongLong>({u64})},
        {"vector<long long>", istd::Any(std::vector<long long>{i64}), i_NET::_tc_Int64Buffer,
         Sequence<i_NET::Int64Buffer, CORBA::LongLong>({i64})},
        {"vector<unsigned long long>", istd::Any(std::vector<unsigned long long>{u64, 0}), i_NET::_tc_UInt64Buffer,
         Sequence<i_NET::UInt64Buffer, CORBA::ULongLong>({u64, 0})},
        {"vector<double>", istd::Any(std::vector<double>{0.5, -2.25}), i_NET::_tc_DoubleBuffer,
         Sequence<i_NET::DoubleBuffer, CORBA::Double>({0.5, -2.25})},
        {"vector<float>", istd::Any(std::vector<float>{}), i_NET::_tc_FloatBuffer,
         Sequence<i_NET::FloatBuffer, CORBA::Float>({})},
        {"vector<string>", istd::Any(std::vector<std::string>{"a", "", "c"}), i_NET::_tc_StringBuffer,
         Sequence<i_NET::StringBuffer, std::string>({"a", "", "c"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CORBA::Any out;
        out <<= CORBA::Long(99); // whatever was there before goes
        inet::AnyToCorbaAny(c.value, out);
        CORBA::TypeCode_var type = out.type();
        // Exact TypeCode, alias name included: the registry's write path relies on the alias.
        EXPECT_TRUE(type->equal(c.type)) << type->kind();
        EXPECT_TRUE(c.holds(out));
    }
}

TEST(AnyToCorbaAny, EmptyAndUnknownValuesGiveAnEmptyAnyAndATrace)
{
    istd::TraceCapture capture(istd::eTraceWarning);
    const std::vector<std::pair<istd::Any, std::string>> cases{
        {istd::Any(), "empty value"},
        {istd::Any(short(1)), "unsupported type short"},
        {istd::Any(std::vector<short>{1}), "unsupported type std::vector<short"},
        {istd::Any("literal"), "unsupported type char const*"},
    };
    for (const auto& [value, trace] : cases) {
        SCOPED_TRACE(trace);
        CORBA::Any out;
        out <<= CORBA::Long(99);
        inet::AnyToCorbaAny(value, out);
        CORBA::TypeCode_var type = out.type();
        EXPECT_EQ(type->kind(), CORBA::tk_null);
        EXPECT_TRUE(capture.Contains(trace)) << capture.Text();
    }
}

TEST(CorbaAnyToLocalSeq, TakesAStringSequenceWholeAndLeavesOtherValuesAlone)
{
    i_NET::StringBuffer seq;
    seq.length(2);
    seq[0] = "first";
    seq[1] = "second";
    CORBA::Any strings;
    strings <<= seq;

    std::vector<std::string> longer{"x", "y", "z"};
    EXPECT_TRUE((inet::CorbaAnyToLocalSeq<i_NET::StringBuffer, std::string>(strings, longer)));
    EXPECT_EQ(longer, (std::vector<std::string>{"first", "second"}));
    std::vector<std::string> shorter;
    EXPECT_TRUE((inet::CorbaAnyToLocalSeq<i_NET::StringBuffer, std::string>(strings, shorter)));
    EXPECT_EQ(shorter, (std::vector<std::string>{"first", "second"}));

    i_NET::Int32Buffer numbers;
    numbers.length(1);
    CORBA::Any notStrings;
    notStrings <<= numbers;
    CORBA::Any scalar;
    scalar <<= "first";
    const CORBA::Any empty;
    for (const CORBA::Any* other : std::vector<const CORBA::Any*>{&notStrings, &scalar, &empty}) {
        std::vector<std::string> kept{"kept"};
        EXPECT_FALSE((inet::CorbaAnyToLocalSeq<i_NET::StringBuffer, std::string>(*other, kept)));
        EXPECT_EQ(kept, std::vector<std::string>{"kept"});
    }

    // A round trip through both conversions.
    CORBA::Any any;
    inet::AnyToCorbaAny(istd::Any(std::vector<std::string>{"p", "q"}), any);
    std::vector<std::string> back;
    EXPECT_TRUE((inet::CorbaAnyToLocalSeq<i_NET::StringBuffer, std::string>(any, back)));
    EXPECT_EQ(back, (std::vector<std::string>{"p", "q"}));
}

TEST(RemotePath, ConvertsElementByElementBothWays)
{
    const std::vector<mci::Path> paths{{}, {"boards"}, {"boards", "pax-1", "trigger", ""}};
    for (const mci::Path& path : paths) {
        const i_NET::NodeNames names = mci::PathToRemoteNodeNames(path);
        ASSERT_EQ(names.length(), path.size());
        for (size_t i = 0; i < path.size(); ++i) {
            EXPECT_EQ(std::string(names[static_cast<CORBA::ULong>(i)]), path[i]);
        }
        EXPECT_EQ(mci::RemoteNodeNamesToPath(names), path);
    }
    // A name with a NUL travels cut at the NUL, as every CORBA string does.
    const i_NET::NodeNames cut = mci::PathToRemoteNodeNames({std::string("ab\0cd", 5)});
    EXPECT_EQ(mci::RemoteNodeNamesToPath(cut), mci::Path{"ab"});
}

} // namespace
