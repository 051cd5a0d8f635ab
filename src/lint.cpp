// --lint: turns the analysis into warnings a designer can act on. Every
// finding is exact; where the analysis gave up on some rows, one note says
// so instead of guessing.
#include "lint.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Finding {
    int line, column;
    std::string text;
    const char* kind = "Varovani";
};

// Looking for a name one or two edits away from a state without rows is
// capped, so that a description with many such states stays linear: at
// most perName comparisons for one state and total for the run, each of a
// name of similar length (at most 2 characters longer or shorter).
const int perNameComparisons = 2000;
const long totalComparisons = 1L << 20;

// Levenshtein distance of a and b when it is at most 2, else 3. Only the
// band of the table within 2 of the diagonal can hold such a distance.
int distanceUpTo2(const std::string& a, const std::string& b)
{
    const int far = 3;
    int la = static_cast<int>(a.size()), lb = static_cast<int>(b.size());
    if (std::abs(la - lb) > 2)
        return far;
    static std::vector<int> prev, cur;
    prev.assign(lb + 1, far);
    cur.assign(lb + 1, far);
    for (int j = 0; j <= std::min(lb, 2); j++)
        prev[j] = j;
    for (int i = 1; i <= la; i++) {
        int lo = std::max(0, i - 2), hi = std::min(lb, i + 2);
        std::fill(cur.begin() + std::max(0, lo - 1), cur.begin() + std::min(lb, hi + 1) + 1, far);
        int best = far;
        for (int j = lo; j <= hi; j++) {
            int d = j == 0 ? i : prev[j - 1] + (a[i - 1] != b[j - 1] ? 1 : 0);
            d = std::min(d, prev[j] + 1);
            if (j > 0)
                d = std::min(d, cur[j - 1] + 1);
            cur[j] = std::min(d, far);
            best = std::min(best, cur[j]);
        }
        if (best >= far)
            return far;
        std::swap(prev, cur);
    }
    return prev[lb];
}

// A state with rows whose name is close to that of the given state, or -1.
class NameSuggester {
public:
    explicit NameSuggester(const ModelView& view) : view(view)
    {
        for (size_t s = 0; s < view.states.size(); s++)
            if (!view.states[s].rows.empty())
                byLength[view.states[s].name.size()].push_back(static_cast<int>(s));
    }

    int suggest(const std::string& name)
    {
        int best = -1, bestDistance = 3, compared = 0;
        static const int order[] = {0, -1, 1, -2, 2};
        for (int delta : order) {
            if (static_cast<long>(name.size()) + delta < 1)
                continue;
            auto it = byLength.find(name.size() + delta);
            if (it == byLength.end())
                continue;
            for (int s : it->second) {
                if (compared >= perNameComparisons || spent >= totalComparisons)
                    return best;
                compared++;
                spent++;
                int d = distanceUpTo2(name, view.states[s].name);
                if (d < bestDistance) {
                    best = s;
                    bestDistance = d;
                    if (d == 1)
                        return best;
                }
            }
        }
        return best;
    }

private:
    const ModelView& view;
    std::unordered_map<size_t, std::vector<int>> byLength;
    long spent = 0;
};

std::string rowLines(const ModelView& view, RowSpan rows)
{
    std::vector<int> lines;
    for (int r : rows)
        lines.push_back(view.rows[r].line);
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    std::string text = lines.size() == 1 ? "radek " : "radky ";
    for (size_t i = 0; i < lines.size(); i++)
        text += (i ? ", " : "") + std::to_string(lines[i]);
    return text;
}

// One write per 64 KiB: stderr is not buffered, and there may be many.
void report(const std::vector<Finding>& found)
{
    std::string out;
    for (const Finding& f : found) {
        out += std::string(f.kind) + "[line=" + std::to_string(f.line) + ", column=" + std::to_string(f.column) +
               "]: " + f.text + "\n";
        if (out.size() > (1 << 16)) {
            std::fwrite(out.data(), 1, out.size(), stderr);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stderr);
}

} // namespace

size_t lint(const ModelView& view, const Analysis& analysis)
{
    std::vector<Finding> found;
    for (const ReaderNote& note : view.notes)
        found.push_back(Finding{note.line, note.column, note.text, "Varovani"});

    // Input symbols: never '1' (L4), named by no row (L5).
    std::vector<bool> used(view.symbols.size(), false);
    for (const ViewRow& row : view.rows)
        if (row.symbol >= 0)
            used[row.symbol] = true;
    for (size_t s = 0; s < view.symbols.size(); s++) {
        const ViewSymbol& sym = view.symbols[s];
        if (!analysis.symbolSatisfiable[s])
            found.push_back(Finding{sym.line, sym.column, "Vstupni symbol " + sym.name + " neni nikdy 1"});
        if (!used[s])
            found.push_back(
                Finding{sym.line, sym.column, "Vstupni symbol " + sym.name + " neni pouzit v zadnem prechodu"});
    }

    // States: without rows (L1), out of reach of the start state (L2).
    NameSuggester suggester(view);
    const std::string& start = view.states[view.start].name;
    for (const ViewState& st : view.states) {
        if (st.rows.empty()) {
            std::string text = "Stav " + st.name + " nema zadny prechod, kazdy takt v nem je chyba";
            int near = suggester.suggest(st.name);
            if (near >= 0)
                text += " (mysleno " + view.states[near].name + "?)";
            found.push_back(Finding{st.line, st.column, text});
        }
    }
    for (size_t s = 0; s < view.states.size(); s++)
        if (!analysis.reachable[s])
            found.push_back(Finding{view.states[s].line, view.states[s].column,
                                    "Stav " + view.states[s].name + " neni dosazitelny z pocatecniho stavu " +
                                        start});

    // Rows that never fire (L3); undecided rows get one note.
    int firstUndecided = -1;
    for (size_t r = 0; r < view.rows.size(); r++) {
        const ViewRow& row = view.rows[r];
        RowFate fate = analysis.fate[r];
        if (fate == RowFate::Fires)
            continue;
        std::string head = "Prechod ze stavu " + view.states[row.source].name + " se nikdy neuplatni, ";
        if (fate == RowFate::Shadowed)
            found.push_back(Finding{row.line, row.column,
                                    head + "vzdy plati drive " + rowLines(view, analysis.shadowedBy(int(r)))});
        else if (fate == RowFate::NeverHolds)
            found.push_back(Finding{row.line, row.column,
                                    head + "vstupni symbol " + view.symbols[row.symbol].name + " neni nikdy 1"});
        else if (fate == RowFate::Undecided && firstUndecided < 0)
            firstUndecided = static_cast<int>(r);
    }

    size_t findings = found.size();
    // Not a finding: it says where the analysis could not look.
    if (firstUndecided >= 0) {
        const ViewRow& row = view.rows[firstUndecided];
        found.push_back(Finding{row.line, row.column,
                                "Podminky " + std::to_string(analysis.undecidedRows) +
                                    " prechodu jsou pro presnou analyzu prilis slozite, nic o nich neni hlaseno "
                                    "(prvni je ze stavu " +
                                    view.states[row.source].name + ")",
                                "Poznamka"});
    }
    std::stable_sort(found.begin(), found.end(), [](const Finding& a, const Finding& b) { return a.line < b.line; });
    report(found);
    std::fflush(stderr);
    return findings;
}
