// Parser: one routine per grammar rule, one token of look-ahead in sym.
// Every repetition is a loop, so long descriptions need no deep stack.
#include "parser.h"

#include "lex.h"
#include "model.h"
#include "table.h"

#include <cstdio>
#include <unordered_set>

static TSymbol sym = eofSym;
static std::string instate;   // source state of the row being read
static std::string prechod;   // symbol being defined, or the label of the row
static std::string signal;    // signal of the comparison being read
static std::string pomsignal; // the same name, for its implicit declaration
static std::string operace;   // VHDL operator of that comparison
static std::string intkonst;  // VHDL literal of that comparison
static std::string condoper;  // connective in front of it: "", "and" or "or"
static CmpOp cmpOp;           // the same operator, for the model view
static int signalLine, signalColumn; // where the signal of that comparison stands

// A signal's width is the number of digits of a constant; the top bit index
// of a wider signal has to stay a plain VHDL integer.
static const int maxDigits = 1000000;
static const size_t maxNameLength = 1023;

// Names that VHDL reserves, and the names the checker declares itself.
static const std::unordered_set<std::string> reservedNames = {
    "ABS", "ACCESS", "AFTER", "ALIAS", "ALL", "AND", "ARCHITECTURE", "ARRAY", "ASSERT", "ASSUME",
    "ASSUME_GUARANTEE", "ATTRIBUTE", "BEGIN", "BLOCK", "BODY", "BUFFER", "BUS", "CASE", "COMPONENT",
    "CONFIGURATION", "CONSTANT", "CONTEXT", "COVER", "DEFAULT", "DISCONNECT", "DOWNTO", "ELSE",
    "ELSIF", "END", "ENTITY", "EXIT", "FAIRNESS", "FILE", "FOR", "FORCE", "FUNCTION", "GENERATE",
    "GENERIC", "GROUP", "GUARDED", "IF", "IMPURE", "IN", "INERTIAL", "INOUT", "IS", "LABEL",
    "LIBRARY", "LINKAGE", "LITERAL", "LOOP", "MAP", "MOD", "NAND", "NEW", "NEXT", "NOR", "NOT",
    "NULL", "OF", "ON", "OPEN", "OR", "OTHERS", "OUT", "PACKAGE", "PARAMETER", "PORT", "POSTPONED",
    "PROCEDURE", "PROCESS", "PROPERTY", "PROTECTED", "PURE", "RANGE", "RECORD", "REGISTER",
    "REJECT", "RELEASE", "REM", "REPORT", "RESTRICT", "RESTRICT_GUARANTEE", "RETURN", "ROL", "ROR",
    "SELECT", "SEQUENCE", "SEVERITY", "SHARED", "SIGNAL", "SLA", "SLL", "SRA", "SRL", "STRONG",
    "SUBTYPE", "THEN", "TO", "TRANSPORT", "TYPE", "UNAFFECTED", "UNITS", "UNTIL", "USE",
    "VARIABLE", "VMODE", "VPROP", "VUNIT", "WAIT", "WHEN", "WHILE", "WITH", "XNOR", "XOR",
    // declared by the checker or by the packages it uses
    "GUARD", "FL_GUARD", "CLK", "RESET", "ERROR", "T_STATE", "PRESENT_STATE", "NEXT_STATE", "SERR",
    "SYNC_LOGIC", "NEXT_STATE_LOGIC", "OUTPUT_LOGIC", "IEEE", "STD", "WORK", "STD_LOGIC",
    "STD_LOGIC_VECTOR", "STD_ULOGIC", "STD_ULOGIC_VECTOR", "TRUE", "FALSE", "MINIMUM", "MAXIMUM",
    "TO_STRING", "INHERIT"};

static void next()
{
    sym = lex();
}

static void expect(TSymbol s)
{
    if (sym != s)
        synTotalError("Syntakticka chyba, ocekavan symbol " + symbolCaptions[s]);
    next();
}

// VHDL tools limit the length of a name (GHDL to 1023 characters).
bool vhdl_name_ok(const std::string& name)
{
    return !name.empty() && name.size() <= maxNameLength && name.front() != '_' &&
           name.back() != '_' && name.find("__") == std::string::npos && !reservedNames.count(name);
}

// Refuses a name that would not be a legal, free VHDL identifier.
static void checkVhdlName(const std::string& name)
{
    if (!vhdl_name_ok(name))
        synTotalError("Chyba, jmeno " + name + " nelze pouzit ve VHDL");
}

// Refuses a name that already stands for another kind of thing.
static void checkUnused(bool usedElsewhere, const std::string& name)
{
    if (usedElsewhere)
        synTotalError("Chyba, jmeno " + name + " uz je pouzito");
}

// A state name is checked at its first appearance only.
static void checkStateName()
{
    if (comp_state(lexStr))
        return;
    checkVhdlName(lexStr);
    checkUnused(comp_sig(lexStr) || comp_sym(lexStr), lexStr);
}

// akce = (">" | "<" | ">=" | "<=" | "==" | "<>") intkonst
static void g_akce()
{
    operace.clear();
    switch (sym) {
    case vetsiSym: operace = ">"; cmpOp = CmpOp::Gt; break;
    case mensiSym: operace = "<"; cmpOp = CmpOp::Lt; break;
    case vetsirovnoSym: operace = ">="; cmpOp = CmpOp::Ge; break;
    case mensirovnoSym: operace = "<="; cmpOp = CmpOp::Le; break;
    case rovnostSym: operace = "="; cmpOp = CmpOp::Eq; break;
    case ruznostSym: operace = "/="; cmpOp = CmpOp::Ne; break;
    default: synTotalError("Syntakticka chyba, chyby operator porovnani");
    }
    next();
    if (sym != intkonstSym)
        synTotalError("Syntakticka chyba, chyby celociselna konstanta");

    // The constant becomes a VHDL bit or bit-string literal, so it must be
    // binary and as wide as the signal.
    if (vect > maxDigits)
        synTotalError("Chyba, konstanta ma vice nez 1000000 cislic");
    if (lexInt.find_first_not_of("01") != std::string::npos)
        synTotalError("Chyba, konstanta " + lexInt + " neni binarni");
    char quote = vector ? '"' : '\'';
    intkonst = quote + lexInt + quote;
    if (!comp_sig(pomsignal)) {
        add_sig(pomsignal, vect - 1);
        model_signal(signalLine, signalColumn);
    } else if (sig_width(pomsignal) != vect) {
        synTotalError("Chyba, signal " + pomsignal + " nelze porovnat s konstantou " + lexInt);
    }
    model_comparison(condoper == "or", pomsignal, cmpOp, lexInt);
}

// vyraz = id akce
static void g_vyraz()
{
    signal.clear();
    if (sym != idSym)
        synTotalError("Syntakticka chyba, ocekavan je identifikator signalu");
    if (!comp_sig(lexStr)) {
        checkVhdlName(lexStr);
        checkUnused(comp_sym(lexStr) || lexStr == prechod, lexStr);
    }
    pomsignal = lexStr;
    signal = lexStr;
    signalLine = lexLine;
    signalColumn = lexColumn;
    next();
    g_akce();
}

// vyrazynext = { ("AND" | "OR") vyraz }
static void g_vyrazynext()
{
    for (;;) {
        condoper.clear();
        if (sym != andSym && sym != orSym)
            break;
        condoper = sym == andSym ? "and" : "or";
        next();
        g_vyraz();
        next();
        add_cond(condoper, signal, operace, intkonst);
    }
    if (sym != strednikSym)
        synTotalError("Syntakticka chyba, ocekava se klicove slovo AND nebo OR");
}

// conds = { id "=" vyraz vyrazynext ";" }
static void g_conds()
{
    for (;;) {
        prechod.clear();
        condoper.clear();
        if (sym != idSym)
            break;
        if (comp_sym(lexStr))
            synTotalError("Chyba vstupu, prechod " + lexStr + " uz existuje!");
        checkVhdlName(lexStr);
        checkUnused(comp_sig(lexStr), lexStr);
        prechod = lexStr;
        int line = lexLine, column = lexColumn;
        next();
        expect(priradSym);
        g_vyraz();
        add_cond(condoper, signal, operace, intkonst);
        next();
        g_vyrazynext();
        expect(strednikSym);
        add_sym(prechod, read_cond());
        model_symbol(prechod, line, column);
        clear_cond();
    }
    if (sym != podminkySym)
        synTotalError("Syntakticka chyba, ocekava se identifikator vstupniho symbolu");
}

// prechod = [ "," id ]
static void g_prechod()
{
    prechod.clear();
    if (sym == carkaSym) {
        next();
        if (sym != idSym)
            synTotalError("Syntakticka chyba, ocekava se identifikator PRECHODU");
        if (!comp_sym(lexStr))
            synTotalError("Chyba, prechod " + lexStr + " nebyl definovan!");
        prechod = lexStr;
        next();
    }
    if (sym != pravazavoraSym)
        synTotalError("Syntakticka chyba, ocekava se symbol ,");
}

// state = id prechod ")" ":" id ";"
static void g_state()
{
    instate.clear();
    if (sym != idSym)
        synTotalError("Syntakticka chyba, ocekava se identifikator STAVU");
    checkStateName();
    instate = lexStr;
    next();
    g_prechod();
    expect(pravazavoraSym);
    expect(dvojteckaSym);
    if (sym != idSym)
        synTotalError("Syntakticka chyba, ocekava se identifikator NOVEHO STAVU");
    checkStateName();
    add_state(instate, prechod, lexStr);
    next();
    expect(strednikSym);
}

// states = { "(" state }
static void g_states()
{
    while (sym == levazavoraSym) {
        int line = lexLine, column = lexColumn;
        next();
        g_state();
        model_row(line, column);
    }
    if (sym != eofSym)
        synTotalError("Syntakticka chyba, ocekava se symbol (");
}

// program = "@" conds "#" states
static void g_program()
{
    if (sym == stavySym) {
        next();
        g_conds();
        expect(podminkySym);
        g_states();
        next();
        // Anything after a "$" that ends the rows is ignored, and then the
        // description is not reported as read to its end.
        if (sym == eofSym)
            std::fputs("Vstupni soubor zpracovan...", stdout);
    } else if (sym == eofSym) {
        synTotalError("Spatny format: Vstupni soubor je prazdny");
    } else {
        synTotalError("Syntakticka chyba, program musi zacinat sybmolem @");
    }
}

void parse()
{
    next();
    g_program();
}
