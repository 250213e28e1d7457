#ifndef ISTD_PROG_OPT_MULTI_VAL_H
#define ISTD_PROG_OPT_MULTI_VAL_H

// A command-line option value of a bounded number of words, for Boost.program_options.
//
//     std::vector<std::string> debug;
//     general.add_options()("debug,d", new istd::ProgOptMultiVal<std::string>(&debug, 0, 2), "file level");
//
// The parser hands the option up to max words that are not options themselves. Each word is
// converted by istd::FromString<T> (text unchanged; integers in decimal, or hexadecimal after
// "0x") and appended to the bound list, and the variables map holds a copy of the whole list.
// A second occurrence of the option fails with "Non-composing value with multiple
// occurrences."; a word that does not convert with "Invalid option value: " and the reason.

#include <string>
#include <vector>

#include <boost/any.hpp>
#include <boost/program_options/errors.hpp>
#include <boost/program_options/value_semantic.hpp>

#include "istd/convert.h"

namespace istd {

template <class T>
class ProgOptMultiVal : public boost::program_options::value_semantic {
public:
    // values receives the words; it must outlive the parsing.
    ProgOptMultiVal(std::vector<T>* values, unsigned minTokens, unsigned maxTokens)
        : m_values(values), m_min(minTokens), m_max(maxTokens)
    {
    }

    std::string name() const override { return "arg"; }
    unsigned min_tokens() const override { return m_min; }
    unsigned max_tokens() const override { return m_max; }
    bool is_composing() const override { return false; }
    bool is_required() const override { return false; }

    void parse(boost::any& slot, const std::vector<std::string>& tokens, bool /*utf8*/) const override
    {
        if (!slot.empty()) {
            boost::program_options::multiple_occurrences error;
            error.m_error_template = "Non-composing value with multiple occurrences.";
            throw error;
        }
        try {
            for (const std::string& token : tokens) {
                m_values->push_back(FromString<T>(token));
            }
            slot = *m_values;
        } catch (const std::exception& e) {
            boost::program_options::invalid_option_value error(e.what());
            error.m_error_template = "Invalid option value: %value%";
            throw error;
        }
    }

    bool apply_default(boost::any&) const override { return false; }
    void notify(const boost::any&) const override {}

private:
    std::vector<T>* m_values;
    unsigned m_min;
    unsigned m_max;
};

} // namespace istd

#endif
