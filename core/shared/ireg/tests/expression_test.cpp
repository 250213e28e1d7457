// Validator expressions: operand counts, refused types, text forms and the two exceptions.

#include <gtest/gtest.h>

#include <sstream>

#include "common/ireg_test_util.h"
#include "ireg/non_terminal.h"
#include "ireg/reg_value_node.h"
#include "ireg/terminal.h"
#include "tests/support/error_of.h"

using testsupport::ErrorOf;
using ireg::Arity;
using ireg::ExpressionPtr;
using ireg::NonTerminal;
using ireg::Terminal;

namespace {

// A leaf that takes only unsigned 32-bit values, below a bound.
class Below : public Terminal {
public:
    explicit Below(uint32_t bound) : Terminal("below"), m_bound(bound) {}
    using Terminal::OnEvaluate;
    bool OnEvaluate(const uint32_t& value) const override { return value < m_bound; }
    std::string ToText() const override { return "(x < " + ireg::expr::ParamToString(m_bound) + ")"; }

private:
    uint32_t m_bound;
};

ExpressionPtr Leaf(const std::string& name)
{
    return std::make_shared<Terminal>(name);
}

TEST(Expression, OperandCountsByArity)
{
    struct Case {
        int32_t arity;
        unsigned count;
        const char* error; // nullptr: accepted
    };
    const Case cases[] = {
        {2, 2, nullptr},   {2, 1, "OP: expected 2 arguments."}, {2, 3, "OP: expected 2 arguments."},
        {3, 2, nullptr},   {3, 7, nullptr},
        {3, 1, "OP: expected at least 2 arguments."},           {9, 0, "OP: expected at least 2 arguments."},
        {1, 0, nullptr},   {1, 1, nullptr},
        {1, 2, "OP: too many arguments."},
        {0, 0, nullptr},   {0, 1, "OP: too many arguments."},   {-4, 0, nullptr},
        {-4, 1, "OP: too many arguments."},
    };
    for (const Case& c : cases) {
        NonTerminal e("OP", c.arity);
        const std::string error = ErrorOf([&] { e.VerifyArity(c.count); });
        EXPECT_EQ(error, c.error ? c.error : "no error") << "arity " << c.arity << " count " << c.count;
    }
}

TEST(Expression, SetChecksTheCountAddDoesNot)
{
    auto e = std::make_shared<NonTerminal>("OP", 2);
    const ExpressionPtr p = Leaf("P"), q = Leaf("Q"), r = Leaf("R");
    e->Set({p, q});
    EXPECT_EQ(ErrorOf([&] { e->Set({p, q, r}); }), "OP: expected 2 arguments.");
    EXPECT_EQ(e->Get(), (std::vector<ExpressionPtr>{p, q})); // unchanged

    e->Add(r);
    EXPECT_EQ(e->Get().size(), 3u);
    // The count is found at evaluation, before the type is looked at.
    EXPECT_EQ(ErrorOf([&] { e->Evaluate(1); }), "OP: expected 2 arguments.");

    // With the right count, an operator without OnEvaluate refuses the type.
    auto ok = std::make_shared<NonTerminal>("OP", 2);
    ok->Set({p, q});
    EXPECT_EQ(ErrorOf([&] { ok->Evaluate(1); }), "OP: Invalid type int32_t in validation.");
}

TEST(Expression, ALeafHasNoOperands)
{
    Terminal t("OP");
    EXPECT_EQ(t.GetArity().Value(), 0);
    EXPECT_TRUE(t.Get().empty());
    ExpressionPtr p = Leaf("P");
    EXPECT_EQ(ErrorOf([&] { t.Add(p); }), "OP: Can't add operands.");
    EXPECT_EQ(ErrorOf([&] { t.Add(Leaf("Q")); }), "OP: Can't add operands.");
    EXPECT_EQ(ErrorOf([&] { t.Set({p}); }), "OP: Can't set operands.");
    const std::initializer_list<ExpressionPtr> list{p};
    EXPECT_EQ(ErrorOf([&] { t.Set(list); }), "OP: Can't set operands.");
}

TEST(Expression, EachTypeWithoutOverrideIsASyntaxError)
{
    Below below(10);
    EXPECT_TRUE(below.Evaluate(9u));
    EXPECT_FALSE(below.Evaluate(10u));
    const std::vector<std::pair<std::function<void()>, std::string>> cases{
        {[&] { below.Evaluate(std::string("a")); }, "std::string"},
        {[&] { below.Evaluate("a"); }, "std::string"},
        {[&] { below.Evaluate(int64_t(1)); }, "int64_t"},
        {[&] { below.Evaluate(uint64_t(1)); }, "uint64_t"},
        {[&] { below.Evaluate(int32_t(1)); }, "int32_t"},
        {[&] { below.Evaluate(1.0); }, "double"},
        {[&] { below.Evaluate(1.0f); }, "float"},
        {[&] { below.Evaluate(true); }, "bool"},
    };
    for (const auto& c : cases) {
        try {
            c.first();
            ADD_FAILURE() << c.second << " accepted";
        } catch (const ireg::SyntaxError& e) {
            EXPECT_EQ(std::string(e.what()), "below: Invalid type " + c.second + " in validation.");
        }
    }
}

TEST(Expression, TextForms)
{
    const ExpressionPtr p = Leaf("P"), q = Leaf("Q"), r = Leaf("R");
    struct Case {
        int32_t arity;
        std::vector<ExpressionPtr> operands;
        std::string text;
    };
    const std::vector<Case> cases{
        {2, {p, q}, "(T[P] OP T[Q])"},
        {3, {p, q, r}, "(T[P] OP T[Q] OP T[R])"},
        {1, {p}, "OP T[P]"},
        {1, {}, "OP "},
        {2, {}, "()"},
        {0, {}, "()"},
    };
    for (const Case& c : cases) {
        NonTerminal e("OP", c.arity);
        for (const ExpressionPtr& operand : c.operands) {
            e.Add(operand);
        }
        EXPECT_EQ(e.ToText(), c.text);
    }
    // Operands contribute their own (overridden) texts.
    NonTerminal nested("and", 2);
    nested.Set({std::make_shared<Below>(5), std::make_shared<NonTerminal>("not", 1)});
    EXPECT_EQ(nested.ToText(), "((x < 5) and not )");
}

TEST(Expression, ArityAsText)
{
    const std::vector<std::pair<int32_t, std::string>> cases{
        {0, "nullary"}, {1, "unary"}, {2, "binary"}, {3, "n-ary"}, {1000, "n-ary"}, {-1, "nullary"}};
    for (const auto& c : cases) {
        std::ostringstream os;
        os << Arity(c.first);
        EXPECT_EQ(os.str(), c.second);
    }
}

TEST(Expression, ValidationErrorQuotesTheValidatorAndTheValue)
{
    const ExpressionPtr op = Leaf("OP");
    const ireg::ValidationError error(op, "7");
    EXPECT_EQ(std::string(error.what()), "Validation failed: T[OP] for 7");
    // Both exceptions are istd::Exceptions, which is what a node catches.
    EXPECT_NE(dynamic_cast<const istd::Exception*>(&error), nullptr);
    const ireg::SyntaxError syntax("OP", "text");
    EXPECT_EQ(std::string(syntax.what()), "OP: text");
    EXPECT_NE(dynamic_cast<const istd::Exception*>(&syntax), nullptr);
}

TEST(Expression, OwningPointerNeedsAnOwner)
{
    auto owned = std::make_shared<Terminal>("OP");
    ExpressionPtr back = *owned;
    EXPECT_EQ(back, owned);
    Terminal loose("OP");
    EXPECT_THROW(static_cast<void>(static_cast<ExpressionPtr>(loose)), std::bad_weak_ptr);
}

TEST(Expression, ParametersAsText)
{
    EXPECT_EQ(ireg::expr::ParamToString(42), "42");
    EXPECT_EQ(ireg::expr::ParamToString(-1.5), "-1.5");
    EXPECT_EQ(ireg::expr::ParamToString(1.0 / 3.0), "0.333333");
    auto node = mci::factory::Create<ireg::RegValueNode<int32_t>>("limit", 12);
    EXPECT_EQ(ireg::expr::ParamToString(mci::Node(node, mci::c_noRelPath)), "{limit=12}");
}

} // namespace
