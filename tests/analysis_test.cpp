// The analysis's inputs, checked by evaluating every row's condition here:
// for each row that can fire, its input must make exactly that row the first
// of its state to hold; a state's error input must make no row hold.
#include "analysis.h"
#include "support.h"
#include "kiss2.h"
#include "lex.h"
#include "model.h"
#include "parser.h"
#include "table.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <random>

namespace {

using InputVector = std::vector<std::string>;

// Equal-width binary strings compare as unsigned numbers.
bool holds(const Comparison& c, const InputVector& in)
{
    int order = in[c.signal].compare(c.value);
    switch (c.op) {
    case CmpOp::Gt: return order > 0;
    case CmpOp::Lt: return order < 0;
    case CmpOp::Ge: return order >= 0;
    case CmpOp::Le: return order <= 0;
    case CmpOp::Eq: return order == 0;
    case CmpOp::Ne: return order != 0;
    }
    return false;
}

bool rowHolds(const ModelView& view, const ViewRow& row, const InputVector& in)
{
    if (row.symbol < 0)
        return true;
    for (const auto& term : view.symbols[row.symbol].terms) {
        bool all = true;
        for (const Comparison& c : term)
            all = all && holds(c, in);
        if (all)
            return true;
    }
    return false;
}

// The first row of the state that holds, or -1.
int firstHolding(const ModelView& view, const ViewState& state, const InputVector& in)
{
    for (int r : state.rows)
        if (rowHolds(view, view.rows[r], in))
            return r;
    return -1;
}

// Every signal's digits: zero where the input does not name it.
InputVector dense(const ModelView& view, const Input& in)
{
    InputVector out;
    for (const ViewSignal& s : view.signals)
        out.push_back(std::string(s.width, '0'));
    int last = -1;
    for (const InputValue& v : in) {
        EXPECT_GT(v.signal, last) << "not in port order";
        last = v.signal;
        out[v.signal] = input_bits(v);
        EXPECT_NE(out[v.signal], std::string(view.signals[v.signal].width, '0')) << "a zero listed";
    }
    return out;
}

void checkInputs(const ModelView& view, const std::string& name)
{
    Analysis analysis = analyse(view, true, true);
    StateInputs inputs;
    for (size_t s = 0; s < view.states.size(); s++) {
        const ViewState& state = view.states[s];
        analysis.stateInputs(view, static_cast<int>(s), inputs);
        ASSERT_EQ(inputs.rowInputs.size(), state.rows.size()) << name << " " << state.name;
        for (size_t k = 0; k < state.rows.size(); k++) {
            int r = state.rows[k];
            bool fires = analysis.fate[r] == RowFate::Fires;
            ASSERT_EQ(inputs.fires[k], fires) << name << " line " << view.rows[r].line;
            if (!fires)
                continue;
            InputVector in = dense(view, inputs.rowInputs[k]);
            for (size_t g = 0; g < in.size(); g++)
                ASSERT_EQ(in[g].size(), size_t(view.signals[g].width)) << name;
            EXPECT_EQ(firstHolding(view, state, in), r) << name << " line " << view.rows[r].line;
        }
        if (inputs.hasErrorInput) {
            EXPECT_EQ(firstHolding(view, state, dense(view, inputs.errorInput)), -1) << name << " " << state.name;
        }
    }
}

std::vector<std::string> filesIn(const std::string& dir, const std::string& prefix, const std::string& ext)
{
    std::vector<std::string> files;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.compare(0, prefix.size(), prefix) == 0 && n.size() > ext.size() &&
                n.compare(n.size() - ext.size(), ext.size(), ext) == 0)
                files.push_back(dir + "/" + n);
        }
        closedir(d);
    }
    return files;
}

std::string bits(unsigned v, int width)
{
    std::string s(width, '0');
    for (int i = 0; i < width; i++)
        s[width - 1 - i] = char('0' + (v >> i & 1));
    return s;
}

// A random model, built straight as a view: up to 3 signals of up to 5
// bits, symbols of OR-ed AND-terms with constants often at the ends, and
// (by default) up to 3 states and 12 rows.
ModelView randomView(std::mt19937& rng, int maxStates = 3, int maxRows = 12)
{
    auto pick = [&](int n) { return static_cast<int>(rng() % n); };
    ModelView v;
    int nsig = 1 + pick(3);
    for (int s = 0; s < nsig; s++)
        v.signals.push_back(ViewSignal{"S" + std::to_string(s), 1 + pick(5), 0, 0});
    int nsym = 1 + pick(6);
    for (int k = 0; k < nsym; k++) {
        ViewSymbol sym{"X" + std::to_string(k), {}, 0, 0};
        for (int t = 0, nt = 1 + pick(2); t < nt; t++) {
            sym.terms.emplace_back();
            for (int c = 0, nc = 1 + pick(3); c < nc; c++) {
                int s = pick(nsig), w = v.signals[s].width;
                unsigned top = (1u << w) - 1, value = pick(3) == 0 ? (pick(2) ? top : 0) : rng() % (top + 1);
                sym.terms.back().push_back(Comparison{s, static_cast<CmpOp>(pick(6)), bits(value, w)});
            }
        }
        v.symbols.push_back(sym);
    }
    int nst = 1 + pick(maxStates);
    for (int s = 0; s < nst; s++)
        v.states.push_back(ViewState{"Q" + std::to_string(s), {}, 0, 0});
    for (int r = 0, nr = 1 + pick(maxRows); r < nr; r++) {
        int src = pick(nst);
        v.states[src].rows.push_back(static_cast<int>(v.rows.size()));
        v.rows.push_back(ViewRow{src, pick(nst), pick(10) == 0 ? -1 : pick(nsym), r + 1, 0});
    }
    return v;
}

TEST(AnalysisRandom, InputsOfRandomModels)
{
    std::mt19937 rng(12);
    for (int round = 0; round < 3000; round++)
        checkInputs(randomView(rng), "round " + std::to_string(round));
}

// A machine large enough to be analysed in two parts: the second part's
// inputs and shadowing rows must come back where they belong.
TEST(AnalysisRandom, MachineSplitInTwoParts)
{
    std::mt19937 rng(7);
    ModelView view = randomView(rng, 4000, 40000);
    while (view.rows.size() < 20000)
        view = randomView(rng, 4000, 40000);
    checkInputs(view, "large");
    Analysis analysis = analyse(view, true, false);
    for (size_t r = 0; r < view.rows.size(); r++)
        for (int by : analysis.shadowedBy(static_cast<int>(r))) {
            ASSERT_LT(by, static_cast<int>(r));
            ASSERT_EQ(view.rows[by].source, view.rows[r].source);
        }
}

class AnalysisInputs : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset()
    {
        clear_tables();
        clear_model();
        model_keep_rows(true);
    }
};

// Every description the repository holds: examples and the valid seeds of
// the fuzzing corpus (unlabeled rows, repeats, vectors, mixed AND and OR).
TEST_F(AnalysisInputs, DescriptionsOfTheRepository)
{
    std::vector<std::string> files = filesIn(EXAMPLES_DIR, "", ".txt");
    for (const std::string& f : filesIn(SOURCE_DIR "/fuzz/corpus", "valid-", ".txt"))
        files.push_back(f);
    ASSERT_GE(files.size(), 10u);
    for (const std::string& f : files) {
        reset();
        ASSERT_TRUE(lexInit(f));
        parse();
        lexFree(f);
        if (!StateList.empty())
            checkInputs(build_view(), f);
    }
}

// The MCNC machines: many rows per state, cubes that overlap.
TEST_F(AnalysisInputs, Kiss2Machines)
{
    std::vector<std::string> files = filesIn(TESTS_DIR "/kiss2", "", ".kiss2");
    ASSERT_EQ(files.size(), 10u);
    for (const std::string& f : files) {
        reset();
        ASSERT_TRUE(read_kiss2(f));
        checkInputs(build_view(), f);
    }
}

// A view written as a description: the rows in the view's order, or with
// GROUPED each state's rows together, as most descriptions list them.
std::string describe(const ModelView& v, bool grouped)
{
    std::string text = "@\n";
    const char* ops[] = {">", "<", ">=", "<=", "==", "<>"};
    for (const ViewSymbol& sym : v.symbols) {
        text += sym.name + " =";
        for (size_t t = 0; t < sym.terms.size(); t++)
            for (size_t c = 0; c < sym.terms[t].size(); c++) {
                const Comparison& cmp = sym.terms[t][c];
                text += (c > 0 ? " AND " : t > 0 ? " OR " : " ") + v.signals[cmp.signal].name + " " +
                        ops[static_cast<int>(cmp.op)] + " " + cmp.value;
            }
        text += ";\n";
    }
    text += "#\n";
    std::vector<ViewRow> rows(v.rows.begin(), v.rows.end());
    if (grouped)
        std::stable_sort(rows.begin(), rows.end(), [](const ViewRow& a, const ViewRow& b) { return a.source < b.source; });
    for (const ViewRow& r : rows)
        text += "(" + v.states[r.source].name + (r.symbol < 0 ? "" : "," + v.symbols[r.symbol].name) + "):" +
                v.states[r.target].name + ";\n";
    return text;
}

// Deciding states while reading changes no verdict, list or input: the
// description is read with it, then analysed again from the same view
// without it. Grouped rows make most states decided early; scattered ones
// make runs that are not all of their state's rows, which must be redone.
TEST_F(AnalysisInputs, DecidingWhileReadingChangesNothing)
{
    std::mt19937 rng(5);
    TempDir dir;
    for (int round = 0; round < 400; round++) {
        ModelView random = randomView(rng, 30, 200);
        // Two large enough for two parts: grouped, and scattered so that
        // reading ahead is given up.
        while (round < 2 && random.rows.size() < 20000)
            random = randomView(rng, 2000, 40000);
        bool explain = round % 3 != 1, inputs = round % 3 == 0;
        std::string path = dir.write("d.txt", describe(random, round % 4 != 1));
        reset();
        analyse_while_reading(explain, inputs);
        ASSERT_TRUE(lexInit(path));
        parse();
        lexFree(path);
        const ModelView& view = build_view();
        Analysis early = analyse(view, explain, inputs), plain = analyse(view, explain, inputs);
        std::string name = "round " + std::to_string(round);
        ASSERT_EQ(early.fate, plain.fate) << name;
        ASSERT_EQ(early.reachable, plain.reachable) << name;
        ASSERT_EQ(early.undecidedRows, plain.undecidedRows) << name;
        StateInputs a, b;
        for (size_t r = 0; r < view.rows.size(); r++) {
            RowSpan x = early.shadowedBy(static_cast<int>(r)), y = plain.shadowedBy(static_cast<int>(r));
            ASSERT_EQ(std::vector<int>(x.begin(), x.end()), std::vector<int>(y.begin(), y.end())) << name;
        }
        for (size_t st = 0; st < view.states.size() && inputs; st++) {
            early.stateInputs(view, static_cast<int>(st), a);
            plain.stateInputs(view, static_cast<int>(st), b);
            ASSERT_EQ(a.fires, b.fires) << name;
            ASSERT_EQ(a.hasErrorInput, b.hasErrorInput) << name;
            a.rowInputs.push_back(a.errorInput);
            b.rowInputs.push_back(b.errorInput);
            for (size_t k = 0; k < a.rowInputs.size(); k++) {
                ASSERT_EQ(a.rowInputs[k].size(), b.rowInputs[k].size()) << name;
                for (size_t j = 0; j < a.rowInputs[k].size(); j++)
                    ASSERT_EQ(input_bits(a.rowInputs[k][j]), input_bits(b.rowInputs[k][j])) << name;
            }
        }
    }
}

} // namespace
