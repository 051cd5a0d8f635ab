// Condition analysis. Every signal is an unsigned number; the constants
// compared with it cut its values into atoms: each constant by itself, and
// the non-empty gaps between them. A comparison holds on whole atoms, so a
// term (an AND of comparisons) is a box: per signal, a set of atoms. The
// rows of one state are then decided with boxes alone: the inputs no
// earlier row takes are kept as a list of disjoint boxes, a row fires when
// one of them meets its symbol, and its boxes are taken out of the list
// before the next row. Constants are compared as strings of equal length,
// so a signal may be a million bits wide.
//
// Atoms are numbered once for the whole description (per signal, in the
// order of the values), so the work done per symbol is done once; each
// state then merges the atoms its own rows cannot tell apart, which keeps a
// box as small as the state.
//
// Work is counted in 64-bit words of boxes read or written. A state may
// take stateBudget words, the whole run runBudgetBase plus runBudgetPerRow
// per row (shared out between the two parts of a large machine by their
// rows); past that the rows not yet decided are left Undecided. Well
// behaved states (a few rows, a few comparisons each) need some thousands.
//
// A run that asks for it early has most states decided on a second thread
// while the description is still being read (see Early below).
#include "analysis.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

const uint64_t stateBudget = uint64_t(1) << 22;
const uint64_t runBudgetBase = uint64_t(1) << 28;
const uint64_t runBudgetPerRow = uint64_t(1) << 12;

// Atoms lo..hi of one signal.
struct Span {
    int lo, hi;
};

// The atoms of one signal, in ascending order of their values.
struct SignalAtoms {
    std::vector<const std::string*> constants; // distinct, ascending
    std::vector<int> rank;                     // per atom: its constant, or the one just below (-1: none)
    std::vector<char> point;                   // per atom: 1 for the constant itself, 0 for a gap
    std::vector<int> pointAtom;                // per constant: its atom
    int count() const { return static_cast<int>(point.size()); }
};

// One signal's part of a term: the union of spans[first, first + count).
struct Constraint {
    int signal, first, count;
};

// A satisfiable term: constraints[first, first + count), one per signal it
// narrows; none at all means the term always holds.
struct Term {
    int first, count;
};

struct PreparedSymbol {
    int first = 0, count = 0; // terms; none means the symbol is never '1'
};

struct Prepared {
    std::vector<SignalAtoms> signals;
    std::vector<Span> spans;
    std::vector<Constraint> constraints;
    std::vector<Term> terms;
    std::vector<PreparedSymbol> symbols;
    // Per symbol, from keyStart[s] to keyStart[s + 1]: where its terms cut
    // the atoms of the signals they narrow, as signal << 32 | first atom of
    // a piece, ascending; every narrowed signal has its piece at atom 0.
    std::vector<uint64_t> keys;
    std::vector<size_t> keyStart;
};

bool allDigits(const std::string& value, char digit)
{
    return value.find_first_not_of(digit) == std::string::npos;
}

// True when b == a + 1 (both of one width): a + 1 flips a's last '0' to
// '1' and the ones after it to '0'.
bool isSuccessor(const std::string& a, const std::string& b)
{
    size_t p = a.find_last_of('0');
    if (p == std::string::npos)
        return false;
    if (b[p] != '1' || a.compare(0, p, b, 0, p) != 0)
        return false;
    return b.find_first_not_of('0', p + 1) == std::string::npos;
}

// Sets bits lo..hi of a bit set kept in 64-bit words.
void setRange(uint64_t* w, int lo, int hi)
{
    for (int i = lo; i <= hi;) {
        int bit = i % 64, n = std::min(64 - bit, hi - i + 1);
        w[i / 64] |= (n == 64 ? ~uint64_t(0) : ((uint64_t(1) << n) - 1) << bit);
        i += n;
    }
}

std::string successor(std::string value)
{
    size_t p = value.find_last_of('0');
    value[p] = '1';
    std::fill(value.begin() + p + 1, value.end(), '0');
    return value;
}

// The spans of atoms where SIGNAL OP constant holds; empty ones left out.
int comparisonSpans(CmpOp op, int point, int atoms, Span out[2])
{
    Span below{0, point - 1}, at{point, point}, above{point + 1, atoms - 1};
    Span cand[2];
    int n = 0;
    switch (op) {
    case CmpOp::Lt: cand[n++] = below; break;
    case CmpOp::Le: cand[n++] = Span{0, point}; break;
    case CmpOp::Gt: cand[n++] = above; break;
    case CmpOp::Ge: cand[n++] = Span{point, atoms - 1}; break;
    case CmpOp::Eq: cand[n++] = at; break;
    case CmpOp::Ne: cand[n++] = below; cand[n++] = above; break;
    }
    int kept = 0;
    for (int i = 0; i < n; i++)
        if (cand[i].lo <= cand[i].hi)
            out[kept++] = cand[i];
    return kept;
}

std::vector<Span> intersect(const std::vector<Span>& a, const std::vector<Span>& b)
{
    std::vector<Span> out;
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        int lo = std::max(a[i].lo, b[j].lo), hi = std::min(a[i].hi, b[j].hi);
        if (lo <= hi)
            out.push_back(Span{lo, hi});
        if (a[i].hi < b[j].hi)
            i++;
        else
            j++;
    }
    return out;
}

// Numbers the atoms of every signal from the constants of the symbols, and
// turns the symbols into terms over atoms.
void prepare(size_t nsig, const std::vector<ViewSymbol>& symbols, Prepared& p)
{
    p.signals.resize(nsig);
    p.symbols.resize(symbols.size());

    // Every comparison of the symbols, bucketed by signal.
    std::vector<const Comparison*> comps;
    for (const ViewSymbol& symbol : symbols)
        for (const auto& term : symbol.terms)
            for (const Comparison& c : term)
                comps.push_back(&c);
    std::vector<int> start(nsig + 1, 0);
    for (const Comparison* c : comps)
        start[c->signal + 1]++;
    for (size_t i = 0; i < nsig; i++)
        start[i + 1] += start[i];
    std::vector<int> bucket(comps.size());
    {
        std::vector<int> fill(start.begin(), start.end() - 1);
        for (size_t i = 0; i < comps.size(); i++)
            bucket[fill[comps[i]->signal]++] = static_cast<int>(i);
    }

    // Per signal: distinct constants in order, then the atoms between them.
    std::vector<int> rankOf(comps.size());
    for (size_t sig = 0; sig < nsig; sig++) {
        auto first = bucket.begin() + start[sig], last = bucket.begin() + start[sig + 1];
        std::sort(first, last, [&](int a, int b) { return comps[a]->value < comps[b]->value; });
        SignalAtoms& atoms = p.signals[sig];
        for (auto it = first; it != last; ++it) {
            const std::string& value = comps[*it]->value;
            if (atoms.constants.empty() || *atoms.constants.back() != value)
                atoms.constants.push_back(&value);
            rankOf[*it] = static_cast<int>(atoms.constants.size()) - 1;
        }
        const auto& cs = atoms.constants;
        for (size_t r = 0; r < cs.size(); r++) {
            bool gap = r == 0 ? !allDigits(*cs[0], '0') : !isSuccessor(*cs[r - 1], *cs[r]);
            if (gap) {
                atoms.rank.push_back(static_cast<int>(r) - 1);
                atoms.point.push_back(0);
            }
            atoms.pointAtom.push_back(atoms.count());
            atoms.rank.push_back(static_cast<int>(r));
            atoms.point.push_back(1);
        }
        if (!cs.empty() && !allDigits(*cs.back(), '1')) {
            atoms.rank.push_back(static_cast<int>(cs.size()) - 1);
            atoms.point.push_back(0);
        }
    }

    // Terms: the comparisons of one signal intersected; a term that cannot
    // hold is dropped, a signal it does not narrow is left out.
    size_t next = 0;
    std::vector<std::pair<int, size_t>> bySignal;
    for (size_t s = 0; s < symbols.size(); s++) {
        PreparedSymbol& sym = p.symbols[s];
        sym.first = static_cast<int>(p.terms.size());
        for (const auto& term : symbols[s].terms) {
            bySignal.clear();
            for (size_t k = 0; k < term.size(); k++)
                bySignal.emplace_back(term[k].signal, next++);
            std::stable_sort(bySignal.begin(), bySignal.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            size_t constraintMark = p.constraints.size(), spanMark = p.spans.size();
            bool holds = true;
            for (size_t k = 0; k < bySignal.size() && holds;) {
                int sig = bySignal[k].first;
                const SignalAtoms& atoms = p.signals[sig];
                std::vector<Span> cur{Span{0, atoms.count() - 1}};
                for (; k < bySignal.size() && bySignal[k].first == sig; k++) {
                    const Comparison* c = comps[bySignal[k].second];
                    Span sp[2];
                    int n = comparisonSpans(c->op, atoms.pointAtom[rankOf[bySignal[k].second]],
                                            atoms.count(), sp);
                    cur = intersect(cur, std::vector<Span>(sp, sp + n));
                }
                if (cur.empty()) {
                    holds = false;
                } else if (!(cur.size() == 1 && cur[0].lo == 0 && cur[0].hi == atoms.count() - 1)) {
                    p.constraints.push_back(Constraint{sig, static_cast<int>(p.spans.size()),
                                                       static_cast<int>(cur.size())});
                    p.spans.insert(p.spans.end(), cur.begin(), cur.end());
                }
            }
            if (!holds) {
                p.constraints.resize(constraintMark);
                p.spans.resize(spanMark);
                continue;
            }
            p.terms.push_back(Term{static_cast<int>(constraintMark),
                                   static_cast<int>(p.constraints.size() - constraintMark)});
        }
        sym.count = static_cast<int>(p.terms.size()) - sym.first;
    }

    p.keyStart.assign(symbols.size() + 1, 0);
    for (size_t s = 0; s < symbols.size(); s++) {
        size_t first = p.keys.size();
        const PreparedSymbol& ps = p.symbols[s];
        for (int t = ps.first; t < ps.first + ps.count; t++) {
            const Term& term = p.terms[t];
            for (int c = term.first; c < term.first + term.count; c++) {
                const Constraint& con = p.constraints[c];
                uint64_t sig = uint64_t(con.signal) << 32;
                int n = p.signals[con.signal].count();
                p.keys.push_back(sig);
                for (int k = con.first; k < con.first + con.count; k++) {
                    p.keys.push_back(sig | uint32_t(p.spans[k].lo));
                    if (p.spans[k].hi + 1 < n)
                        p.keys.push_back(sig | uint32_t(p.spans[k].hi + 1));
                }
            }
        }
        std::sort(p.keys.begin() + first, p.keys.end());
        p.keys.erase(std::unique(p.keys.begin() + first, p.keys.end()), p.keys.end());
        p.keyStart[s + 1] = p.keys.size();
    }
}

// Most states' boxes are a word or two; a library call per copy would
// cost more than the copy.
inline void copyBox(const uint64_t* from, uint64_t* to, size_t W)
{
    if (W == 1) {
        to[0] = from[0];
    } else if (W == 2) {
        to[0] = from[0];
        to[1] = from[1];
    } else {
        std::copy_n(from, W, to);
    }
}

// A list of boxes of W words each in one buffer that only grows, so that
// a run takes its memory once and a box is a pointer, not a vector.
class BoxList {
public:
    void reset(size_t width)
    {
        W = width;
        n = 0;
    }
    size_t size() const { return n; }
    uint64_t* at(size_t i) { return buf.data() + i * W; }
    const uint64_t* at(size_t i) const { return buf.data() + i * W; }
    // A new box at the end; earlier pointers may move.
    uint64_t* push()
    {
        if ((n + 1) * W > buf.size())
            buf.resize(std::max(buf.size() * 2, (n + 1) * W));
        return at(n++);
    }
    uint64_t* push(const uint64_t* box)
    {
        uint64_t* b = push();
        copyBox(box, b, W);
        return b;
    }
    void pop() { n--; }
    void swap(BoxList& other)
    {
        buf.swap(other.buf);
        std::swap(n, other.n);
    }

private:
    std::vector<uint64_t> buf;
    size_t W = 1, n = 0;
};

// One word of a term's test: the term's atoms (bits) within one word of a
// signal's field (mask). A box meets the term when, for every signal the
// term narrows, some word of that signal's field has a bit in common with
// the term; last marks the last word of a signal.
struct Check {
    int word;
    bool last;
    uint64_t bits, mask;
};

// Decides the rows of one state with boxes. Reused from state to state, so
// that its buffers are taken once.
class StateRun {
public:
    explicit StateRun(const Prepared& prepared)
        : p(prepared), localOf(prepared.signals.size(), -1), symbolStamp(prepared.symbols.size(), -1),
          symbolTerms(prepared.symbols.size())
    {
    }

    uint64_t work = 0;

    // What run gives back, by position in the state: each row's fate, the
    // region box that holds an input for it (-1: none), and with EXPLAIN the
    // earlier rows that shadow it, from shadowFirst[pos] in shadowPool up to
    // a -1. Complete: within the budget (with leftover, the leftover boxes are exact).
    std::vector<RowFate> fates;
    std::vector<int> witnessBox;
    std::vector<int> shadowFirst, shadowPool;
    bool complete = true;

    // Decides a state's rows: their numbers and symbols (-1: none) in
    // priority order. LEFTOVER: also take the last row's inputs out, for the
    // inputs where no row holds.
    void run(const int* rows, const int* symbols, size_t n, uint64_t limit, bool explain, bool leftover);

    // After run: appends the signals that are not zero in the region box
    // given (-1: the first leftover box), in port order.
    void input(int box, Growing<Analysis::StoredValue>& out) const;
    bool hasLeftover() const { return remaining.size() > 0; }

private:
    const Prepared& p;
    uint64_t limit = 0;

    // The signals the state's symbols narrow, and their atoms here: the
    // global atoms from cut[c] up to the next cut.
    std::vector<int> localOf; // by signal, -1 outside the state
    std::vector<int> sigs;    // local -> signal, in port order
    std::vector<int> cutStart, cutCount;
    std::vector<int> cuts;
    std::vector<uint64_t> keys;
    // A box is one bit string: each local signal a field of cutCount bits
    // from fieldStart, packed end to end (a field of up to 64 bits within
    // one word), so that a state of twenty narrow signals copies a word or
    // two per box, not twenty. The words a field touches, with the field's
    // bits in each, are its segments.
    std::vector<int> fieldStart, segStart, segCount, segWord;
    std::vector<uint64_t> segMask;
    size_t W = 0;
    std::vector<uint64_t> universe, scratch, cur;

    // Each term of the state's symbols as its checks, from checkStart[t] to
    // checkStart[t + 1].
    std::vector<Check> checks;
    std::vector<int> checkStart;
    std::vector<int> symbolStamp;
    std::vector<int> stateSymbols; // the state's symbols, each once
    std::vector<std::pair<int, int>> symbolTerms; // first term, count
    int stamp = 0;

    BoxList remaining, spare, regions;
    std::vector<int> regionFirst, regionCount; // per row position

    bool over() const { return work > limit; }
    void layout(const int* symbols, size_t n);
    bool buildTerms();
    int addTerm(const Term& term);
    bool meets(const uint64_t* box, int t);
    void subtract(const BoxList& from, int t, BoxList& out);
    bool regionMeetsSymbol(int pos, std::pair<int, int> terms);
};

// Collects the state's signals and cuts each one's atoms where a
// constraint of the state begins or ends.
void StateRun::layout(const int* symbols, size_t n)
{
    for (int s : sigs)
        localOf[s] = -1;
    sigs.clear();
    keys.clear();
    stateSymbols.clear();
    stamp++;
    for (size_t pos = 0; pos < n; pos++) {
        int sym = symbols[pos];
        if (sym < 0 || symbolStamp[sym] == stamp)
            continue;
        symbolStamp[sym] = stamp;
        stateSymbols.push_back(sym);
        keys.insert(keys.end(), p.keys.begin() + p.keyStart[sym], p.keys.begin() + p.keyStart[sym + 1]);
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    // The keys come by signal, so the local signals are in port order.
    cutStart.clear();
    cutCount.clear();
    cuts.clear();
    for (uint64_t k : keys) {
        int signal = static_cast<int>(k >> 32);
        if (localOf[signal] < 0) {
            localOf[signal] = static_cast<int>(sigs.size());
            sigs.push_back(signal);
            cutStart.push_back(static_cast<int>(cuts.size()));
            cutCount.push_back(0);
        }
        cutCount.back()++;
        cuts.push_back(static_cast<int>(k & 0xffffffffu));
    }
    n = sigs.size();
    fieldStart.assign(n, 0);
    segStart.assign(n, 0);
    segCount.assign(n, 0);
    segWord.clear();
    segMask.clear();
    size_t bits = 0;
    for (size_t i = 0; i < n; i++) {
        size_t width = cutCount[i];
        if (width <= 64 && bits % 64 + width > 64)
            bits += 64 - bits % 64;
        fieldStart[i] = static_cast<int>(bits);
        segStart[i] = static_cast<int>(segWord.size());
        size_t lo = bits, hi = bits + width - 1;
        for (size_t w = lo / 64; w <= hi / 64; w++) {
            uint64_t mask = ~uint64_t(0);
            if (w == lo / 64)
                mask &= ~uint64_t(0) << (lo % 64);
            if (w == hi / 64 && hi % 64 != 63)
                mask &= (uint64_t(1) << (hi % 64 + 1)) - 1;
            segWord.push_back(static_cast<int>(w));
            segMask.push_back(mask);
        }
        segCount[i] = static_cast<int>(segWord.size()) - segStart[i];
        bits = hi + 1;
    }
    // A state whose symbols narrow no signal still needs a box of one
    // word, so that a list of boxes can count them.
    W = std::max<size_t>((bits + 63) / 64, 1);
    universe.assign(W, 0);
    for (size_t i = 0; i < n; i++)
        for (int g = segStart[i]; g < segStart[i] + segCount[i]; g++)
            universe[segWord[g]] |= segMask[g];
    if (bits == 0)
        universe[0] = 1;
    scratch.assign(W, 0);
    cur.assign(W, 0);
}

// The checks of one term; returns its number.
int StateRun::addTerm(const Term& term)
{
    for (int c = term.first; c < term.first + term.count; c++) {
        const Constraint& con = p.constraints[c];
        int ls = localOf[con.signal];
        const int* cb = cuts.data() + cutStart[ls];
        const int* ce = cb + cutCount[ls];
        for (int k = con.first; k < con.first + con.count; k++) {
            int lo = static_cast<int>(std::lower_bound(cb, ce, p.spans[k].lo) - cb);
            int hi = static_cast<int>(std::lower_bound(cb, ce, p.spans[k].hi + 1) - cb) - 1;
            setRange(scratch.data(), fieldStart[ls] + lo, fieldStart[ls] + hi);
        }
        int last = segStart[ls] + segCount[ls] - 1;
        for (int g = segStart[ls]; g <= last; g++) {
            int w = segWord[g];
            checks.push_back(Check{w, g == last, scratch[w] & segMask[g], segMask[g]});
            scratch[w] = 0;
        }
    }
    checkStart.push_back(static_cast<int>(checks.size()));
    work += term.count;
    return static_cast<int>(checkStart.size()) - 2;
}

// False when the budget ran out first.
bool StateRun::buildTerms()
{
    checks.clear();
    checkStart.assign(1, 0);
    for (int sym : stateSymbols) {
        if (over())
            return false;
        const PreparedSymbol& ps = p.symbols[sym];
        symbolTerms[sym] = {static_cast<int>(checkStart.size()) - 1, ps.count};
        for (int t = ps.first; t < ps.first + ps.count; t++)
            addTerm(p.terms[t]);
    }
    return true;
}

bool StateRun::meets(const uint64_t* box, int t)
{
    const Check* c = checks.data() + checkStart[t];
    const Check* end = checks.data() + checkStart[t + 1];
    work += end - c;
    uint64_t any = 0;
    for (; c != end; ++c) {
        any |= box[c->word] & c->bits;
        if (c->last) {
            if (!any)
                return false;
            any = 0;
        }
    }
    return true;
}

// out = every box of from with term t taken out, as disjoint boxes.
void StateRun::subtract(const BoxList& from, int t, BoxList& out)
{
    out.reset(W);
    const Check* first = checks.data() + checkStart[t];
    const Check* end = checks.data() + checkStart[t + 1];
    for (size_t b = 0; b < from.size() && !over(); b++) {
        const uint64_t* box = from.at(b);
        if (!meets(box, t)) {
            out.push(box);
            work += W;
            continue;
        }
        // The part outside the term on the i-th signal it narrows, inside
        // it on the ones before; what is left inside on all of them is the
        // term's own and goes.
        copyBox(box, cur.data(), W);
        uint64_t* piece = nullptr;
        uint64_t any = 0;
        for (const Check* c = first; c != end; ++c) {
            if (!piece) {
                piece = out.push(cur.data());
                any = 0;
                work += W;
            }
            piece[c->word] &= ~c->bits;
            any |= piece[c->word] & c->mask;
            cur[c->word] &= c->bits | ~c->mask;
            if (c->last) {
                if (!any)
                    out.pop();
                piece = nullptr;
            }
        }
    }
}

// True when the region of the row at pos meets a symbol's terms.
bool StateRun::regionMeetsSymbol(int pos, std::pair<int, int> terms)
{
    for (int b = 0; b < regionCount[pos]; b++) {
        const uint64_t* box = regions.at(size_t(regionFirst[pos]) + b);
        for (int t = terms.first; t < terms.first + terms.second; t++)
            if (meets(box, t))
                return true;
    }
    return false;
}

void StateRun::run(const int* rows, const int* symbols, size_t n, uint64_t budget, bool explain,
                   bool leftover)
{
    limit = work + budget;
    fates.assign(n, RowFate::Undecided);
    witnessBox.assign(n, -1);
    shadowFirst.assign(n, -1);
    shadowPool.clear();
    layout(symbols, n);
    complete = buildTerms();
    remaining.reset(W);
    remaining.push(universe.data());
    regions.reset(W);
    regionFirst.assign(n, 0);
    regionCount.assign(n, 0);
    // A row without a symbol: one term without checks, which every box meets.
    int always = static_cast<int>(checkStart.size()) - 1;
    checkStart.push_back(static_cast<int>(checks.size()));

    for (size_t pos = 0; pos < n; pos++) {
        int sym = symbols[pos];
        if (sym >= 0 && p.symbols[sym].count == 0) {
            fates[pos] = RowFate::NeverHolds;
            continue;
        }
        if (!complete || over()) {
            complete = false;
            continue;
        }
        std::pair<int, int> terms = sym < 0 ? std::make_pair(always, 1) : symbolTerms[sym];
        // The row's region: the leftover inputs where its symbol holds.
        // Without EXPLAIN no later row asks which inputs this one took, so
        // the first box of its region is all it needs.
        regionFirst[pos] = static_cast<int>(regions.size());
        for (size_t b = 0; b < remaining.size() && !over(); b++)
            for (int t = terms.first; t < terms.first + terms.second; t++)
                if ((explain || regions.size() == size_t(regionFirst[pos])) && meets(remaining.at(b), t)) {
                    uint64_t* region = regions.push(remaining.at(b));
                    for (int c = checkStart[t]; c < checkStart[t + 1]; c++)
                        region[checks[c].word] &= checks[c].bits | ~checks[c].mask;
                    work += W;
                }
        regionCount[pos] = static_cast<int>(regions.size()) - regionFirst[pos];
        if (regionCount[pos] > 0) {
            fates[pos] = RowFate::Fires;
            witnessBox[pos] = regionFirst[pos];
        } else if (over()) {
            complete = false;
            continue;
        } else {
            size_t mark = shadowPool.size();
            for (size_t q = 0; explain && q < pos && !over(); q++)
                if (regionCount[q] > 0 && regionMeetsSymbol(static_cast<int>(q), terms))
                    shadowPool.push_back(rows[q]);
            if (over()) {
                shadowPool.resize(mark);
                complete = false;
                continue;
            }
            if (explain) {
                shadowFirst[pos] = static_cast<int>(mark);
                shadowPool.push_back(-1);
            }
            // No leftover input meets the symbol: nothing to take out.
            fates[pos] = RowFate::Shadowed;
            continue;
        }
        if (pos + 1 == n && !leftover)
            break;
        for (int t = terms.first; t < terms.first + terms.second && remaining.size() > 0; t++) {
            subtract(remaining, t, spare);
            remaining.swap(spare);
        }
        if (over())
            complete = false;
    }
}

void StateRun::input(int box, Growing<Analysis::StoredValue>& out) const
{
    const uint64_t* b = box < 0 ? remaining.at(0) : regions.at(box);
    for (size_t ls = 0; ls < sigs.size(); ls++) {
        // A signal's first atom (global atom 0, local cut 0) is the one
        // that holds zero, and zero is left out: most signals end here.
        int first = fieldStart[ls];
        if (b[first / 64] >> (first % 64) & 1)
            continue;
        int g = segStart[ls];
        while ((b[segWord[g]] & segMask[g]) == 0)
            g++;
        int atom = segWord[g] * 64 + __builtin_ctzll(b[segWord[g]] & segMask[g]) - first;
        const SignalAtoms& atoms = p.signals[sigs[ls]];
        int global = cuts[cutStart[ls] + atom];
        out.push_back(Analysis::StoredValue{sigs[ls], 2 * atoms.rank[global] + (atoms.point[global] ? 0 : 1)});
    }
}

// The lists a thread's findings go to.
struct Findings {
    Growing<int> shadowRows;
    Growing<Analysis::StoredValue> inputs;
};

// Keeps what run found about a state of n rows: each row's fate and the
// start of its shadow list in out (-1: none) at fate[slot] and
// shadowStart[slot] (if asked for), where slot is index[pos], or pos
// without an index; with INPUTS, the state's inputs. Returns where its
// inputs start.
int keepState(const StateRun& run, size_t n, const int* index, RowFate* fate, int* shadowStart, bool inputs,
              Findings& out)
{
    for (size_t pos = 0; pos < n; pos++) {
        size_t slot = index ? size_t(index[pos]) : pos;
        fate[slot] = run.fates[pos];
        if (!shadowStart)
            continue;
        shadowStart[slot] = -1;
        if (run.shadowFirst[pos] >= 0) {
            shadowStart[slot] = static_cast<int>(out.shadowRows.size());
            for (const int* by = run.shadowPool.data() + run.shadowFirst[pos]; *by >= 0; by++)
                out.shadowRows.push_back(*by);
            out.shadowRows.push_back(-1);
        }
    }
    if (!inputs)
        return 0;
    int start = static_cast<int>(out.inputs.size());
    for (size_t pos = 0; pos < n; pos++) {
        bool fires = run.witnessBox[pos] >= 0;
        if (fires)
            run.input(run.witnessBox[pos], out.inputs);
        out.inputs.push_back(Analysis::StoredValue{-1, fires ? 1 : 0});
    }
    bool error = run.complete && run.hasLeftover();
    if (error)
        run.input(-1, out.inputs);
    out.inputs.push_back(Analysis::StoredValue{-1, error ? 1 : 0});
    return start;
}

// A state decided while the description was still being read: the rows
// firstRow .. firstRow + count - 1, listed together. It stands for a state
// only if those are all the state's rows. Only states decided within the
// budget are kept.
struct EarlyState {
    int firstRow, count;
    size_t at;      // its rows' fates (and shadow list starts) from here
    int inputStart; // in the early findings
    uint64_t work;  // what deciding it cost
};

// Decides states on a second thread while the description is still being
// read. The reader hands over each run of rows of one source state when
// the next row names another source; most descriptions list a state's rows
// together, so by the end of reading most states are decided. analyse then
// takes a result only where it is exactly what analyse would find itself.
struct Early {
    bool wanted = false, explain = false, inputs = false;
    std::thread thread;
    std::mutex lock;
    std::condition_variable wake;
    std::vector<int> queue; // under lock: runs as first row, count, symbols
    bool closed = false;    // under lock: no more runs; stop
    std::atomic<bool> stop{false};
    std::vector<int> batch; // the reader's runs not yet handed over
    // The reader's count of runs, and of those whose state had a run
    // before: such a state is decided after reading in any case.
    std::vector<bool> sourceSeen; // by the tables' state number
    size_t runsSeen = 0, repeats = 0;
    bool givenUp = false;

    // The thread's own until it is joined.
    size_t signalCount = 0;
    const std::vector<ViewSymbol>* symbols = nullptr;
    Prepared p;
    bool prepared = false, failed = false;
    Growing<EarlyState> states; // by first row
    Growing<RowFate> fates;
    Growing<int> shadowStart;
    Findings found;
};

Early early;

void earlyWork(Early& e)
{
    try {
        prepare(e.signalCount, *e.symbols, e.p);
        e.prepared = true;
        StateRun run(e.p);
        std::vector<int> runs, rowNumbers;
        // What the whole run may spend, as it grows with the rows: past it
        // the states are left to analyse, so that reading ahead never
        // costs more than the analysis itself would.
        uint64_t cap = runBudgetBase;
        for (;;) {
            {
                std::unique_lock<std::mutex> hold(e.lock);
                e.wake.wait(hold, [&] { return e.closed || !e.queue.empty(); });
                if (e.queue.empty() || e.stop)
                    return;
                runs.swap(e.queue);
                e.queue.clear();
            }
            for (size_t i = 0; i < runs.size() && !e.stop.load(std::memory_order_relaxed);) {
                int first = runs[i], count = runs[i + 1];
                const int* symbols = runs.data() + i + 2;
                i += 2 + size_t(count);
                cap += runBudgetPerRow * uint64_t(count);
                if (run.work > cap)
                    continue;
                rowNumbers.resize(count);
                for (int k = 0; k < count; k++)
                    rowNumbers[k] = first + k;
                uint64_t before = run.work;
                run.run(rowNumbers.data(), symbols, count, stateBudget, e.explain, e.inputs);
                if (!run.complete)
                    continue;
                EarlyState st{first, count, e.fates.size(), 0, run.work - before};
                e.fates.resize(st.at + count);
                if (e.explain)
                    e.shadowStart.resize(st.at + count);
                st.inputStart = keepState(run, count, nullptr, e.fates.data() + st.at,
                                          e.explain ? e.shadowStart.data() + st.at : nullptr, e.inputs, e.found);
                e.states.push_back(st);
            }
        }
    } catch (...) {
        // Out of memory here only costs the head start.
        e.failed = true;
    }
}

// Hands the reader's runs over.
void handOver(Early& e)
{
    {
        std::lock_guard<std::mutex> hold(e.lock);
        if (e.queue.empty())
            e.queue.swap(e.batch);
        else
            e.queue.insert(e.queue.end(), e.batch.begin(), e.batch.end());
    }
    e.batch.clear();
    e.wake.notify_one();
}

// Ends the thread: with STOP at once, else once it has decided every run
// handed over, so that which states are decided early does not depend on
// timing.
void endEarly(bool stop)
{
    Early& e = early;
    if (!e.thread.joinable())
        return;
    if (stop)
        e.stop = true;
    else
        handOver(e);
    {
        std::lock_guard<std::mutex> hold(e.lock);
        e.closed = true;
    }
    e.wake.notify_one();
    e.thread.join();
}

void stopEarly()
{
    endEarly(true);
}

// Hands a batch of runs over when it is this many numbers long: one lock
// per few hundred states.
const size_t earlyBatch = 4096;

void noteRun(const std::vector<ViewSignal>& signals, const std::vector<ViewSymbol>& symbols, int firstRow,
             const ViewRow* rows, int count)
{
    Early& e = early;
    if (!e.wanted || e.givenUp)
        return;
    if (!e.thread.joinable()) {
        // The symbols are all defined before the first row, and stay as
        // they are from here on.
        e.signalCount = signals.size();
        e.symbols = &symbols;
        try {
            e.thread = std::thread(earlyWork, std::ref(e));
        } catch (const std::system_error&) {
            e.wanted = false; // no thread: analyse does it all
            return;
        }
        static bool registered = false;
        if (!registered) {
            // A reading error ends the run with exit: the thread must be
            // gone before what it reads is destroyed.
            std::atexit(stopEarly);
            registered = true;
        }
    }
    // A state listed in pieces gains nothing from an early start; where
    // most runs are such pieces (rows in no particular order), reading
    // ahead is given up rather than spend memory on results that go unused.
    size_t source = static_cast<size_t>(rows[0].source);
    if (source >= e.sourceSeen.size())
        e.sourceSeen.resize(std::max(source + 1, 2 * e.sourceSeen.size()), false);
    e.runsSeen++;
    if (e.sourceSeen[source]) {
        e.repeats++;
        if (e.runsSeen >= 1024 && 2 * e.repeats > e.runsSeen)
            e.givenUp = true;
        return;
    }
    e.sourceSeen[source] = true;
    e.batch.push_back(firstRow);
    e.batch.push_back(count);
    for (int k = 0; k < count; k++)
        e.batch.push_back(rows[k].symbol);
    if (e.batch.size() >= earlyBatch)
        handOver(e);
}

// Forgets everything of the last early analysis.
void resetEarly()
{
    stopEarly();
    Early& e = early;
    e.wanted = e.explain = e.inputs = false;
    e.queue.clear();
    e.closed = false;
    e.stop = false;
    e.batch.clear();
    e.sourceSeen.clear();
    e.runsSeen = e.repeats = 0;
    e.givenUp = false;
    e.signalCount = 0;
    e.symbols = nullptr;
    e.p = Prepared();
    e.prepared = e.failed = false;
    e.states = Growing<EarlyState>();
    e.fates = Growing<RowFate>();
    e.shadowStart = Growing<int>();
    e.found = Findings();
}

// The early result for a state with the given rows, or null.
const EarlyState* earlyFor(const std::vector<int>& rows)
{
    const Growing<EarlyState>& states = early.states;
    if (rows.empty())
        return nullptr;
    auto it = std::lower_bound(states.begin(), states.end(), rows.front(),
                               [](const EarlyState& st, int row) { return st.firstRow < row; });
    if (it == states.end() || it->firstRow != rows.front() || size_t(it->count) != rows.size() ||
        rows.back() != rows.front() + it->count - 1)
        return nullptr;
    return &*it;
}

// The states of one thread's part of the analysis, and what it found
// besides what it writes into the Analysis by row and by state.
struct Part {
    size_t firstState = 0, endState = 0;
    uint64_t budget = 0;
    unsigned char pool = 0; // its findings' place in Analysis::inputs
    Findings found;
    size_t undecidedRows = 0;
};

// The early findings go first, then the parts'.
const unsigned char earlyPool = 0;

void analysePart(const ModelView& view, const Prepared& p, bool explain, bool inputs, bool useEarly, Analysis& a,
                 Part& part)
{
    StateRun run(p);
    std::vector<int> symbols;
    // The budget is spent state by state in this order, as if every state
    // were decided here: an early result stands only where it cost no more
    // than the state may spend here, for then deciding it here would take
    // the same steps and find the same.
    uint64_t used = 0;
    for (size_t st = part.firstState; st < part.endState; st++) {
        uint64_t left = used < part.budget ? part.budget - used : 0;
        uint64_t budget = std::min(stateBudget, left);
        const std::vector<int>& rows = view.states[st].rows;
        const EarlyState* done = useEarly ? earlyFor(rows) : nullptr;
        if (done && done->work <= budget) {
            used += done->work;
            for (size_t pos = 0; pos < rows.size(); pos++) {
                a.fate[rows[pos]] = early.fates[done->at + pos];
                if (explain)
                    a.shadowStart[rows[pos]] = early.shadowStart[done->at + pos];
            }
            a.pool[st] = earlyPool;
            a.inputStart[st] = done->inputStart;
            continue;
        }
        symbols.resize(rows.size());
        for (size_t pos = 0; pos < rows.size(); pos++)
            symbols[pos] = view.rows[rows[pos]].symbol;
        uint64_t before = run.work;
        run.run(rows.data(), symbols.data(), rows.size(), budget, explain, inputs);
        used += run.work - before;
        for (RowFate f : run.fates)
            part.undecidedRows += f == RowFate::Undecided;
        int start = keepState(run, rows.size(), rows.data(), a.fate.data(),
                              explain ? a.shadowStart.data() : nullptr, inputs, part.found);
        a.pool[st] = part.pool;
        a.inputStart[st] = start;
    }
}

// Below this many rows one thread does it all.
const size_t rowsForTwoThreads = 1 << 14;

} // namespace

RowSpan Analysis::shadowedBy(int row) const
{
    if (shadowStart.empty() || fate[row] != RowFate::Shadowed)
        return RowSpan{};
    const int* first = shadowRows.data() + shadowStart[row];
    const int* last = first;
    while (*last >= 0)
        last++;
    return RowSpan{first, last};
}

void Analysis::stateInputs(const ModelView& view, int state, StateInputs& out) const
{
    const StoredValue* v = inputs[pool[state]].data() + inputStart[state];
    // Reads one list; true when its input is there.
    auto read = [&](Input& in) {
        in.clear();
        for (; v->signal >= 0; v++)
            in.push_back(InputValue{v->signal, constants[v->signal][v->code / 2], v->code % 2 == 1});
        return (v++)->code == 1;
    };
    size_t n = view.states[state].rows.size();
    out.fires.assign(n, false);
    out.rowInputs.resize(n);
    for (size_t pos = 0; pos < n; pos++)
        out.fires[pos] = read(out.rowInputs[pos]);
    out.hasErrorInput = read(out.errorInput);
}

void analyse_while_reading(bool explain, bool inputs)
{
    resetEarly();
    early.wanted = true;
    early.explain = explain;
    early.inputs = inputs;
    model_watch_runs(noteRun);
}

void stop_analysing_while_reading()
{
    model_watch_runs(nullptr);
    resetEarly();
}

Analysis analyse(const ModelView& view, bool explain, bool inputs)
{
    model_watch_runs(nullptr);
    endEarly(false);
    Early& e = early;
    bool useEarly = e.wanted && !e.failed && e.prepared && e.explain == explain && e.inputs == inputs &&
                    e.symbols->size() == view.symbols.size() && e.signalCount == view.signals.size();

    Analysis a;
    Prepared own;
    if (useEarly)
        own = std::move(e.p);
    else
        prepare(view.signals.size(), view.symbols, own);
    const Prepared& p = own;
    a.symbolSatisfiable.resize(view.symbols.size());
    for (size_t s = 0; s < view.symbols.size(); s++)
        a.symbolSatisfiable[s] = p.symbols[s].count > 0;

    a.fate.resize(view.rows.size());
    if (explain)
        a.shadowStart.resize(view.rows.size(), -1);
    a.inputStart.resize(view.states.size(), 0);
    a.pool.resize(view.states.size(), 0);

    // States are independent, so a large machine is split in two parts of
    // about as many rows, one per thread. Each part has its share of the
    // run's budget, fixed by the rows alone, so the verdicts never depend
    // on how the threads are scheduled, nor on how many cores there are.
    size_t n = view.rows.size();
    Part parts[2];
    parts[0].pool = 1;
    parts[1].pool = 2;
    int partCount = n >= rowsForTwoThreads ? 2 : 1;
    parts[0].endState = view.states.size();
    if (partCount == 2) {
        size_t rows = 0, st = 0;
        while (st < view.states.size() && rows < n / 2)
            rows += view.states[st++].rows.size();
        parts[0].endState = st;
        parts[1].firstState = st;
        parts[1].endState = view.states.size();
        parts[0].budget = runBudgetBase / 2 + runBudgetPerRow * rows;
        parts[1].budget = runBudgetBase / 2 + runBudgetPerRow * (n - rows);
    } else {
        parts[0].budget = runBudgetBase + runBudgetPerRow * n;
    }
    std::thread helper;
    if (partCount == 2) {
        try {
            helper = std::thread(analysePart, std::cref(view), std::cref(p), explain, inputs, useEarly, std::ref(a),
                                 std::ref(parts[1]));
        } catch (const std::system_error&) {
            // No thread to be had: this one does both parts.
        }
    }
    analysePart(view, p, explain, inputs, useEarly, a, parts[0]);
    if (helper.joinable())
        helper.join();
    else if (partCount == 2)
        analysePart(view, p, explain, inputs, useEarly, a, parts[1]);

    // The shadowing lists go one after the other: the early ones, then the
    // parts'; the inputs stay where they are.
    Findings none;
    Findings& first = useEarly ? e.found : none;
    a.shadowRows = std::move(first.shadowRows);
    a.inputs[earlyPool] = std::move(first.inputs);
    size_t shift[3] = {0, 0, 0};
    for (int k = 0; k < partCount; k++) {
        Part& part = parts[k];
        shift[part.pool] = a.shadowRows.size();
        a.shadowRows.append(part.found.shadowRows.begin(), part.found.shadowRows.end());
        a.inputs[part.pool] = std::move(part.found.inputs);
        a.undecidedRows += part.undecidedRows;
    }
    for (size_t st = 0; st < view.states.size() && explain; st++) {
        int by = static_cast<int>(shift[a.pool[st]]);
        if (by == 0)
            continue;
        for (int r : view.states[st].rows)
            if (a.shadowStart[r] >= 0)
                a.shadowStart[r] += by;
    }
    if (inputs) {
        a.constants.resize(view.signals.size());
        for (size_t s = 0; s < view.signals.size(); s++)
            a.constants[s] = std::move(own.signals[s].constants);
    }
    resetEarly();

    a.reachable.assign(view.states.size(), false);
    for (int st : reach_states(view, [&](int r) { return may_fire(a.fate[r]); }))
        a.reachable[st] = true;
    return a;
}

std::string input_bits(const InputValue& value)
{
    return value.above ? successor(*value.constant) : *value.constant;
}
