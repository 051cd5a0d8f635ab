// Condition analysis: which input symbols can hold, which rows can fire,
// which states the checker can reach. Exact: it never claims what is not
// so; where a state has too many rows for the budget, its rows are left
// undecided.
#ifndef GUARDGEN_ANALYSIS_H
#define GUARDGEN_ANALYSIS_H

#include "model.h"

#include <string>
#include <vector>

enum class RowFate : unsigned char {
    Fires,      // some input makes this row the first of its state to hold
    Shadowed,   // its symbol can hold, but an earlier row always holds first
    NeverHolds, // its symbol is never '1'
    Undecided   // beyond the budget
};

// A run of row numbers.
struct RowSpan {
    const int* first = nullptr;
    const int* last = nullptr;
    const int* begin() const { return first; }
    const int* end() const { return last; }
    size_t size() const { return static_cast<size_t>(last - first); }
};

// One signal's value in an input: a constant of the description, or (with
// above) the value just above that constant.
struct InputValue {
    int signal;
    const std::string* constant;
    bool above;
};

// An input: the signals that are not zero, in port order.
using Input = std::vector<InputValue>;

// The value's binary digits, as wide as its signal.
std::string input_bits(const InputValue& value);

// A state's inputs: for each of its rows (in priority order) whether some
// input makes it the first to hold, and then one such input; and one input
// where no row holds, if there is such an input.
struct StateInputs {
    std::vector<bool> fires;
    std::vector<Input> rowInputs;
    bool hasErrorInput = false;
    Input errorInput;
};

// Whether a row counts as able to fire: an undecided row does, so that
// nothing is called dead or unreachable by mistake.
inline bool may_fire(RowFate fate)
{
    return fate == RowFate::Fires || fate == RowFate::Undecided;
}

// One byte per row, so that a million rows cost a megabyte.
struct Analysis {
    std::vector<bool> symbolSatisfiable; // by symbol
    std::vector<RowFate> fate;           // by row
    std::vector<bool> reachable;         // by state, over rows that can fire
    size_t undecidedRows = 0;

    // The earlier rows of its state that cover a Shadowed row, when the
    // analysis was asked to explain; empty otherwise.
    RowSpan shadowedBy(int row) const;

    // A state's inputs, when the analysis was asked for them.
    void stateInputs(const ModelView& view, int state, StateInputs& out) const;

    // For a Shadowed row r: its list starts at shadowRows[shadowStart[r]]
    // and ends at the next -1.
    std::vector<int> shadowStart;
    Growing<int> shadowRows;

    // A value as kept: code is twice the rank of the signal's constant, plus
    // one for the value just above it. A state's inputs start at
    // inputStart[state] in inputs[pool[state]]: one list per row, then
    // the error input, each ended by signal -1 with code 1 when the input is
    // there, 0 when not. The lists stay in the pools the threads that found
    // them wrote, so that they are never copied into one.
    struct StoredValue {
        int signal, code;
    };
    Growing<StoredValue> inputs[3];
    // By state: the thread whose lists hold its inputs and shadow lists
    // (0 while reading, then 1 and 2 for the two parts).
    std::vector<unsigned char> pool;
    std::vector<int> inputStart;
    std::vector<std::vector<const std::string*>> constants; // by signal, ascending
};

// EXPLAIN: also find, for every shadowed row, the rows that shadow it
// (lint and the testbench's header say them; the picture does not).
// INPUTS: also keep an input for every row that fires, and for every state
// where some input fits no row (the testbench takes them).
Analysis analyse(const ModelView& view, bool explain = true, bool inputs = false);

// Called before reading: decides states on a second thread while the
// description is still being read, so that analyse (with the same EXPLAIN
// and INPUTS) finds most of its work done. The verdicts are the same as
// without it.
void analyse_while_reading(bool explain, bool inputs);

// Ends that work unused, for a reading that failed and a caller that goes
// on (a run that exits needs nothing: the work is ended at exit).
void stop_analysing_while_reading();

#endif
