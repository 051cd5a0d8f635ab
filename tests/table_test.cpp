// Model tables: type texts, condition texts, lookups and number conversion.
#include "table.h"

#include <algorithm>
#include <cstdint>
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

// The state index keys its open-addressing table by std::hash truncated to
// 32 bits, the slot by the low bits of that. Collisions are made certain
// by search rather than left to chance: the search uses the same hash, and
// finds what it needs whatever the standard library's hash is.
uint32_t indexHash(const std::string& name)
{
    return static_cast<uint32_t>(std::hash<std::string>()(name));
}

// Pairs of names with one 32-bit hash (the birthday bound: about one pair
// per 93,000 names, so 400,000 give several).
std::vector<std::pair<std::string, std::string>> equalHashes(size_t wanted)
{
    std::vector<std::pair<uint32_t, int>> hashes;
    for (int i = 0; i < 400000; i++)
        hashes.emplace_back(indexHash("H" + std::to_string(i)), i);
    std::sort(hashes.begin(), hashes.end());
    std::vector<std::pair<std::string, std::string>> pairs;
    for (size_t i = 1; i < hashes.size() && pairs.size() < wanted; i++)
        if (hashes[i].first == hashes[i - 1].first)
            pairs.emplace_back("H" + std::to_string(hashes[i - 1].second),
                               "H" + std::to_string(hashes[i].second));
    return pairs;
}

// Names whose hashes end in 16 one-bits: in every table of up to 65,536
// slots they want the last slot, so they collide there and their probes
// wrap round to the first.
std::vector<std::string> lastSlotNames(size_t wanted)
{
    std::vector<std::string> names;
    for (int i = 0; names.size() < wanted; i++)
        if ((indexHash("L" + std::to_string(i)) & 0xffff) == 0xffff)
            names.push_back("L" + std::to_string(i));
    return names;
}

TEST_F(Tables, StateIndexKeepsCollidingNamesApart)
{
    auto pairs = equalHashes(4);
    ASSERT_GE(pairs.size(), 2u);
    auto crowd = lastSlotNames(8);
    // First the colliding names, then enough others to grow the index from
    // 1,024 to 16,384 slots, so that every collision is carried through
    // each growth. The second name of the last pair is never added.
    std::vector<std::string> names;
    for (size_t p = 0; p < pairs.size(); p++) {
        names.push_back(pairs[p].first);
        if (p + 1 < pairs.size())
            names.push_back(pairs[p].second);
    }
    names.insert(names.end(), crowd.begin(), crowd.end());
    for (int i = 0; i < 5000; i++)
        names.push_back("F" + std::to_string(i));
    // Each name is a target first, then a source, as rows bring them.
    for (size_t i = 0; i + 1 < names.size(); i++)
        add_state(names[i], "", names[i + 1]);

    for (size_t i = 0; i < names.size(); i++) {
        EXPECT_EQ(state_number(names[i]), static_cast<int>(i)) << names[i];
        EXPECT_EQ(state_name(static_cast<int>(i)), names[i]);
    }
    EXPECT_EQ(state_number(pairs.back().second), -1) << "shares a hash with " << pairs.back().first;
    EXPECT_FALSE(comp_state(pairs.back().second));
    for (const std::string& absent : lastSlotNames(12))
        if (std::find(crowd.begin(), crowd.end(), absent) == crowd.end()) {
            EXPECT_FALSE(comp_state(absent)) << absent;
        }
    EXPECT_EQ(state_type_order().size(), names.size());
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
