// --testbench: a self-checking VHDL testbench of the checker.
//
// The plan: one breadth-first search from the start state over the rows
// that can fire gives every reachable state a parent row. Each reachable
// state gets a procedure REACH_<n> that calls its parent's procedure and
// then takes the parent row, so a path is written once however often the
// plan walks it and the file stays linear in the rows. Then, state by state
// in search order (a procedure STEPS_<n> each, called in turn by the
// process body), every row that can fire is taken once (self-loops first,
// so that the checker is still there for the next row) and, where some
// input fits no row, one error check follows. A step starts from where the
// previous one left the checker when that is its state; otherwise the
// testbench resets and calls the state's REACH procedure.
//
// The user's names appear only as elements of one record signal INPUTS and
// as formal ports, never as declarations of their own, so no user name can
// hide or clash with a name the testbench declares or uses.
#include "testbench.h"

#include "output.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Values of wider signals are written once as constants, so that a step
// of a wide vector costs a name, not the vector.
const size_t WIDE = 64;

struct Writer {
    const ModelView& view;
    const Analysis& analysis;
    std::vector<int> parentRow; // by state: the row that reaches it first, -1 for none
    std::vector<int> order;     // reachable states in search order
    std::vector<std::unordered_map<std::string, int>> wideValues; // by signal
    int valueCount = 0;
    int current = -1;           // the checker's state at this point of the plan
    long long rowsTaken = 0, errorChecks = 0;
};

bool fires(const Writer& w, int row)
{
    return w.analysis.fate[row] == RowFate::Fires;
}

void search(Writer& w)
{
    w.order = reach_states(w.view, [&](int r) { return fires(w, r); }, &w.parentRow);
}

// "(SOURCE, SYMBOL) : TARGET" as the description writes the row.
void putRowText(const ModelView& v, int r)
{
    const ViewRow& row = v.rows[r];
    put("(");
    put(v.states[row.source].name);
    if (row.symbol >= 0) {
        put(", ");
        put(v.symbols[row.symbol].name);
    }
    put(") : ");
    put(v.states[row.target].name);
}

size_t widthOf(const Writer& w, const InputValue& value)
{
    return static_cast<size_t>(w.view.signals[value.signal].width);
}

// Declares, before the procedure that uses them, a constant for each wide
// value of the input not seen before.
void declareWide(Writer& w, const Input& in)
{
    for (const InputValue& value : in) {
        if (widthOf(w, value) <= WIDE)
            continue;
        std::string bits = input_bits(value);
        auto found = w.wideValues[value.signal].emplace(bits, w.valueCount);
        if (!found.second)
            continue;
        put("    -- a value of ");
        put(w.view.signals[value.signal].name);
        put("\n    constant VALUE_");
        put(w.valueCount++);
        put(" : std_logic_vector(");
        put(static_cast<long long>(bits.size() - 1));
        put(" downto 0) :=\n      \"");
        put(bits);
        put("\";\n");
    }
}

// The digits of a value, without building a string: the value just above
// a constant flips its last '0' to '1' and the ones after it to '0'.
void putBits(const InputValue& value)
{
    const std::string& c = *value.constant;
    if (!value.above) {
        put(c);
        return;
    }
    static const std::string zeros(64, '0');
    size_t p = c.find_last_of('0');
    put(std::string_view(c).substr(0, p));
    put("1");
    for (size_t n = c.size() - p - 1; n > 0;) {
        size_t k = std::min(n, zeros.size());
        put(std::string_view(zeros).substr(0, k));
        n -= k;
    }
}

// Sets the inputs for the next edge: all to zero, then those that are not.
void putInputs(Writer& w, const Input& in)
{
    put("      INPUTS <= ZERO;");
    for (const InputValue& value : in) {
        put(" INPUTS.");
        put(w.view.signals[value.signal].name);
        put(" <= ");
        size_t width = widthOf(w, value);
        if (width == 1) {
            put("'1'"); // a one-bit value that is not zero
        } else if (width <= WIDE) {
            put("\"");
            putBits(value);
            put("\"");
        } else {
            put("VALUE_");
            put(w.wideValues[value.signal].at(input_bits(value)));
        }
        put(";");
    }
    put("\n");
}

void putRowCall(const ModelView& v, const char* procedure, int r)
{
    put("      ");
    put(procedure);
    put("(");
    put(r + 1);
    put(", ");
    put(v.rows[r].line);
    put(", \"");
    putRowText(v, r);
    put("\");\n");
}

// Brings the checker to STATE for the next step.
void goTo(Writer& w, int state)
{
    if (w.current == state)
        return;
    if (w.current != w.view.start)
        put("      RESTART;\n");
    if (state != w.view.start) {
        put("      REACH_");
        put(state);
        put(";\n");
    }
    w.current = state;
}

// The procedure that walks from the start state to CHILD, whose parent row
// is taken with the input IN.
void writeReach(Writer& w, int child, const Input& in)
{
    const ModelView& v = w.view;
    int r = w.parentRow[child];
    int parent = v.rows[r].source;
    declareWide(w, in);
    put("    -- ");
    put(v.states[child].name);
    put("\n    procedure REACH_");
    put(child);
    put(" is\n    begin\n");
    if (parent != v.start) {
        put("      REACH_");
        put(parent);
        put(";\n");
    }
    putInputs(w, in);
    putRowCall(v, "PASS", r);
    put("    end procedure;\n");
}

// The rows of state S that the plan takes: those that can fire, and for
// which the state's inputs hold one.
bool planned(const Writer& w, const StateInputs& in, int s, size_t k)
{
    return fires(w, w.view.states[s].rows[k]) && in.fires[k];
}

// The steps of one reachable state: its rows that can fire (self-loops
// first, so that the checker is still there for the next row), then the
// error check. False when there is no step.
bool writeSteps(Writer& w, int s, const StateInputs& in)
{
    const ModelView& v = w.view;
    const ViewState& st = v.states[s];
    bool any = in.hasErrorInput;
    for (size_t k = 0; k < st.rows.size(); k++)
        if (planned(w, in, s, k)) {
            declareWide(w, in.rowInputs[k]);
            any = true;
        }
    if (in.hasErrorInput)
        declareWide(w, in.errorInput);
    if (!any)
        return false;
    put("    -- the steps of ");
    put(st.name);
    put("\n    procedure STEPS_");
    put(s);
    put(" is\n    begin\n");
    for (int pass = 0; pass < 2; pass++) {
        for (size_t k = 0; k < st.rows.size(); k++) {
            int r = st.rows[k];
            bool loop = v.rows[r].target == s;
            if (!planned(w, in, s, k) || loop != (pass == 0))
                continue;
            goTo(w, s);
            putInputs(w, in.rowInputs[k]);
            putRowCall(v, "TAKE", r);
            w.current = v.rows[r].target;
            w.rowsTaken++;
        }
    }
    if (in.hasErrorInput) {
        goTo(w, s);
        putInputs(w, in.errorInput);
        put("      ERROR_CHECK(");
        put(st.line);
        put(", \"");
        put(st.name);
        put("\");\n");
        w.current = v.start;
        w.errorChecks++;
    }
    put("    end procedure;\n");
    return true;
}

const char* fateText(RowFate fate)
{
    switch (fate) {
    case RowFate::Fires: return "its state cannot be reached";
    case RowFate::Shadowed: return "shadowed by";
    case RowFate::NeverHolds: return "its input symbol never holds";
    case RowFate::Undecided: return "undecided (beyond the analysis budget)";
    }
    return "";
}

void writeHeader(Writer& w, long long covered)
{
    const ModelView& v = w.view;
    put("-- Self-checking testbench of the checker GUARD, written by guardgen --testbench.\n");
    put("-- It resets the checker, takes every row that can fire once (walking the\n");
    put("-- shortest path of rows to its state first) and asserts ERROR = '0' after\n");
    put("-- every such edge; in every reachable state where some input fits no row it\n");
    put("-- applies such an input and asserts ERROR = '1' after the edge and '0' after\n");
    put("-- the next one (back in the start state). Run with the generic TRACE => true\n");
    put("-- (ghdl -r ... -gTRACE=true) to print the inputs and ERROR of every cycle.\n--\n");
    put("-- Rows of the description covered: ");
    put(covered);
    put(" of ");
    put(static_cast<long long>(v.rows.size()));
    put(" (every row that can fire from a reachable state).\n");
    if (covered == static_cast<long long>(v.rows.size()))
        return;
    put("-- Rows not taken, and why:\n");
    std::vector<bool> reachable(v.states.size(), false);
    for (int s : w.order)
        reachable[s] = true;
    for (size_t r = 0; r < v.rows.size(); r++) {
        RowFate fate = w.analysis.fate[r];
        if (fate == RowFate::Fires && reachable[v.rows[r].source])
            continue;
        put("--   row ");
        put(static_cast<long long>(r + 1));
        put(", line ");
        put(v.rows[r].line);
        put(", ");
        putRowText(v, int(r));
        put(": ");
        put(fateText(fate));
        if (fate == RowFate::Shadowed) {
            RowSpan by = w.analysis.shadowedBy(int(r));
            const char* sep = by.size() > 1 ? " lines " : " line ";
            for (int row : by) {
                put(sep);
                put(v.rows[row].line);
                sep = ", ";
            }
        }
        put("\n");
    }
}

void writeRecord(const ModelView& v)
{
    put("  -- The checker's inputs, one element per port.\n");
    put("  type INPUTS_T is record\n");
    for (const ViewSignal& s : v.signals) {
        put("    ");
        put(s.name);
        if (s.width == 1) {
            put(" : std_logic;\n");
        } else {
            put(" : std_logic_vector(");
            put(s.width - 1);
            put(" downto 0);\n");
        }
    }
    if (v.signals.empty())
        put("    UNUSED : std_logic; -- the checker has no inputs\n");
    put("  end record;\n  constant ZERO : INPUTS_T := (");
    const char* sep = "";
    for (const ViewSignal& s : v.signals) {
        put(sep);
        put(s.name);
        put(s.width == 1 ? " => '0'" : " => (others => '0')");
        sep = ", ";
    }
    if (v.signals.empty())
        put("UNUSED => '0'");
    put(");\n");
}

const char* const PREAMBLE = R"VHDL(
  constant PERIOD : time := 10 ns;
  -- ERROR is checked, and the inputs change, this long after a rising edge.
  constant SETTLE : time := 2 ns;

  signal CLK : std_logic := '0';
  signal RESET : std_logic := '1';
  signal ERROR : std_logic;
  signal INPUTS : INPUTS_T := ZERO;
  signal DONE : boolean := false;
begin
  DUT : entity work.GUARD
    port map (
      CLK => CLK,
      RESET => RESET,
)VHDL";

const char* const PROCEDURES = R"VHDL(
  -- The clock runs until the plan is done; then no event is left and the
  -- simulation ends by itself.
  CLOCK : process
  begin
    while not DONE loop
      CLK <= '0';
      wait for PERIOD / 2;
      CLK <= '1';
      wait for PERIOD / 2;
    end loop;
    wait;
  end process CLOCK;

  STIMULUS : process
    variable FAILURES : natural := 0;
    variable ROWS_TAKEN : natural := 0;
    variable ERRORS_SEEN : natural := 0;
    variable CYCLES : natural := 0;

    function BITS(V : std_logic_vector) return string is
      variable S : string(1 to V'length);
      variable K : positive := 1;
    begin
      for I in V'range loop
        S(K) := std_logic'image(V(I))(2);
        K := K + 1;
      end loop;
      return S;
    end function;

    procedure PRINT(TEXT : string) is
      variable L : std.textio.line;
    begin
      std.textio.write(L, TEXT);
      std.textio.writeline(std.textio.output, L);
    end procedure;

    -- One clock cycle: the inputs set before the call are sampled at the
    -- rising edge, and then ERROR must be EXPECTED.
    procedure CYCLE(EXPECTED : std_logic; WHAT : string) is
    begin
      wait until rising_edge(CLK);
      wait for SETTLE;
      CYCLES := CYCLES + 1;
      if TRACE then
        PRINT("cycle " & integer'image(CYCLES) & ": RESET=" & std_logic'image(RESET)(2)
)VHDL";

const char* const STEPS = R"VHDL(
              & " ERROR=" & std_logic'image(ERROR)(2));
      end if;
      if ERROR /= EXPECTED then
        FAILURES := FAILURES + 1;
        report WHAT & ": ERROR is " & std_logic'image(ERROR) & ", expected "
          & std_logic'image(EXPECTED) severity warning;
      end if;
    end procedure;

    procedure RESTART is
    begin
      RESET <= '1';
      CYCLE('0', "reset");
      RESET <= '0';
    end procedure;

    -- A row on the way to the state of the next step.
    procedure PASS(ROW, LINE : positive; TEXT : string) is
    begin
      CYCLE('0', "row " & integer'image(ROW) & ", line " & integer'image(LINE) & " " & TEXT
            & " (on the way)");
    end procedure;

    -- A row of the plan: the checker must stay quiet.
    procedure TAKE(ROW, LINE : positive; TEXT : string) is
    begin
      CYCLE('0', "row " & integer'image(ROW) & ", line " & integer'image(LINE) & " " & TEXT);
      ROWS_TAKEN := ROWS_TAKEN + 1;
    end procedure;

    -- An input that fits no row of the state: ERROR for one clock, then
    -- the checker is back in the start state.
    procedure ERROR_CHECK(LINE : positive; STATE : string) is
      variable BEFORE : natural;
    begin
      BEFORE := FAILURES;
      CYCLE('1', "state " & STATE & " (line " & integer'image(LINE) & "), input that fits no row");
      CYCLE('0', "state " & STATE & " (line " & integer'image(LINE) & "), the clock after the error");
      if FAILURES = BEFORE then
        ERRORS_SEEN := ERRORS_SEEN + 1;
      end if;
    end procedure;

)VHDL";

const char* const TAIL = R"VHDL(
    PRINT("GUARD_TB: rows taken: " & integer'image(ROWS_TAKEN) & " of " & integer'image(ROWS_PLANNED)
          & ", error checks passed: " & integer'image(ERRORS_SEEN) & " of "
          & integer'image(ERRORS_PLANNED) & ", failed assertions: " & integer'image(FAILURES));
    assert FAILURES = 0
      report "GUARD_TB: " & integer'image(FAILURES) & " assertions failed" severity failure;
    PRINT("GUARD_TB: PASS");
    DONE <= true;
    wait;
  end process STIMULUS;
end architecture BENCH;
)VHDL";

} // namespace

void write_testbench(const ModelView& view, const Analysis& analysis, const std::string& path)
{
    Writer w{view, analysis, {}, {}, {}, 0, -1, 0, 0};
    w.wideValues.resize(view.signals.size());
    search(w);
    long long covered = 0;
    for (int s : w.order)
        for (int r : view.states[s].rows)
            covered += fires(w, r);

    outOpen(path);
    writeHeader(w, covered);
    put("library ieee;\nuse ieee.std_logic_1164.all;\n\nentity GUARD_TB is\n");
    put("  generic (TRACE : boolean := false);\nend entity GUARD_TB;\n\n");
    put("architecture BENCH of GUARD_TB is\n");
    writeRecord(view);
    put(PREAMBLE);
    for (const ViewSignal& s : view.signals) {
        put("      ");
        put(s.name);
        put(" => INPUTS.");
        put(s.name);
        put(",\n");
    }
    put("      ERROR => ERROR);\n");
    put(PROCEDURES);
    for (const ViewSignal& s : view.signals) {
        put("              & \" ");
        put(s.name);
        put(s.width == 1 ? "=\" & std_logic'image(INPUTS." : "=\" & BITS(INPUTS.");
        put(s.name);
        put(s.width == 1 ? ")(2)\n" : ")\n");
    }
    put(STEPS);

    // Each reachable state in search order: the REACH procedures of the
    // states first found from it go out at once (a parent's procedure is
    // declared before its children's), then its steps.
    std::vector<int> stepped; // states with steps, in the order they run
    w.current = view.start;
    StateInputs in;
    for (size_t i = 0; i < w.order.size(); i++) {
        int s = w.order[i];
        // The next state's targets lie anywhere in memory; asking for them
        // now hides the wait behind this state's writing.
        if (i + 1 < w.order.size())
            for (int r : view.states[w.order[i + 1]].rows) {
                __builtin_prefetch(&view.states[view.rows[r].target]);
                __builtin_prefetch(&w.parentRow[view.rows[r].target]);
            }
        analysis.stateInputs(view, s, in);
        const ViewState& st = view.states[s];
        for (size_t k = 0; k < st.rows.size(); k++) {
            int r = st.rows[k];
            if (w.parentRow[view.rows[r].target] == r && in.fires[k])
                writeReach(w, view.rows[r].target, in.rowInputs[k]);
        }
        if (writeSteps(w, s, in))
            stepped.push_back(s);
    }
    put("    constant ROWS_PLANNED : natural := ");
    put(w.rowsTaken);
    put(";\n    constant ERRORS_PLANNED : natural := ");
    put(w.errorChecks);
    put(";\n  begin\n    RESTART;\n");
    for (int st : stepped) {
        put("    STEPS_");
        put(st);
        put(";\n");
    }
    put(TAIL);
    outClose(path);
}
