// The bounded multi-word option value, through Boost.program_options' own parser.

#include <gtest/gtest.h>

#include <boost/program_options.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "istd/prog_opt_multi_val.h"

namespace {

namespace po = boost::program_options;

// Parses the words (after a program name) with "debug" (0 to 2 texts), "mask" (1 to 3
// unsigned numbers) and a switch; the error text, or "" on success.
struct Parsed {
    std::vector<std::string> debug;
    std::vector<uint32_t> mask;
    po::variables_map map;
    std::string error;
};

Parsed Parse(std::vector<std::string> words)
{
    Parsed p;
    po::options_description options;
    options.add_options()("debug,d", new istd::ProgOptMultiVal<std::string>(&p.debug, 0, 2), "file level")(
        "mask,m", new istd::ProgOptMultiVal<uint32_t>(&p.mask, 1, 3), "masks")("no-daemon,n", "switch");
    words.insert(words.begin(), "app");
    std::vector<const char*> argv;
    for (const std::string& w : words) {
        argv.push_back(w.c_str());
    }
    try {
        po::store(po::command_line_parser(static_cast<int>(argv.size()), argv.data())
                      .options(options)
                      .allow_unregistered()
                      .run(),
                  p.map);
        po::notify(p.map);
    } catch (const std::exception& e) {
        p.error = e.what();
    }
    return p;
}

TEST(ProgOptMultiVal, DescribesItselfToTheParser)
{
    std::vector<int> values;
    istd::ProgOptMultiVal<int> value(&values, 0, 2);
    EXPECT_EQ(value.name(), "arg");
    EXPECT_EQ(value.min_tokens(), 0u);
    EXPECT_EQ(value.max_tokens(), 2u);
    EXPECT_FALSE(value.is_composing());
    boost::any slot;
    EXPECT_FALSE(value.apply_default(slot));
    EXPECT_TRUE(slot.empty());
}

TEST(ProgOptMultiVal, TakesUpToItsMaximumOfWords)
{
    const struct {
        std::vector<std::string> words;
        std::vector<std::string> debug;
        bool given;
    } cases[] = {
        {{"-d", "trace.log", "3"}, {"trace.log", "3"}, true},
        {{"--debug", "trace.log"}, {"trace.log"}, true},
        {{"--debug"}, {}, true},
        {{"--debug", "-n"}, {}, true},
        {{"-n"}, {}, false},
    };
    for (const auto& c : cases) {
        Parsed p = Parse(c.words);
        EXPECT_EQ(p.error, "");
        EXPECT_EQ(p.debug, c.debug);
        ASSERT_EQ(p.map.count("debug"), c.given ? 1u : 0u);
        if (c.given) {
            EXPECT_EQ(p.map["debug"].as<std::vector<std::string>>(), c.debug);
        }
    }
}

TEST(ProgOptMultiVal, NumbersFollowTheNumberRule)
{
    Parsed p = Parse({"-m", "0x10", "7", "4294967295"});
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.mask, (std::vector<uint32_t>{16, 7, 4294967295u}));

    EXPECT_EQ(Parse({"-m", "12abc"}).error, "Invalid option value: Bad cast from 12abc to unsigned int");
    EXPECT_EQ(Parse({"-m", "0x"}).error, "Invalid option value: Bad cast from 0x to unsigned int");
    EXPECT_EQ(Parse({"-m", "-1"}).error, "Invalid option value: Bad cast from -1 to unsigned int");
}

TEST(ProgOptMultiVal, ASecondOccurrenceIsRefused)
{
    Parsed p = Parse({"-d", "a", "1", "--debug", "b"});
    EXPECT_EQ(p.error, "Non-composing value with multiple occurrences.");
    EXPECT_EQ(p.debug, (std::vector<std::string>{"a", "1"})); // the first occurrence's words
}

} // namespace
