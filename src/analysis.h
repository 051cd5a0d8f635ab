// Condition analysis: which input symbols can hold, which rows can fire,
// which states the checker can reach. Exact: it never claims what is not
// so; where a state has too many rows for the budget, its rows are left
// undecided.
#ifndef GUARDGEN_ANALYSIS_H
#define GUARDGEN_ANALYSIS_H

#include "model.h"

#include <memory>
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

// One byte per row, so that a million rows cost a megabyte.
struct Analysis {
    std::vector<bool> symbolSatisfiable; // by symbol
    std::vector<RowFate> fate;           // by row
    std::vector<bool> reachable;         // by state, over rows that can fire
    size_t undecidedRows = 0;

    // The earlier rows of its state that cover a Shadowed row, when the
    // analysis was asked to explain; empty otherwise.
    RowSpan shadowedBy(int row) const;

    // For a Shadowed row r: its list starts at shadowRows[shadowStart[r]]
    // and ends at the next -1.
    std::vector<int> shadowStart, shadowRows;
};

// EXPLAIN: also find, for every shadowed row, the rows that shadow it
// (lint and the testbench's header say them; the picture does not).
Analysis analyse(const ModelView& view, bool explain = true);

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

// Inputs for one state at a time, computed on demand so that a run keeps
// no input per row: for each of its rows (in priority order) whether some
// input makes it the first to hold, and then one such input; and one input
// where no row holds, if there is such an input.
struct StateInputs {
    std::vector<bool> fires;
    std::vector<Input> rowInputs;
    bool hasErrorInput = false;
    Input errorInput;
};

class InputFinder {
public:
    explicit InputFinder(const ModelView& view);
    ~InputFinder();
    InputFinder(const InputFinder&) = delete;
    InputFinder& operator=(const InputFinder&) = delete;
    // Valid until the next call.
    const StateInputs& inputs(int state);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

#endif
