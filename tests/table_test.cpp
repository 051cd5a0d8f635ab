// Model tables: type texts, condition texts, lookups and number conversion.
#include "table.h"

#include <gtest/gtest.h>

namespace {

class Tables : public ::testing::Test {
protected:
    void SetUp() override { clear_tables(); }
    void TearDown() override { clear_tables(); }
};

TEST_F(Tables, LookupsOnEmptyListsFindNothing)
{
    EXPECT_FALSE(comp_sig("A"));
    EXPECT_FALSE(comp_sym("A"));
    EXPECT_FALSE(comp_state("A"));
    EXPECT_EQ(sig_width("A"), 0);
}

TEST_F(Tables, SignalTypeFollowsTheTopBitIndex)
{
    struct {
        int pomport;
        const char* typ;
    } cases[] = {{0, " std_logic;"},
                 {3, " std_logic_vector(3 downto 0);"},
                 {999999, " std_logic_vector(999999 downto 0);"}};
    for (auto c : cases) {
        add_sig("S", c.pomport);
        EXPECT_EQ(SignalList.back().typ, c.typ) << c.pomport;
        EXPECT_EQ(SignalList.back().port, ": in");
        EXPECT_EQ(TableSign.typ, c.typ); // the staging record keeps the last row
    }
}

TEST_F(Tables, LookupsAreExactAndLeaveTheCursorOnTheFirstMatch)
{
    add_sig("AB", 0);
    add_sig("CD", 2);
    add_sig("AB", 5); // appends do not check for duplicates
    EXPECT_TRUE(comp_sig("AB"));
    EXPECT_EQ(it_SignalList, SignalList.begin());
    EXPECT_TRUE(comp_sig("CD"));
    EXPECT_EQ(it_SignalList->typ, " std_logic_vector(2 downto 0);");
    EXPECT_EQ(sig_width("CD"), 3);
    EXPECT_EQ(sig_width("AB"), 1);
    for (const char* other : {"ab", "A", "ABC", "AB ", ""}) {
        EXPECT_FALSE(comp_sig(other)) << other;
        EXPECT_EQ(it_SignalList, SignalList.end());
    }
    EXPECT_EQ(SignalList.size(), 3u);

    add_sym("X", "  A = '1'");
    add_sym("Y", "  B = '0'");
    EXPECT_TRUE(comp_sym("Y"));
    EXPECT_EQ(it_SymList->conds, "  B = '0'");
    EXPECT_FALSE(comp_sym("x"));
    EXPECT_FALSE(comp_sym("AB")); // a signal is no symbol
}

TEST_F(Tables, IndexAgreesWithTheListsOverManyRows)
{
    for (int i = 0; i < 2000; i++) {
        add_sig("S" + std::to_string(i), i % 7);
        add_sym("X" + std::to_string(i), "c" + std::to_string(i));
    }
    int row = 0;
    for (const TSignal& s : SignalList) {
        ASSERT_TRUE(comp_sig(s.name));
        EXPECT_EQ(&*it_SignalList, &s);
        EXPECT_EQ(sig_width(s.name), row % 7 + 1);
        row++;
    }
    for (const TSym& s : SymList) {
        ASSERT_TRUE(comp_sym(s.name));
        EXPECT_EQ(&*it_SymList, &s);
    }
    clear_tables();
    EXPECT_FALSE(comp_sig("S1"));
    EXPECT_FALSE(comp_sym("X1"));
    EXPECT_TRUE(SignalList.empty());
}

TEST_F(Tables, AddStateTakesItsArgumentsInRowOrder)
{
    add_state("P", "X", "Q");
    add_state("Q", "", "R");
    ASSERT_EQ(StateList.size(), 2u);
    EXPECT_EQ(StateList.front().inname, "P");
    EXPECT_EQ(StateList.front().prechod, "X");
    EXPECT_EQ(StateList.front().outname, "Q");
    EXPECT_EQ(StateList.back().prechod, "");
    for (const char* state : {"P", "Q", "R"})
        EXPECT_TRUE(comp_state(state)) << state;
    EXPECT_FALSE(comp_state("X")); // a label is no state
}

struct CondRow {
    const char* condoper;
    const char* signal;
    const char* operace;
    const char* konstanta;
};

struct CondCase {
    std::vector<CondRow> rows;
    const char* text;
};

class ConditionText : public ::testing::TestWithParam<CondCase> {
protected:
    void SetUp() override { clear_tables(); }
};

TEST_P(ConditionText, JoinsTheComparisons)
{
    for (const CondRow& r : GetParam().rows)
        add_cond(r.condoper, r.signal, r.operace, r.konstanta);
    EXPECT_EQ(read_cond(), GetParam().text);
    EXPECT_EQ(read_cond(), GetParam().text); // reading leaves the list as it was
    clear_cond();
    EXPECT_EQ(read_cond(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Tables, ConditionText,
    ::testing::Values(
        CondCase{{}, ""},
        CondCase{{{"", "A", "=", "'1'"}}, "  A = '1'"},
        CondCase{{{"", "A", "=", "'1'"}, {"or", "B", "/=", "'0'"}}, "  A = '1' or B /= '0'"},
        CondCase{{{"", "D", ">=", "\"0101\""}, {"and", "S", "/=", "'0'"}},
                 "  D >= \"0101\" and S /= '0'"},
        // AND binds tighter than OR once the two are mixed.
        CondCase{{{"", "X", "=", "'1'"}, {"or", "Y", "=", "'0'"}, {"and", "Z", "=", "'1'"}},
                 "  X = '1' or (Y = '0' and Z = '1')"},
        CondCase{{{"", "X", "=", "'1'"}, {"and", "Y", "=", "'0'"}, {"or", "Z", "=", "'1'"}},
                 "  (X = '1' and Y = '0') or Z = '1'"},
        CondCase{{{"", "A", "<", "'1'"},
                  {"and", "B", ">", "'0'"},
                  {"and", "C", "<=", "'1'"},
                  {"or", "D", "=", "'1'"},
                  {"or", "E", "=", "'1'"},
                  {"and", "F", "=", "'0'"}},
                 "  (A < '1' and B > '0' and C <= '1') or D = '1' or (E = '1' and F = '0')"}));

// The top bit index of a signal is 0 to 999999 (the parser refuses wider
// constants): every one of them must print as a plain integer.
TEST(Stringify, PrintsEveryTopBitIndexPlainly)
{
    EXPECT_EQ(stringify(0), "0");
    EXPECT_EQ(stringify(3), "3");
    EXPECT_EQ(stringify(123456), "123456");
    EXPECT_EQ(stringify(999999), "999999");
}

} // namespace
