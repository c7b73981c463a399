#pragma once
// The IBIS-AMI parameter string grammar. Internal to the parse driver in ami_tree.cpp.
//
// Names are ASCII letters, digits and underscores. Values and comments take any byte their
// delimiters allow, bytes of 128 and above included, so a folder or file name in UTF-8 (an
// install path in DLL_Path, say) reads as written. Whitespace (codes 9-13 and 32) is skipped
// before every token except inside the lexemes `name`, `quoted`, `bare` and `comment`.
// param_layout.cpp scans by the same rules; a change here goes there too.
#include <boost/fusion/include/adapt_struct.hpp>
#include <boost/range/iterator_range.hpp>
#include <boost/spirit/include/qi.hpp>
#include <cstddef>
#include <map>
#include <vector>

#include "framework/ami_tree.hpp"

BOOST_FUSION_ADAPT_STRUCT(ts_ami::AmiTree, name, children)

namespace ts_ami {

namespace qi = boost::spirit::qi;

// Thrown from inside the grammar when lists nest deeper than the parser's limit; the driver
// reports it as a parse failure at the list that went too deep.
template <class It>
struct NestingTooDeep {
    It position;
};

template <class It>
struct AmiSkipper : qi::grammar<It> {
    AmiSkipper() : AmiSkipper::base_type(space) { space = qi::char_('\t', '\r') | qi::char_(' '); }
    qi::rule<It> space;
};

template <class It>
struct AmiGrammar : qi::grammar<It, AmiTree(), AmiSkipper<It>> {
    using Skipper = AmiSkipper<It>;

    explicit AmiGrammar(std::size_t maxNesting)
        : AmiGrammar::base_type(tree), maxNesting_(maxNesting) {
        using qi::char_;
        using qi::eps;
        using qi::lexeme;
        using qi::lit;
        using qi::omit;

        // A list that failed to close at one position fails there whatever surrounds it, so
        // it is not read again. Without that, a failed list is re-read by every enclosing level
        // that falls back on a bare value, and a few hundred characters of unclosed, nested
        // lists take exponential time. The answer is reused only at the same nesting or less,
        // where the nesting limit cannot be reached where it was not reached before.
        auto open = [this](const boost::iterator_range<It>& r, qi::unused_type, bool& pass) {
            const auto known = failedLists_.find(r.begin());
            if (known != failedLists_.end() && nesting_ <= known->second) {
                pass = false;
                return;
            }
            openLists_.push_back(r.begin());
        };
        auto enter = [this]() {
            if (++nesting_ > maxNesting_) throw NestingTooDeep<It>{openLists_.back()};
        };
        auto close = [this]() {
            --nesting_;
            openLists_.pop_back();
        };
        auto fail = [this]() {
            --nesting_;
            failedLists_[openLists_.back()] = nesting_;
            openLists_.pop_back();
        };
        // A list whose name does not match leaves its start behind too.
        auto forget = [this]() { openLists_.pop_back(); };

        // A name is a whole word: whatever follows it must be able to start the next token.
        // Otherwise `(a-b 1)` would read as the list `a` holding the text `-b 1`.
        name = lexeme[+char_("a-zA-Z0-9_") >> &(char_('\t', '\r') | char_(" ()\"|") | qi::eoi)];
        quoted = lexeme['"' >> +~char_('"') >> '"'];
        bare = lexeme[+~char_(')')];
        comment = lexeme['|' >> *~char_('\n') >> '\n'];
        // A quoted value that finds no closing quote has already read characters into the
        // value: hold[] drops them, so the bare value that takes over starts from nothing.
        value = qi::hold[quoted] | bare;
        // A comment is tried first; after it only a list or a value may follow (a second
        // comment is read as a bare value). A comment with nothing after it still adds one
        // element: the default, an empty nested list.
        node = (omit[comment] >> tree) | (omit[comment] >> value) |
               (omit[comment] >> qi::attr(AmiTree())) | tree | value;
        // Semantic actions switch off automatic attribute propagation unless `%=` is used.
        // The nesting count goes up once the list has started and down again whether or not
        // the list closes, so backtracking keeps it balanced.
        tree %= omit[qi::raw[lit('(')][open]] >> (name | (eps[forget] >> !eps)) >> eps[enter] >>
                *node >> (lit(')')[close] | (eps[fail] >> !eps));
    }

    AmiGrammar(const AmiGrammar&) = delete;
    AmiGrammar& operator=(const AmiGrammar&) = delete;

    qi::rule<It, AmiTree(), Skipper> tree;
    qi::rule<It, AmiNode(), Skipper> node;
    qi::rule<It, std::string(), Skipper> value;
    qi::rule<It, std::string(), Skipper> name;
    qi::rule<It, std::string(), Skipper> quoted;
    qi::rule<It, std::string(), Skipper> bare;
    qi::rule<It, Skipper> comment;

  private:
    std::size_t maxNesting_;
    std::size_t nesting_ = 0;
    std::vector<It> openLists_;              // starts of the lists being read, innermost last
    std::map<It, std::size_t> failedLists_;  // list start -> nesting at which it failed to close
};

}  // namespace ts_ami
