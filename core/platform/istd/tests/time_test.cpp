#include "istd/time.h"

#include "istd/exception.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

std::string Print(const istd::Time& t)
{
    std::ostringstream os;
    os << t;
    return os.str();
}

TEST(Time, ConstructorsPickTheirMeaning)
{
    EXPECT_EQ(istd::Time(3).Presentation(), 3); // a code alone, zero time
    EXPECT_EQ(istd::Time(3).Sec(), 0);
    EXPECT_EQ(istd::Time(0), istd::Time(0, 0));
    EXPECT_EQ(istd::Time(10u).Sec(), 10); // unsigned: seconds
    EXPECT_EQ(istd::Time(4000000000ul).Sec(), 4000000000);
    EXPECT_EQ(istd::Time(5ull).Sec(), 5);
    const istd::Time t(1, 1500000000);
    EXPECT_EQ(t.Sec(), 2);
    EXPECT_EQ(t.NSec(), 500000000);
    const istd::Time n(0, -1);
    EXPECT_EQ(n.Sec(), -1);
    EXPECT_EQ(n.NSec(), 999999999);
}

TEST(Time, ArithmeticAndComparisonIgnorePresentation)
{
    istd::Time a(10, 200);
    istd::Time b(9, 999999900);
    const istd::Time d = a - b;
    EXPECT_EQ(d.Sec(), 0);
    EXPECT_EQ(d.NSec(), 300);
    const istd::Time back = b - a;
    EXPECT_EQ(back.Sec(), -1);
    EXPECT_EQ(back.NSec(), 999999700);
    EXPECT_TRUE(b < a);
    EXPECT_FALSE(a < b);
    EXPECT_FALSE(a < a);
    a.SetPresentation(6, true);
    EXPECT_EQ(a, istd::Time(10, 200));
    EXPECT_TRUE(istd::Time(9, 999999999) < istd::Time(10, 0));

    const istd::Time start = istd::Time::Now(6);
    const istd::Time later = istd::Time::Now(6);
    EXPECT_FALSE(later < start);
    EXPECT_EQ(start.Presentation(), 6);
    EXPECT_GE((later - start).Sec(), 0);
}

TEST(Time, CreateTimeParsesUtc)
{
    const istd::Time t = istd::CreateTime("2010-04-30 12:00:00");
    EXPECT_EQ(t.Sec(), 1272628800);
    EXPECT_EQ(t.NSec(), 0);
    EXPECT_EQ(istd::CreateTime("2010-04-30 13:15:14") - t, istd::Time(4514, 0));
    EXPECT_EQ(istd::CreateTime("1970-01-01 00:00:00").Sec(), 0);
    EXPECT_EQ(Print(t), "2010-04-30 12:00:00");

    for (const char* bad : {"", "2010-04-30", "2010-04-30 12:00", "2010-04-30 12:00:00 ", "2010-02-30 12:00:00",
                            "2010-13-01 00:00:00", "2010-04-30 24:00:00", "2010/04/30 12:00:00",
                            "2010-04-30T12:00:00", "2010-4-30 12:00:000", "+010-04-30 12:00:00"}) {
        EXPECT_THROW(istd::CreateTime(bad), istd::Exception) << bad;
    }
}

TEST(Time, PrintedForms)
{
    istd::Time t(1272628800, 123456789);
    t.SetPresentation(2, true);
    EXPECT_EQ(Print(t), "2010-04-30 12:00:00");
    t.SetPresentation(3, true);
    EXPECT_EQ(Print(t), "2010-04-30 12:00:00.123");
    t.SetPresentation(6, true);
    EXPECT_EQ(Print(t), "2010-04-30 12:00:00.123456");
    EXPECT_EQ(Print(istd::Time(1, 0)), "1.000000000 s");
    EXPECT_EQ(Print(istd::Time(0, 0) - istd::Time(1, 500000000)), "-1.500000000 s");
    EXPECT_EQ(Print(istd::Time(0, -1)), "-0.000000001 s");
    EXPECT_EQ(Print(istd::Time(1272628800u)), "2010-04-30 12:00:00");
}

} // namespace
