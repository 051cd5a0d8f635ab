// KISS2 reader. It reads the whole file first and fills the model tables
// afterwards, through the same functions the description parser uses:
// a "*" row stands for every state of the file, a bit gets a port only when
// some row fixes it, and names have to be chosen knowing all of them.
#include "kiss2.h"

#include "lex.h"
#include "model.h"
#include "parser.h"
#include "table.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

const int anyState = -1; // PRESENT "*"
const int noCube = -1;   // a row of a machine without inputs
const long maxCount = 999999999;

struct Row {
    int cube;    // index into cubes, or noCube
    int present; // index into states, or anyState
    int next;    // index into states; rows without one are not kept
    int line;
};

struct Cube {
    std::string bits; // as written
    int line, column; // where it first stands
    std::string name; // its input symbol; empty when every bit is "-"
    bool kept;        // some row that is not left out has it
};

struct State {
    std::string raw;  // as written
    std::string name; // in the checker
};

// A number header (.i .o .p .s); value -1 while it is not given.
struct Count {
    long value = -1;
    int line = 0, column = 0;
};

struct Field {
    std::string_view text;
    int column; // 1 for the first character of the line
};

struct Note {
    int line, column;
    std::string text;
};

// What the file says, as read.
Count inputs, outputs, products, statesHeader;
std::vector<std::string> labels; // .ilb
std::vector<int> labelColumns;
int labelsLine = 0;
int resetState = -1; // .r
int resetLine = 0, resetColumn = 0;
bool anyHeader = false;
int rowLines = 0; // rows in the file, left out or not
int width = -1;   // input bits; fixed by the first row
int firstNamed = -1; // the start state without .r
int firstNamedLine = 0, firstNamedColumn = 0;
int lastLine = 1;

// In small blocks from the heap, which main asks to back with huge pages:
// one large vector would be mapped apart, 4 KiB at a time.
std::deque<Row> rows;
std::vector<Cube> cubes;
std::vector<State> states;

// Names and cubes to their numbers, by open addressing over copies of the
// keys packed together: a million rows look up two million names, and the
// nodes of a node-based map would cost cache misses that the reading does not.
struct Slot {
    const char* key; // its characters in Index::blocks
    uint32_t length;
    uint32_t hash;
    int index; // -1: empty
};

struct Index {
    std::vector<Slot> slots;            // a power of two long, at most half full
    std::vector<std::string_view> keys; // by number, into blocks
    std::vector<std::unique_ptr<char[]>> blocks; // the keys' characters, never moved
    size_t blockUsed = 0, blockSize = 0;

    void clear()
    {
        std::vector<Slot>().swap(slots);
        std::vector<std::string_view>().swap(keys);
        std::vector<std::unique_ptr<char[]>>().swap(blocks);
        blockUsed = blockSize = 0;
    }

    std::string_view copy(std::string_view key)
    {
        if (blockSize - blockUsed < key.size()) {
            blockSize = std::max<size_t>(1 << 16, key.size());
            blocks.emplace_back(new char[blockSize]);
            blockUsed = 0;
        }
        char* at = blocks.back().get() + blockUsed;
        std::memcpy(at, key.data(), key.size());
        blockUsed += key.size();
        return std::string_view(at, key.size());
    }

    // The number of key; a key not seen before gets the next number.
    int find(std::string_view key, bool& isNew)
    {
        if (2 * (keys.size() + 1) > slots.size())
            grow();
        uint32_t hash = static_cast<uint32_t>(std::hash<std::string_view>()(key));
        size_t mask = slots.size() - 1;
        size_t i = hash & mask;
        // The slot holds what a comparison needs, so that a lookup touches
        // the slot and the characters only.
        while (slots[i].index >= 0) {
            const Slot& slot = slots[i];
            if (slot.hash == hash && slot.length == key.size() &&
                std::memcmp(slot.key, key.data(), key.size()) == 0) {
                isNew = false;
                return slot.index;
            }
            i = (i + 1) & mask;
        }
        isNew = true;
        keys.push_back(copy(key));
        slots[i] = Slot{keys.back().data(), static_cast<uint32_t>(key.size()), hash,
                        static_cast<int>(keys.size()) - 1};
        return slots[i].index;
    }

    void grow()
    {
        std::vector<Slot> old(std::max<size_t>(1024, 2 * slots.size()), Slot{nullptr, 0, 0, -1});
        old.swap(slots);
        size_t mask = slots.size() - 1;
        for (const Slot& slot : old) {
            if (slot.index < 0)
                continue;
            size_t i = slot.hash & mask;
            while (slots[i].index >= 0)
                i = (i + 1) & mask;
            slots[i] = slot;
        }
    }
};

Index cubeIndex;
Index stateIndex;
int lastPresent = -1; // rows of one state usually come together
std::vector<Note> notes;

// Names given so far, and the next number to try after a taken base name.
std::unordered_set<std::string> taken;
std::unordered_map<std::string, int> nextSuffix;

[[noreturn]] void fail(int line, int column, const std::string& message)
{
    lexLine = line;
    lexColumn = column;
    synTotalError(message);
}

void note(int line, int column, const std::string& text)
{
    notes.push_back(Note{line, column, text});
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool isAlnum(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string str(std::string_view s)
{
    return std::string(s.data(), s.size());
}

void splitFields(std::string_view line, std::vector<Field>& fields)
{
    fields.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            i++;
        size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            i++;
        if (i > start)
            fields.push_back(Field{line.substr(start, i - start), static_cast<int>(start) + 1});
    }
}

// The column just after the last field, where a missing one would stand.
int endColumn(const std::vector<Field>& fields)
{
    const Field& last = fields.back();
    return last.column + static_cast<int>(last.text.size()) + 1;
}

void checkExtraFields(const std::vector<Field>& fields, size_t allowed, int line)
{
    if (fields.size() > allowed)
        fail(line, fields[allowed].column, "Syntakticka chyba, nadbytecne pole " + str(fields[allowed].text));
}

// ---------------------------------------------------------------------------
// Headers

void readCount(const std::vector<Field>& fields, int line, Count& count)
{
    const std::string directive = str(fields[0].text);
    if (count.value >= 0)
        fail(line, fields[0].column, "Chyba, hlavicka " + directive + " je zadana dvakrat");
    if (fields.size() < 2)
        fail(line, endColumn(fields), "Chyba, za " + directive + " se ocekava cislo");
    std::string_view digits = fields[1].text;
    long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9' || value > maxCount / 10)
            fail(line, fields[1].column, "Chyba, za " + directive + " se ocekava cislo");
        value = value * 10 + (c - '0');
    }
    if (value > maxCount)
        fail(line, fields[1].column, "Chyba, za " + directive + " se ocekava cislo");
    checkExtraFields(fields, 2, line);
    count = Count{value, line, fields[0].column};
}

int stateOf(std::string_view raw);

// Returns false at the end of the machine (.e, .end, .end_kiss).
bool readHeader(const std::vector<Field>& fields, int line)
{
    std::string_view d = fields[0].text;
    if (d == ".e" || d == ".end" || d == ".end_kiss")
        return false;
    if (width >= 0 && d != ".start_kiss")
        fail(line, fields[0].column, "Chyba, hlavicka " + str(d) + " musi stat pred prvnim radkem");
    anyHeader = true;
    if (d == ".i") {
        readCount(fields, line, inputs);
    } else if (d == ".o") {
        readCount(fields, line, outputs);
    } else if (d == ".p") {
        readCount(fields, line, products);
    } else if (d == ".s") {
        readCount(fields, line, statesHeader);
    } else if (d == ".r") {
        if (resetState >= 0)
            fail(line, fields[0].column, "Chyba, hlavicka .r je zadana dvakrat");
        if (fields.size() < 2)
            fail(line, endColumn(fields), "Chyba, za .r se ocekava jmeno stavu");
        checkExtraFields(fields, 2, line);
        resetState = stateOf(fields[1].text);
        resetLine = line;
        resetColumn = fields[1].column;
    } else if (d == ".ilb") {
        if (labelsLine)
            fail(line, fields[0].column, "Chyba, hlavicka .ilb je zadana dvakrat");
        for (size_t f = 1; f < fields.size(); f++) {
            labels.push_back(str(fields[f].text));
            labelColumns.push_back(fields[f].column);
        }
        labelsLine = line;
    } else if (d == ".ob" || d == ".start_kiss") {
        // Output names mean nothing to a checker of inputs, and
        // .start_kiss only opens a machine inside another file.
    } else {
        note(line, fields[0].column, "Neznama hlavicka " + str(d) + " je ignorovana");
    }
    return true;
}

// ---------------------------------------------------------------------------
// Rows

// The number of a state name, given one at its first appearance.
int stateOf(std::string_view raw)
{
    bool isNew;
    int index = stateIndex.find(raw, isNew);
    if (isNew)
        states.push_back(State{str(raw), ""});
    return index;
}

// The first row fixes the width: .i, else the number of .ilb names, else
// the length of the first cube.
void fixWidth(const std::vector<Field>& fields)
{
    if (inputs.value >= 0)
        width = static_cast<int>(inputs.value);
    else if (labelsLine)
        width = static_cast<int>(labels.size());
    else
        width = static_cast<int>(fields[0].text.size());
    if (labelsLine && static_cast<int>(labels.size()) != width)
        fail(labelsLine, 1,
             "Chyba, .ilb ma " + std::to_string(labels.size()) + " jmen, ocekava se " +
                 std::to_string(width));
}

int cubeOf(const Field& field, int line)
{
    bool isNew;
    int index = cubeIndex.find(field.text, isNew);
    if (!isNew)
        return index;
    if (static_cast<int>(field.text.size()) != width)
        fail(line, field.column,
             "Chyba, vstupni krychle ma " + std::to_string(field.text.size()) + " znaku misto " +
                 std::to_string(width));
    for (size_t k = 0; k < field.text.size(); k++) {
        char c = field.text[k];
        if (c != '0' && c != '1' && c != '-')
            fail(line, field.column + static_cast<int>(k),
                 std::string("Chyba, znak ") + c + " ve vstupni krychli neni 0, 1 ani -");
    }
    cubes.push_back(Cube{str(field.text), line, field.column, "", false});
    return index;
}

bool isAnyState(std::string_view s)
{
    return s == "*";
}

bool isUnspecified(std::string_view s)
{
    return s == "*" || s == "-";
}

void nameFirst(int state, int line, int column)
{
    firstNamed = state;
    firstNamedLine = line;
    firstNamedColumn = column;
}

void readRow(const std::vector<Field>& fields, int line)
{
    if (width < 0)
        fixWidth(fields);
    rowLines++;
    size_t f = width > 0 ? 1 : 0;
    int cube = width > 0 ? cubeOf(fields[0], line) : noCube;
    if (fields.size() < f + 1)
        fail(line, endColumn(fields), "Syntakticka chyba, chybi soucasny stav");
    if (fields.size() < f + 2)
        fail(line, endColumn(fields), "Syntakticka chyba, chybi nasledujici stav");
    if (outputs.value > 0 && fields.size() < f + 3)
        fail(line, endColumn(fields), "Syntakticka chyba, chybi vystupy");
    checkExtraFields(fields, f + (outputs.value == 0 ? 2 : 3), line);

    const Field& present = fields[f];
    const Field& next = fields[f + 1];
    int source = anyState;
    if (lastPresent >= 0 && stateIndex.keys[lastPresent] == present.text)
        source = lastPresent;
    else if (!isAnyState(present.text))
        source = lastPresent = stateOf(present.text);
    if (firstNamed < 0 && source != anyState)
        nameFirst(source, line, present.column);
    if (isUnspecified(next.text)) {
        note(line, next.column, "Nasledujici stav neni urcen, radek je vynechan");
        return;
    }
    int target = stateOf(next.text);
    if (firstNamed < 0)
        nameFirst(target, line, next.column);
    if (cube != noCube && !cubes[cube].kept) {
        // Where the cube first stands in a row that is kept.
        cubes[cube].kept = true;
        cubes[cube].line = line;
        cubes[cube].column = fields[0].column;
    }
    rows.push_back(Row{cube, source, target, line});
}

// ---------------------------------------------------------------------------
// Reading the file

// One line without its line break; false at the end of the machine.
bool readLine(std::string_view ln, int line, std::vector<Field>& fields)
{
    size_t comment = ln.find('#');
    if (comment != std::string_view::npos)
        ln = ln.substr(0, comment);
    splitFields(ln, fields);
    if (fields.empty())
        return true;
    if (fields[0].text[0] == '.')
        return readHeader(fields, line);
    readRow(fields, line);
    return true;
}

// Reads the file a block at a time, as the description lexer does: a whole
// large file in memory would cost a fresh page per 4 KiB before any work.
// A line that does not fit doubles the block.
void readFile(FILE* f)
{
    std::vector<char> buf(1 << 16);
    std::vector<Field> fields;
    size_t have = 0;
    int line = 0;
    bool atEnd = false;
    for (;;) {
        size_t n = std::fread(buf.data() + have, 1, buf.size() - have, f);
        if (n == 0 && std::ferror(f))
            lexTotalError("Chyba pri cteni vstupniho souboru");
        atEnd = n == 0;
        have += n;
        size_t start = 0;
        for (;;) {
            const char* end = static_cast<const char*>(std::memchr(buf.data() + start, '\n', have - start));
            if (!end && !(atEnd && start < have))
                break;
            size_t stop = end ? end - buf.data() : have;
            if (!readLine(std::string_view(buf.data() + start, stop - start), ++line, fields)) {
                atEnd = true;
                start = have;
                break;
            }
            start = stop + 1;
        }
        if (atEnd)
            break;
        std::memmove(buf.data(), buf.data() + start, have - start);
        have -= start;
        if (have == buf.size())
            buf.resize(2 * buf.size());
    }
    lastLine = std::max(line, 1);
    if (!anyHeader && rowLines == 0)
        fail(lastLine, 1, "Spatny format: Vstupni soubor je prazdny");
}

// ---------------------------------------------------------------------------
// Names

bool identifierSyntax(const std::string& name)
{
    if (name.empty() || !((name[0] >= 'A' && name[0] <= 'Z')))
        return false;
    for (char c : name)
        if (!isAlnum(c) && c != '_')
            return false;
    return true;
}

std::string upperCase(std::string_view raw)
{
    std::string s(raw.size(), ' ');
    std::transform(raw.begin(), raw.end(), s.begin(), upper);
    return s;
}

// Takes the name as written (in upper case) when it is a legal, free VHDL
// identifier; returns false otherwise.
bool keep(std::string_view raw, std::string& name)
{
    std::string candidate = upperCase(raw);
    if (!identifierSyntax(candidate) || !vhdl_name_ok(candidate) || taken.count(candidate))
        return false;
    name = candidate;
    taken.insert(name);
    return true;
}

// A name made from base that nothing has yet: base itself, else base_2,
// base_3, ...
std::string fresh(const std::string& base)
{
    if (!taken.count(base) && vhdl_name_ok(base)) {
        taken.insert(base);
        return base;
    }
    int& n = nextSuffix.emplace(base, 2).first->second;
    for (;;) {
        std::string candidate = base + "_" + std::to_string(n++);
        if (!taken.count(candidate)) {
            taken.insert(candidate);
            return candidate;
        }
    }
}

// "S" and the letters and digits of a state name that cannot be used as it
// is, each run of other characters as one "_": "000" gives S_000.
std::string escapedState(const std::string& raw)
{
    std::string s = "S";
    bool gap = true;
    for (char c : raw) {
        if (!isAlnum(c)) {
            gap = true;
            continue;
        }
        if (gap)
            s += '_';
        gap = false;
        s += upper(c);
    }
    return s.size() > 1000 ? "S" : s;
}

// The input symbol of a cube reads like the cube: --01 gives IN_XX01.
std::string cubeSymbol(const Cube& cube, size_t index)
{
    if (cube.bits.size() > 1000)
        return "IN_" + std::to_string(index);
    std::string s = "IN_";
    for (char c : cube.bits)
        s += c == '-' ? 'X' : c;
    return s;
}

struct Port {
    std::string name; // empty: no row fixes the bit, so it gets no port
    int line, column; // the first cube that fixes it
};

// Names every signal, state and symbol. Names from the file come first, so
// that a generated name never takes one away.
std::vector<Port> chooseNames()
{
    std::vector<Port> ports(width, Port{"", 0, 0});
    std::vector<bool> used(width, false);
    for (const Cube& cube : cubes)
        for (int k = 0; k < width && cube.kept; k++)
            if (cube.bits[k] != '-' && !used[k]) {
                used[k] = true;
                ports[k].line = cube.line;
                ports[k].column = cube.column + k;
            }

    std::vector<bool> named(width, false);
    for (int k = 0; k < width && labelsLine; k++)
        if (used[k])
            named[k] = keep(labels[k], ports[k].name);
    std::vector<bool> stateKept(states.size(), false);
    for (size_t s = 0; s < states.size(); s++)
        stateKept[s] = keep(states[s].raw, states[s].name);
    for (int k = 0; k < width; k++) {
        if (!used[k]) {
            if (labelsLine)
                note(labelsLine, labelColumns[k],
                     "Zadny radek necte vstup " + labels[k] + ", checker pro nej nema port");
            else
                note(inputs.value >= 0 ? inputs.line : cubes[0].line, 1,
                     "Zadny radek necte vstup I" + std::to_string(k) + ", checker pro nej nema port");
        } else if (!named[k]) {
            ports[k].name = fresh("I" + std::to_string(k));
            if (labelsLine)
                note(labelsLine, labelColumns[k],
                     "Jmeno " + labels[k] + " z .ilb nelze pouzit ve VHDL, vstup se jmenuje " +
                         ports[k].name);
        }
    }
    for (size_t s = 0; s < states.size(); s++)
        if (!stateKept[s])
            states[s].name = fresh(escapedState(states[s].raw));
    for (size_t c = 0; c < cubes.size(); c++)
        if (cubes[c].kept && cubes[c].bits.find_first_not_of('-') != std::string::npos)
            cubes[c].name = fresh(cubeSymbol(cubes[c], c));
    return ports;
}

// ---------------------------------------------------------------------------
// Filling the tables

void addSignals(const std::vector<Port>& ports)
{
    for (const Port& port : ports) {
        if (port.name.empty())
            continue;
        add_sig(port.name, 0);
        model_signal(port.line, port.column);
    }
}

// Each cube with a fixed bit becomes the AND of one comparison per fixed bit.
void addSymbols(const std::vector<Port>& ports)
{
    for (const Cube& cube : cubes) {
        if (cube.name.empty())
            continue; // all "-", or only in rows left out
        const char* connective = "";
        for (int k = 0; k < width; k++) {
            char bit = cube.bits[k];
            if (bit == '-')
                continue;
            add_cond(connective, ports[k].name, "=", bit == '1' ? "'1'" : "'0'");
            model_comparison(false, ports[k].name, CmpOp::Eq, bit == '1' ? "1" : "0");
            connective = "and";
        }
        add_sym(cube.name, read_cond());
        model_symbol(cube.name, cube.line, cube.column);
        clear_cond();
    }
}

const std::string noSymbol;

void addRow(int source, const Row& row)
{
    const std::string& symbol = row.cube == noCube ? noSymbol : cubes[row.cube].name;
    add_state(states[source].name, symbol, states[row.next].name);
    model_row(row.line, 1);
}

// The checker starts in the source of its first row, so the first row of
// the start state goes first. Rows of different states never compete, so
// this changes nothing else; a "*" row becomes one row per state.
void addRows(int start)
{
    size_t first = 0;
    while (first < rows.size() && rows[first].present != start && rows[first].present != anyState)
        first++;
    if (first == rows.size())
        fail(resetState >= 0 ? resetLine : firstNamedLine, resetState >= 0 ? resetColumn : firstNamedColumn,
             "Chyba, pocatecni stav " + states[start].raw + " nema zadny prechod");
    addRow(start, rows[first]);
    for (size_t r = 0; r < rows.size(); r++) {
        const Row& row = rows[r];
        if (row.present != anyState) {
            if (r != first)
                addRow(row.present, row);
            continue;
        }
        for (size_t s = 0; s < states.size(); s++)
            if (r != first || static_cast<int>(s) != start)
                addRow(static_cast<int>(s), row);
    }
}

void checkCounts()
{
    if (products.value >= 0 && products.value != rowLines)
        note(products.line, products.column,
             "Hlavicka .p udava " + std::to_string(products.value) + " radku, soubor jich ma " +
                 std::to_string(rowLines));
    if (statesHeader.value >= 0 && statesHeader.value != static_cast<long>(states.size()))
        note(statesHeader.line, statesHeader.column,
             "Hlavicka .s udava " + std::to_string(statesHeader.value) + " stavu, soubor jich ma " +
                 std::to_string(states.size()));
}

void reset()
{
    inputs = outputs = products = statesHeader = Count();
    labels.clear();
    labelColumns.clear();
    labelsLine = 0;
    resetState = -1;
    anyHeader = false;
    rowLines = 0;
    width = -1;
    firstNamed = -1;
    rows.clear();
    cubes.clear();
    states.clear();
    cubeIndex.clear();
    stateIndex.clear();
    lastPresent = -1;
    notes.clear();
    taken.clear();
    nextSuffix.clear();
}

} // namespace

bool read_kiss2(const std::string& path)
{
    if (!lexInit(path))
        return false;
    reset();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        lexTotalError("Chyba pri cteni vstupniho souboru");
    readFile(f);
    std::fclose(f);
    cubeIndex.clear();
    stateIndex.clear();
    width = std::max(width, 0);
    checkCounts();
    std::vector<Port> ports = chooseNames();
    // Their memory goes back to the heap for the model tables.
    std::unordered_set<std::string>().swap(taken);
    std::unordered_map<std::string, int>().swap(nextSuffix);
    std::stable_sort(notes.begin(), notes.end(),
                     [](const Note& a, const Note& b) { return a.line < b.line; });
    for (const Note& n : notes)
        model_note(n.line, n.column, n.text);

    addSignals(ports);
    addSymbols(ports);
    if (!rows.empty())
        addRows(resetState >= 0 ? resetState : firstNamed);
    // Errors found later (no row at all) are reported where reading ended.
    lexLine = lastLine;
    lexColumn = 1;
    std::fputs("Vstupni soubor zpracovan...", stdout);
    lexFree(path);
    return true;
}
