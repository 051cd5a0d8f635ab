// The model view: the described machine in the structured form that the
// analysis and the writers of the options read. The parser (or the KISS2
// reader) notes what the model tables do not keep: lines, and every
// comparison apart. build_view then puts it together once, beside the
// tables, which stay as they are.
#ifndef GUARDGEN_MODEL_H
#define GUARDGEN_MODEL_H

#include "growing.h"

#include <string>
#include <vector>

enum class CmpOp { Gt, Lt, Ge, Le, Eq, Ne };

// SIGNAL OP VALUE; value holds binary digits, as many as the signal is wide.
struct Comparison {
    int signal;
    CmpOp op;
    std::string value;
};

struct ViewSignal {
    std::string name;
    int width;
    int line, column; // the first comparison of the signal
};

// A symbol holds when any of its terms does, and a term when all its
// comparisons do (AND binds tighter than OR); both in the order written.
struct ViewSymbol {
    std::string name;
    std::vector<std::vector<Comparison>> terms;
    int line, column; // its definition
};

struct ViewRow {
    int source, target; // indexes into ModelView::states
    int symbol;         // index into ModelView::symbols; -1: no symbol, always holds
    int line, column;   // the row's first token
};

// The rows of a view: noted one by one while reading, a million of them.
using RowStore = Growing<ViewRow>;

struct ViewState {
    std::string name;
    std::vector<int> rows; // indexes into ModelView::rows, in priority order
    int line, column;      // the first row that names the state
};

// A finding the reader made itself (KISS2 rows left out, counts that
// disagree), reported by --lint among the others.
struct ReaderNote {
    int line, column;
    std::string text;
};

struct ModelView {
    std::vector<ViewSignal> signals; // in port order
    std::vector<ViewSymbol> symbols; // in order of definition
    RowStore rows;                   // in listed order
    std::vector<ViewState> states;   // in the order of the checker's state type
    int start = 0;                   // the start state: the source of the first row
    std::vector<ReaderNote> notes;   // in the order the reader made them
};

// The states reached from the start state over the rows that TAKES(row)
// accepts, in breadth-first order; with PARENT, by state, the row that
// reached it first (-1: none). The states ahead in the queue lie anywhere
// in memory, so they are asked for a few steps before they are read.
template <class Takes>
std::vector<int> reach_states(const ModelView& view, Takes takes, std::vector<int>* parent = nullptr)
{
    std::vector<int> order;
    if (view.states.empty())
        return order;
    order.reserve(view.states.size());
    std::vector<bool> seen(view.states.size(), false);
    if (parent)
        parent->assign(view.states.size(), -1);
    seen[view.start] = true;
    order.push_back(view.start);
    for (size_t head = 0; head < order.size(); head++) {
        if (head + 8 < order.size())
            __builtin_prefetch(&view.states[order[head + 8]]);
        if (head + 4 < order.size()) {
            const std::vector<int>& ahead = view.states[order[head + 4]].rows;
            if (!ahead.empty()) {
                __builtin_prefetch(ahead.data());
                __builtin_prefetch(&view.rows[ahead.front()]);
                __builtin_prefetch(&view.rows[ahead.back()]);
            }
        }
        for (int r : view.states[order[head]].rows) {
            int target = view.rows[r].target;
            if (!seen[target] && takes(r)) {
                seen[target] = true;
                if (parent)
                    (*parent)[target] = r;
                order.push_back(target);
            }
        }
    }
    return order;
}

// Reading a plain description needs no view; a run that does asks for one
// before reading, so that rows are noted as they come.
void model_keep_rows(bool keep);

// Noted while reading. A symbol's comparisons come first, then the symbol.
void model_signal(int line, int column); // the signal add_sig added last
void model_comparison(bool orBefore, const std::string& signal, CmpOp op, const std::string& digits);
void model_symbol(const std::string& name, int line, int column);
// The row add_state added last, with the numbers the tables gave its states.
void model_row(int line, int column);

void model_note(int line, int column, const std::string& text);

// Told, while reading, of each run of rows listed together with one source
// state, once a row names another source: the rows firstRow .. firstRow +
// count - 1 of the view, and the signals and symbols noted, which do not
// change once rows come. The run need not be all of the state's rows.
using RunWatcher = void (*)(const std::vector<ViewSignal>& signals, const std::vector<ViewSymbol>& symbols,
                            int firstRow, const ViewRow* rows, int count);
void model_watch_runs(RunWatcher watcher); // null: no one

// Builds the view from the tables and the notes after reading; later calls
// give the same view.
const ModelView& build_view();
void clear_model();

// The operator as the description writes it ("==", "<>", ...).
const char* cmp_text(CmpOp op);

#endif
