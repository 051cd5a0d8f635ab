// Model tables of the described machine, and the checker writer.
#ifndef GUARDGEN_TABLE_H
#define GUARDGEN_TABLE_H

#include <list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

// One input signal: one input port of the checker.
struct TSignal {
    std::string name;
    std::string port;
    std::string typ;
};

// One comparison of the input symbol being defined.
struct Tcond {
    std::string condoper;
    std::string signal;
    std::string operace;
    std::string konstanta;
};

// One input symbol with its VHDL condition text.
struct TSym {
    std::string name;
    std::string conds;
};

// One transition; prechod is empty when the row names no input symbol.
struct TState {
    std::string inname;
    std::string outname;
    std::string prechod;
};

extern std::list<TSignal> SignalList;
extern std::list<Tcond> CondList;
extern std::list<TSym> SymList;
extern std::list<TState> StateList;

extern std::list<TSignal>::iterator it_SignalList;
extern std::list<Tcond>::iterator it_CondList;
extern std::list<TSym>::iterator it_SymList;
extern std::list<TState>::iterator it_StateList;
extern std::list<TState>::iterator it_PomStateList;

// Staging records: each keeps the values of the last row appended.
extern TSignal TableSign;
extern Tcond TableCond;
extern TSym TableSym;
extern TState TableState;

extern std::string pom;

static const std::string PORT = ": in";
static const std::string TYP = " std_logic;";
static const std::string RSTLOG = "1";
static const std::string CLKLOG = "1";

class BadConversion : public std::runtime_error {
public:
    explicit BadConversion(const std::string& s) : std::runtime_error(s) {}
    ~BadConversion() override = default;
};

inline std::string stringify(double x)
{
    std::ostringstream o;
    if (!(o << x))
        throw BadConversion("stringify(double)");
    return o.str();
}

bool comp_sig(const std::string& name);
bool comp_sym(const std::string& name);
void add_sig(const std::string& name, int pomport);
void add_sym(const std::string& name, const std::string& conds);
void add_state(const std::string& inname, const std::string& prechod, const std::string& outname);
void add_cond(const std::string& condoper, const std::string& signal, const std::string& operace,
              const std::string& konstanta);
std::string read_cond();
void clear_cond();

// True when a transition row names this state, as source or as target.
bool comp_state(const std::string& name);
// The width a signal was declared with; 0 for a name that is no signal.
int sig_width(const std::string& name);
// Every state has a number in order of first appearance. The checker's
// state type lists them sources first (by first row), then target-only states.
std::vector<int> state_type_order();
const std::string& state_name(int state);
// The number of a state, or -1 for a name that is no state.
int state_number(const std::string& name);
// The state numbers of the source and the target of the row added last.
int last_row_source();
int last_row_target();
// Empties the whole model, for a process that reads more than one description.
void clear_tables();

// Ends the run with an error report when the description has no row.
void check_has_rows();
void instrukce_debugOut(std::string fn_out);

#endif
