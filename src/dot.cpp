// --dot: the described machine as a Graphviz digraph. One node per state in
// the order of the checker's state type, one edge per row. Rows are written
// grouped by input symbol, so that each symbol's condition is written once,
// as the edge tooltip of its group, and the file stays linear in the size
// of the description however many rows share a symbol.
#include "dot.h"

#include "output.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

// The entry arrow starts at this point node. Parentheses never occur in a
// name guardgen accepts, so it cannot meet a state.
const char* const EntryNode = "\"(start)\"";

// Constants longer than this are shortened in tooltips to their first and
// last digits and their width: a tooltip is for reading, and a million
// digits in every edge would make the SVG huge.
const size_t LongConstant = 64;
const size_t ConstantEnd = 16;

// How many rows ahead the writer asks for the states it will name.
const int Ahead = 8;

// Quoted, so that a name DOT takes for a keyword (NODE, EDGE, GRAPH,
// DIGRAPH, SUBGRAPH, STRICT in any case) stays a name. Names and
// conditions hold neither quotes nor backslashes, but the escape keeps the
// file valid should a reader ever let one through.
void addQuoted(std::string& out, std::string_view text)
{
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
}

void putQuoted(std::string_view text)
{
    std::string quoted;
    addQuoted(quoted, text);
    put(quoted);
}

// Every state's name quoted once, end to end in one string: a name is
// written once per row, and a small table read in place beats quoting it
// again from a state anywhere in memory.
struct QuotedNames {
    std::string text;
    std::vector<size_t> start; // by state, and one past the last

    explicit QuotedNames(const ModelView& view)
    {
        for (const ViewState& state : view.states) {
            start.push_back(text.size());
            addQuoted(text, state.name);
        }
        start.push_back(text.size());
    }
    std::string_view operator[](int s) const { return std::string_view(text).substr(start[s], start[s + 1] - start[s]); }
};

void addConstant(std::string& out, const std::string& value)
{
    if (value.size() <= LongConstant) {
        out += value;
        return;
    }
    out.append(value, 0, ConstantEnd);
    out += "...";
    out.append(value, value.size() - ConstantEnd, ConstantEnd);
    out += " (" + std::to_string(value.size()) + " bitu)";
}

// The symbol's definition as the description writes it: AND within a
// term, OR between terms.
std::string condition(const ModelView& view, const ViewSymbol& symbol)
{
    std::string out = symbol.name + " =";
    for (size_t t = 0; t < symbol.terms.size(); t++) {
        if (t > 0)
            out += " OR";
        for (size_t c = 0; c < symbol.terms[t].size(); c++) {
            const Comparison& cmp = symbol.terms[t][c];
            out += c > 0 ? " AND " : " ";
            out += view.signals[cmp.signal].name;
            out += ' ';
            out += cmp_text(cmp.op);
            out += ' ';
            addConstant(out, cmp.value);
        }
    }
    return out;
}

// What the picture shows, so that the legend explains only that.
struct Shown {
    bool errorState = false, unreachable = false, deadRow = false;
    bool unlabeled = false, priorities = false;
};

void putLegend(const Shown& shown)
{
    put("  graph [labelloc=b labeljust=l fontsize=10 label=\"");
    put("Dvojity okraj a sipka: pocatecni stav (po RESET).\\l");
    if (shown.errorState)
        put("Cervene: stav bez prechodu, kazdy vstup v nem je chyba.\\l");
    if (shown.unreachable)
        put("Sede: stav, do ktereho automat nikdy nedojde.\\l");
    if (shown.deadRow)
        put("Carkovane sede: prechod, ktery nikdy nenastane.\\l");
    if (shown.priorities)
        put("N: poradi, v jakem se prechody stavu zkouseji.\\l");
    if (shown.unlabeled)
        put("(vzdy): prechod bez vstupniho symbolu, plati vzdy.\\l");
    put("Vstup, ktery nesplnuje zadny prechod stavu: ERROR na jeden takt, pak pocatecni stav.\\l");
    put("Podminku vstupniho symbolu ukaze hrana pod mysi (SVG).\\l\"];\n");
}

void putState(const ModelView& view, const QuotedNames& names, const Analysis& analysis, int s)
{
    const ViewState& state = view.states[s];
    put("  ");
    put(names[s]);
    std::string_view attrs;
    bool error = state.rows.empty();
    bool reachable = analysis.reachable[s];
    if (s == view.start)
        attrs = " [peripheries=2]";
    else if (error && reachable)
        attrs = " [style=filled fillcolor=\"#ffdddd\" color=red fontcolor=red"
                " tooltip=\"bez prechodu: kazdy vstup je chyba\"]";
    else if (error)
        attrs = " [style=filled fillcolor=\"#ffdddd\" color=grey fontcolor=grey"
                " tooltip=\"bez prechodu, nedosazitelny\"]";
    else if (!reachable)
        attrs = " [color=grey fontcolor=grey tooltip=\"nedosazitelny\"]";
    put(attrs);
    put(";\n");
}

// A row as the picture needs it, gathered in one pass over the rows so
// that writing them by symbol reads memory in order.
// Twelve bytes: a million rows make a million edges.
struct Edge {
    int source, target;
    unsigned priority : 31; // 0: the only row of its state, no prefix
    unsigned dead : 1;      // can never fire
};

void putEdge(const ModelView& view, const QuotedNames& names, const Edge& edge, int symbol)
{
    put("    ");
    put(names[edge.source]);
    put(" -> ");
    put(names[edge.target]);
    put(" [label=\"");
    if (edge.priority > 0) {
        put(static_cast<long long>(edge.priority));
        put(": ");
    }
    put(symbol < 0 ? std::string_view("(vzdy)") : std::string_view(view.symbols[symbol].name));
    put(edge.dead ? "\" style=dashed color=grey fontcolor=grey];\n" : "\"];\n");
}

} // namespace

void write_dot(const ModelView& view, const Analysis& analysis, const std::string& path)
{
    // The rows bucketed by symbol: slot 0 holds the rows without one, slot
    // k + 1 symbol k. A state's rows come in priority order, so counting
    // them as they come gives each its priority (0 where a state has one).
    Shown shown;
    for (const ViewState& state : view.states) {
        shown.errorState |= state.rows.empty();
        shown.priorities |= state.rows.size() > 1;
    }
    std::vector<int> seen(view.states.size(), 0);
    std::vector<int> first(view.symbols.size() + 2, 0);
    for (const ViewRow& row : view.rows)
        first[row.symbol + 2]++;
    for (size_t k = 1; k < first.size(); k++)
        first[k] += first[k - 1];
    std::vector<Edge> edges(view.rows.size());
    for (size_t r = 0; r < view.rows.size(); r++) {
        const ViewRow& row = view.rows[r];
        bool dead = !may_fire(analysis.fate[r]);
        unsigned priority = view.states[row.source].rows.size() > 1 ? ++seen[row.source] : 0;
        edges[first[row.symbol + 1]++] = Edge{row.source, row.target, priority, dead};
        shown.deadRow |= dead;
        shown.unlabeled |= row.symbol < 0;
    }
    for (size_t s = 0; s < view.states.size(); s++)
        shown.unreachable |= !analysis.reachable[s];

    QuotedNames names(view);
    outOpen(path);
    put("// Graphviz picture of the checker's machine, written by guardgen.\n"
        "// dot -Tsvg FILE.dot -o FILE.svg; an edge's tooltip is its input symbol's condition.\n"
        "digraph \"GUARD\" {\n"
        "  graph [fontname=\"Helvetica,Arial,sans-serif\"];\n"
        "  node [fontname=\"Helvetica,Arial,sans-serif\"];\n"
        "  edge [fontname=\"Helvetica,Arial,sans-serif\" fontsize=11];\n");
    putLegend(shown);
    put("  ");
    put(EntryNode);
    put(" [shape=point width=0.12 tooltip=\"RESET\"];\n");
    for (size_t s = 0; s < view.states.size(); s++)
        putState(view, names, analysis, static_cast<int>(s));
    put("  ");
    put(EntryNode);
    put(" -> ");
    put(names[view.start]);
    put(" [tooltip=\"RESET\"];\n");

    // After the bucketing, first[k] is where slot k ends and slot k + 1 begins.
    for (size_t k = 0; k <= view.symbols.size(); k++) {
        int from = k == 0 ? 0 : first[k - 1], to = first[k];
        if (from == to)
            continue;
        put("  {\n    edge [tooltip=");
        if (k == 0)
            put("\"bez vstupniho symbolu: plati vzdy\"");
        else
            putQuoted(condition(view, view.symbols[k - 1]));
        put("];\n");
        for (int i = from; i < to; i++) {
            // The states of a symbol's rows lie anywhere in memory; asking
            // for those a few rows ahead hides most of the wait.
            if (i + Ahead < to) {
                __builtin_prefetch(&names.start[edges[i + Ahead].source]);
                __builtin_prefetch(&names.start[edges[i + Ahead].target]);
            }
            putEdge(view, names, edges[i], static_cast<int>(k) - 1);
        }
        put("  }\n");
    }
    put("}\n");
    outClose(path);
}
