// Model tables: the lists the parser fills, their lookups and the writer of
// the VHDL checker that walks them.
#include "table.h"

#include "lex.h"
#include "output.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

std::list<TSignal> SignalList;
std::list<Tcond> CondList;
std::list<TSym> SymList;
std::list<TState> StateList;

std::list<TSignal>::iterator it_SignalList;
std::list<Tcond>::iterator it_CondList;
std::list<TSym>::iterator it_SymList;
std::list<TState>::iterator it_StateList;
std::list<TState>::iterator it_PomStateList;

TSignal TableSign;
Tcond TableCond;
TSym TableSym;
TState TableState;

std::string pom;

// Indexes beside the lists, so that a lookup costs the same for the
// millionth row as for the first. Each maps a name to its first row.
struct SignalEntry {
    std::list<TSignal>::iterator row;
    int width;
};
static std::unordered_map<std::string, SignalEntry> SignalIndex;
static std::unordered_map<std::string, std::list<TSym>::iterator> SymIndex;

// Every state gets a number in order of first appearance, source or target.
// The writer groups the rows by these numbers instead of rescanning the list.
// The names are indexed by an open-addressing table of numbers: the nodes of
// a node-based map lie scattered among a million list rows, and a lookup
// there costs several cache and TLB misses instead of two.
struct StateSlot {
    uint32_t hash;
    int state; // -1 for an empty slot
};
static std::vector<StateSlot> StateIndex;   // a power of two long, at most half full
static std::vector<std::string> StateNames; // by number
static std::vector<bool> IsSource;          // by number
static std::vector<int> SourceOrder;        // in order of the first row of each

// The rows as runs of adjacent rows of one source state. There are as many
// runs as states when the rows of each state come together, as usual, so
// the writer needs no index per row.
struct RowRun {
    std::list<TState>::const_iterator first;
    int state;
    size_t rows;
};
static std::vector<RowRun> Runs;

bool comp_sig(const std::string& name)
{
    auto found = SignalIndex.find(name);
    it_SignalList = found == SignalIndex.end() ? SignalList.end() : found->second.row;
    return found != SignalIndex.end();
}

bool comp_sym(const std::string& name)
{
    auto found = SymIndex.find(name);
    it_SymList = found == SymIndex.end() ? SymList.end() : found->second;
    return found != SymIndex.end();
}

// The number of the state comp_state found last, or -1: the parser checks
// each target name just before add_state stores it, so one lookup serves both.
static int lastState = -1;

static uint32_t hashName(const std::string& name)
{
    return static_cast<uint32_t>(std::hash<std::string>()(name));
}

// The slot that holds this name, or the empty slot where it belongs.
static size_t findSlot(const std::string& name, uint32_t hash)
{
    size_t mask = StateIndex.size() - 1;
    size_t i = hash & mask;
    while (StateIndex[i].state >= 0 &&
           (StateIndex[i].hash != hash || StateNames[StateIndex[i].state] != name))
        i = (i + 1) & mask;
    return i;
}

static void growStateIndex()
{
    std::vector<StateSlot> old(std::max<size_t>(1024, 2 * StateIndex.size()), StateSlot{0, -1});
    old.swap(StateIndex);
    for (const StateSlot& slot : old)
        if (slot.state >= 0)
            StateIndex[findSlot(StateNames[slot.state], slot.hash)] = slot;
}

// Rows of one state usually come together, so the source of the last row
// is asked for most often: it needs no lookup.
static bool inLastRun(const std::string& name)
{
    return !Runs.empty() && StateNames[Runs.back().state] == name;
}

bool comp_state(const std::string& name)
{
    if (inLastRun(name)) {
        lastState = Runs.back().state;
        return true;
    }
    lastState = -1;
    if (!StateIndex.empty())
        lastState = StateIndex[findSlot(name, hashName(name))].state;
    return lastState >= 0;
}

int sig_width(const std::string& name)
{
    auto found = SignalIndex.find(name);
    return found == SignalIndex.end() ? 0 : found->second.width;
}

void add_sig(const std::string& name, int pomport)
{
    TableSign.name = name;
    TableSign.port = PORT;
    if (pomport == 0)
        TableSign.typ = TYP;
    else
        TableSign.typ = " std_logic_vector(" + stringify(pomport) + " downto 0);";
    SignalList.push_back(TableSign);
    SignalIndex.emplace(name, SignalEntry{std::prev(SignalList.end()), pomport + 1});
}

void add_sym(const std::string& name, const std::string& conds)
{
    TableSym.name = name;
    TableSym.conds = conds;
    SymList.push_back(TableSym);
    SymIndex.emplace(name, std::prev(SymList.end()));
}

// The state numbers of the row add_state added last.
static int lastSource = -1, lastTarget = -1;

// The number of a state, given one at its first appearance.
static int stateNumber(const std::string& name)
{
    if (lastState >= 0 && StateNames[lastState] == name)
        return lastState;
    if (2 * (StateNames.size() + 1) > StateIndex.size())
        growStateIndex();
    uint32_t hash = hashName(name);
    size_t slot = findSlot(name, hash);
    if (StateIndex[slot].state < 0) {
        StateIndex[slot] = StateSlot{hash, static_cast<int>(StateNames.size())};
        StateNames.push_back(name);
        IsSource.push_back(false);
    }
    return StateIndex[slot].state;
}

void add_state(const std::string& inname, const std::string& prechod, const std::string& outname)
{
    TableState.inname = inname;
    TableState.outname = outname;
    TableState.prechod = prechod;
    StateList.push_back(TableState);

    if (inLastRun(inname)) {
        Runs.back().rows++;
    } else {
        int source = stateNumber(inname);
        if (!IsSource[source]) {
            IsSource[source] = true;
            SourceOrder.push_back(source);
        }
        Runs.push_back(RowRun{std::prev(StateList.end()), source, 1});
    }
    lastSource = Runs.back().state;
    lastTarget = stateNumber(outname);
}

int last_row_source()
{
    return lastSource;
}

int last_row_target()
{
    return lastTarget;
}

void add_cond(const std::string& condoper, const std::string& signal, const std::string& operace,
              const std::string& konstanta)
{
    TableCond.condoper = condoper;
    TableCond.signal = signal;
    TableCond.operace = operace;
    TableCond.konstanta = konstanta;
    CondList.push_back(TableCond);
}

// AND binds tighter than OR: when a condition mixes the two, every run of
// two or more comparisons joined by "and" is put in parentheses. VHDL
// itself refuses a flat mix of the two operators.
std::string read_cond()
{
    bool hasAnd = false, hasOr = false;
    for (it_CondList = CondList.begin(); it_CondList != CondList.end(); ++it_CondList) {
        hasAnd |= it_CondList->condoper == "and";
        hasOr |= it_CondList->condoper == "or";
    }
    bool mixed = hasAnd && hasOr;

    std::string text;
    for (it_CondList = CondList.begin(); it_CondList != CondList.end(); ++it_CondList) {
        auto next = std::next(it_CondList);
        bool startsRun = it_CondList->condoper != "and";
        bool endsRun = next == CondList.end() || next->condoper != "and";
        text += " " + it_CondList->condoper + " ";
        if (mixed && startsRun && !endsRun)
            text += "(";
        text += it_CondList->signal + " " + it_CondList->operace + " " + it_CondList->konstanta;
        if (mixed && endsRun && !startsRun)
            text += ")";
    }
    return text;
}

void clear_cond()
{
    CondList.clear();
}

void clear_tables()
{
    SignalList.clear();
    CondList.clear();
    SymList.clear();
    StateList.clear();
    SignalIndex.clear();
    SymIndex.clear();
    StateIndex.clear();
    lastState = -1;
    StateNames.clear();
    IsSource.clear();
    SourceOrder.clear();
    Runs.clear();
}

std::vector<int> state_type_order()
{
    std::vector<int> order = SourceOrder;
    for (size_t s = 0; s < StateNames.size(); s++)
        if (!IsSource[s])
            order.push_back(static_cast<int>(s));
    return order;
}

const std::string& state_name(int state)
{
    return StateNames[state];
}

int state_number(const std::string& name)
{
    return comp_state(name) ? lastState : -1;
}

// ---------------------------------------------------------------------------
// Checker writer

// The runs of each state in list order, and the states in the order of the
// type list: source states by their first row, then states that are only
// targets by their first appearance.
struct Grouping {
    std::vector<int> order;
    std::vector<size_t> first; // runs of state s: runs[first[s]] up to runs[first[s + 1]]
    std::vector<const RowRun*> runs;
};

static Grouping groupRows()
{
    Grouping g;
    size_t states = StateNames.size();
    g.order = state_type_order();

    g.first.assign(states + 1, 0);
    for (const RowRun& run : Runs)
        g.first[run.state + 1]++;
    for (size_t s = 0; s < states; s++)
        g.first[s + 1] += g.first[s];

    std::vector<size_t> fill(g.first.begin(), g.first.end() - 1);
    g.runs.resize(Runs.size());
    for (const RowRun& run : Runs)
        g.runs[fill[run.state]++] = &run;
    return g;
}

static void writeEntity()
{
    put("--=================GENERATOR CHECKER in VHDL============\n"
        "library ieee;\n"
        "use ieee.std_logic_1164.all;\n"
        "use ieee.std_logic_arith.all;\n"
        "use ieee.std_logic_unsigned.all;\n"
        "\n"
        "--///////////////////// ENTITY of Guard /////////////////////\n"
        "entity GUARD is\n"
        "port(\n"
        "CLK        : in  std_logic;\n"
        "RESET      : in  std_logic;\n");
    for (it_SignalList = SignalList.begin(); it_SignalList != SignalList.end(); ++it_SignalList) {
        put(it_SignalList->name);
        put("    ");
        put(it_SignalList->port);
        put(it_SignalList->typ);
        put("\n");
    }
    put("ERROR     : out std_logic );\n"
        "\n"
        "end entity GUARD;\n"
        "\n");
}

static void writeDeclarations(const Grouping& g)
{
    put("--///////////////////ARCHITECTURE of GUARD /////////////////////\n"
        "architecture FL_GUARD of GUARD is\n"
        "\n");
    for (it_SymList = SymList.begin(); it_SymList != SymList.end(); ++it_SymList) {
        put("signal   ");
        put(it_SymList->name);
        put("  : std_logic;\n");
    }
    put("\n"
        "type t_state is (");
    for (int s : g.order) {
        put(StateNames[s]);
        put(",");
    }
    put("Serr);\n"
        "signal present_state, next_state : t_state;\n"
        "\n"
        "begin\n"
        "\n");
}

static void writeConditions()
{
    for (it_SymList = SymList.begin(); it_SymList != SymList.end(); ++it_SymList) {
        put(it_SymList->name);
        put(" <= '1' when");
        put(it_SymList->conds);
        put("\n"
            "    else '0';\n");
    }
    put("\n");
}

static void writeRegister(const std::string& start)
{
    put("-- FSM present state register -------------------------\n"
        "sync_logic : process(RESET, CLK)\n"
        "begin\n"
        "  if (RESET = '");
    put(RSTLOG);
    put("') then\n"
        "     present_state <= ");
    put(start);
    put(";\n"
        "  elsif (CLK'event AND CLK = '");
    put(CLKLOG);
    put("') then\n"
        "     present_state <= next_state;\n"
        "  end if;\n"
        "end process sync_logic;\n"
        "\n");
}

// One case arm. A row without an input symbol always holds.
static void writeArm(const Grouping& g, int state)
{
    put("    when ");
    put(StateNames[state]);
    put(" =>\n");
    if (!IsSource[state]) {
        put("       next_state <= Serr;\n");
        return;
    }
    const char* opening = "       if (";
    for (size_t r = g.first[state]; r < g.first[state + 1]; r++) {
        std::list<TState>::const_iterator row = g.runs[r]->first;
        for (size_t n = 0; n < g.runs[r]->rows; n++, ++row) {
            put(opening);
            put(row->prechod.empty() ? std::string_view("TRUE") : std::string_view(row->prechod));
            put(row->prechod.empty() ? ") then\n" : " = '1') then\n");
            put("          next_state <= ");
            put(row->outname);
            put(";\n");
            opening = "       elsif (";
        }
    }
    put("       else\n"
        "          next_state <= Serr;\n"
        "       end if;\n");
}

static void writeNextState(const Grouping& g, const std::string& start)
{
    put("-- FSM next state logic -------------------------------\n"
        "next_state_logic : process(present_state");
    for (it_SymList = SymList.begin(); it_SymList != SymList.end(); ++it_SymList) {
        put(", ");
        put(it_SymList->name);
    }
    put(")\n"
        "begin\n"
        "  case present_state is\n");
    for (int s : g.order)
        writeArm(g, s);
    put("    when Serr =>\n"
        "       next_state <= ");
    put(start);
    put(";\n"
        "    when others =>\n"
        "       next_state <= ");
    put(start);
    put(";\n"
        "  end case;\n"
        "end process next_state_logic;\n"
        "\n");
}

static void writeOutput()
{
    put("-- FSM output logic------------------------------------\n"
        "output_logic : process(present_state)\n"
        "begin\n"
        "  ERROR <= '0';\n"
        "  case present_state is\n"
        "     when Serr => ERROR <= '1';\n"
        "     when others => ERROR <= '0';\n"
        "  end case;\n"
        "end process output_logic;\n"
        "\n"
        "end architecture FL_GUARD;");
}

// Without a row the checker has no start state and is no valid VHDL.
void check_has_rows()
{
    if (StateList.empty())
        synTotalError("Chyba, popis neobsahuje zadny prechod");
}

void instrukce_debugOut(std::string fn_out)
{
    check_has_rows();

    outOpen(fn_out);

    Grouping g = groupRows();
    const std::string& start = StateList.front().inname;
    writeEntity();
    writeDeclarations(g);
    writeConditions();
    writeRegister(start);
    writeNextState(g, start);
    writeOutput();
    outClose(fn_out);
}
