// The model view, put together from the model tables and the notes taken
// while reading.
#include "model.h"

#include "table.h"

#include <unordered_map>
#include <utility>

namespace {

bool keepRows = false;
std::vector<ViewSignal> signals;
std::unordered_map<std::string, int> signalIndex;
std::unordered_map<std::string, int> symbolIndex;
std::vector<ViewSymbol> symbols;
std::vector<std::vector<Comparison>> pendingTerms;
std::vector<ReaderNote> notes;
// The rows go straight into the view, with the tables' state numbers until
// build_view turns them into positions: one copy of a million rows, not two.
ModelView view;
bool built = false;
RunWatcher watcher = nullptr;
int runStart = 0; // the first row of the run being read

} // namespace

void model_keep_rows(bool keep)
{
    keepRows = keep;
}

void model_signal(int line, int column)
{
    const TSignal& last = SignalList.back();
    signalIndex.emplace(last.name, static_cast<int>(signals.size()));
    signals.push_back(ViewSignal{last.name, sig_width(last.name), line, column});
}

void model_comparison(bool orBefore, const std::string& signal, CmpOp op, const std::string& digits)
{
    if (orBefore || pendingTerms.empty())
        pendingTerms.emplace_back();
    pendingTerms.back().push_back(Comparison{signalIndex.at(signal), op, digits});
}

void model_symbol(const std::string& name, int line, int column)
{
    symbolIndex.emplace(name, static_cast<int>(symbols.size()));
    symbols.push_back(ViewSymbol{name, std::move(pendingTerms), line, column});
    pendingTerms.clear();
}

void model_watch_runs(RunWatcher w)
{
    watcher = w;
    runStart = static_cast<int>(view.rows.size());
}

void model_row(int line, int column)
{
    if (!keepRows)
        return;
    const TState& last = StateList.back();
    int symbol = last.prechod.empty() ? -1 : symbolIndex.at(last.prechod);
    int source = last_row_source();
    int count = static_cast<int>(view.rows.size()) - runStart;
    if (watcher && count > 0 && view.rows[view.rows.size() - 1].source != source) {
        watcher(signals, symbols, runStart, &view.rows[runStart], count);
        runStart = static_cast<int>(view.rows.size());
    }
    view.rows.push_back(ViewRow{source, last_row_target(), symbol, line, column});
}

void model_note(int line, int column, const std::string& text)
{
    notes.push_back(ReaderNote{line, column, text});
}

const ModelView& build_view()
{
    // The rows are renumbered in place, so a second call must not do it again.
    if (built)
        return view;
    built = true;
    view.signals = signals;
    view.symbols = symbols;
    view.states.clear();
    view.notes = notes;

    // Table numbers to positions in the checker's state type.
    std::vector<int> order = state_type_order();
    std::vector<int> position(order.size());
    std::vector<int> rowCount(order.size(), 0);
    view.states.reserve(order.size());
    for (size_t i = 0; i < order.size(); i++) {
        position[order[i]] = static_cast<int>(i);
        view.states.push_back(ViewState{state_name(order[i]), {}, 0, 0});
    }
    for (ViewRow& row : view.rows) {
        row.source = position[row.source];
        row.target = position[row.target];
        rowCount[row.source]++;
    }
    // Each state's list takes its final size at once.
    for (size_t s = 0; s < order.size(); s++)
        view.states[s].rows.reserve(rowCount[s]);
    std::vector<bool> named(order.size(), false);
    auto name = [&](int state, const ViewRow& row) {
        if (!named[state]) {
            named[state] = true;
            view.states[state].line = row.line;
            view.states[state].column = row.column;
        }
    };
    for (size_t r = 0; r < view.rows.size(); r++) {
        const ViewRow& row = view.rows[r];
        name(row.source, row);
        name(row.target, row);
        view.states[row.source].rows.push_back(static_cast<int>(r));
    }
    view.start = view.rows.empty() ? 0 : view.rows.front().source;
    return view;
}

void clear_model()
{
    signals.clear();
    signalIndex.clear();
    symbolIndex.clear();
    symbols.clear();
    pendingTerms.clear();
    notes.clear();
    view = ModelView();
    built = false;
    runStart = 0;
}

const char* cmp_text(CmpOp op)
{
    switch (op) {
    case CmpOp::Gt: return ">";
    case CmpOp::Lt: return "<";
    case CmpOp::Ge: return ">=";
    case CmpOp::Le: return "<=";
    case CmpOp::Eq: return "==";
    case CmpOp::Ne: return "<>";
    }
    return "";
}
