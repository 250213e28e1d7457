#include "istd/any.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/error_of.h"

namespace {

struct SensorId {
    int number;
};

using testsupport::ErrorOf;

TEST(AnyReference, ReadsAndWritesTheCallersVariable)
{
    unsigned int result = 0;
    const SensorId id{4};
    std::vector<istd::AnyReference> args{istd::AnyReference(id)};
    istd::AnyReference res(result);

    const SensorId& in = args[0];
    EXPECT_EQ(&in, &id);
    res = 42u;
    EXPECT_EQ(result, 42u);
    unsigned int& out = res;
    out = 7;
    EXPECT_EQ(result, 7u);
    EXPECT_EQ(res.StrictCast<unsigned int>("ctx")->m_ptr, &result);
}

TEST(AnyReference, CopiesReferToTheSameObjectAndOwnOnlyTheirHolder)
{
    std::string text = "a";
    istd::AnyReference original(text);
    istd::AnyReference copy(original);
    istd::AnyReference assigned;
    assigned = copy;
    copy = std::string("b");
    EXPECT_EQ(text, "b");
    static_cast<std::string&>(assigned) += "c";
    EXPECT_EQ(text, "bc");

    // A non-const AnyReference lvalue is copied, not wrapped as an object of its own.
    istd::AnyReference& lvalue = original;
    istd::AnyReference fromLvalue(lvalue);
    EXPECT_EQ(fromLvalue.Type(), typeid(std::string));

    const istd::AnyReference empty;
    istd::AnyReference emptyCopy(empty);
    EXPECT_TRUE(emptyCopy.IsEmpty());
    // Destroying every AnyReference leaves the object alone (ASan would report otherwise).
}

TEST(AnyReference, TypeCheckFailures)
{
    int number = 1;
    const SensorId constId{2};
    SensorId id{3};
    istd::AnyReference wrappedInt(number);
    istd::AnyReference wrappedConst(constId);
    istd::AnyReference wrappedMutable(id);
    istd::AnyReference nothing;

    EXPECT_EQ(ErrorOf([&] { int& x = nothing; (void)x; }), "AnyReference: nothing wrapped.");
    EXPECT_EQ(ErrorOf([&] { nothing = 5; }), "AnyReference: nothing wrapped.");
    EXPECT_EQ(ErrorOf([&] { nothing.StrictCast<int>("ctx"); }), "AnyReference: nothing wrapped.");

    EXPECT_EQ(ErrorOf([&] { wrappedInt.StrictCast<unsigned short>("bmc: FpgaSpiRead"); }),
              "bmc: FpgaSpiRead: type mismatch, holds int, requested unsigned short");
    EXPECT_EQ(ErrorOf([&] { double& d = wrappedInt; (void)d; }),
              "AnyReference: conversion to double: type mismatch, holds int, requested double");

    // Constness must match exactly in both directions.
    EXPECT_NE(ErrorOf([&] { SensorId& s = wrappedConst; (void)s; }).find("type mismatch"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { wrappedConst = SensorId{9}; }).find("type mismatch"), std::string::npos);
    EXPECT_EQ(constId.number, 2);
    EXPECT_NE(ErrorOf([&] { const SensorId& s = wrappedMutable; (void)s; }).find("type mismatch"),
              std::string::npos);
    EXPECT_EQ(ErrorOf([&] { wrappedMutable.StrictCast<const SensorId>("ctx"); }).rfind("ctx (wrapped non-const)", 0),
              0u);
    EXPECT_EQ(ErrorOf([&] { const SensorId& s = wrappedConst; (void)s; }), "no error");
}

TEST(AnyReference, ThrowTypeExceptionText)
{
    EXPECT_EQ(ErrorOf([] { istd::AnyReference::ThrowTypeException("ctx", typeid(int), typeid(std::string)); }),
              "ctx: type mismatch, holds int, requested std::string");
}

TEST(Any, CarriesValuesAndVectors)
{
    istd::Any a = std::vector<bool>{true, false};
    EXPECT_EQ(std::any_cast<std::vector<bool>>(a)[0], true);
    a = 5u;
    EXPECT_EQ(std::any_cast<unsigned>(a), 5u);
}

} // namespace
