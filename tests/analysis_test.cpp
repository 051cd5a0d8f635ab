// Witnesses of the analysis: every input state_inputs gives must make
// exactly its row the first of the state to hold, and the error input no
// row; conditions are evaluated here, on numbers, not by the analysis.
#include "analysis.h"

#include <gtest/gtest.h>

#include <random>

namespace {

bool compare(CmpOp op, unsigned a, unsigned b)
{
    switch (op) {
    case CmpOp::Gt: return a > b;
    case CmpOp::Lt: return a < b;
    case CmpOp::Ge: return a >= b;
    case CmpOp::Le: return a <= b;
    case CmpOp::Eq: return a == b;
    case CmpOp::Ne: return a != b;
    }
    return false;
}

std::string bits(unsigned v, int width)
{
    std::string s(width, '0');
    for (int i = 0; i < width; i++)
        s[width - 1 - i] = char('0' + (v >> i & 1));
    return s;
}

bool holds(const ModelView& view, int symbol, const InputVector& in)
{
    if (symbol < 0)
        return true;
    for (const auto& term : view.symbols[symbol].terms) {
        bool all = true;
        for (const Comparison& c : term)
            all = all && compare(c.op, std::stoul(in[c.signal], nullptr, 2), std::stoul(c.value, nullptr, 2));
        if (all)
            return true;
    }
    return false;
}

ModelView randomView(std::mt19937& rng)
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
    int nst = 1 + pick(3);
    for (int s = 0; s < nst; s++)
        v.states.push_back(ViewState{"Q" + std::to_string(s), {}, 0, 0});
    for (int r = 0, nr = 1 + pick(12); r < nr; r++) {
        int src = pick(nst);
        v.states[src].rows.push_back(static_cast<int>(v.rows.size()));
        v.rows.push_back(ViewRow{src, pick(nst), pick(10) == 0 ? -1 : pick(nsym), r + 1, 0});
    }
    return v;
}

int firstHolding(const ModelView& v, int state, const InputVector& in)
{
    const auto& rows = v.states[state].rows;
    for (size_t p = 0; p < rows.size(); p++)
        if (holds(v, v.rows[rows[p]].symbol, in))
            return static_cast<int>(p);
    return -1;
}

TEST(Analysis, WitnessesMakeTheirRowFirst)
{
    std::mt19937 rng(12);
    for (int round = 0; round < 3000; round++) {
        ModelView v = randomView(rng);
        Analysis a = analyse(v);
        for (size_t s = 0; s < v.states.size(); s++) {
            StateInputs in = state_inputs(v, static_cast<int>(s));
            const auto& rows = v.states[s].rows;
            ASSERT_EQ(in.rowInputs.size(), rows.size());
            for (size_t p = 0; p < rows.size(); p++) {
                bool fires = a.rows[rows[p]].fate == RowFate::Fires;
                ASSERT_EQ(!in.rowInputs[p].empty(), fires) << "round " << round;
                if (fires) {
                    ASSERT_EQ(firstHolding(v, static_cast<int>(s), in.rowInputs[p]), static_cast<int>(p))
                        << "round " << round;
                }
            }
            if (in.hasErrorInput) {
                ASSERT_EQ(firstHolding(v, static_cast<int>(s), in.errorInput), -1) << "round " << round;
            }
        }
    }
}

} // namespace
