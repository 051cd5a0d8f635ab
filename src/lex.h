// Lexer of the description language and the two fatal error reports.
#ifndef GUARDGEN_LEX_H
#define GUARDGEN_LEX_H

#include <string>

// Token kinds; the values index symbolCaptions.
enum TSymbol {
    eofSym,         // "$" or the end of the file
    intkonstSym,    // a run of decimal digits
    negaceSym,      // "!"
    levazavoraSym,  // "("
    pravazavoraSym, // ")"
    strednikSym,    // ";"
    carkaSym,       // ","
    dvojteckaSym,   // ":"
    idSym,          // an identifier other than AND and OR
    vetsiSym,       // ">"
    mensiSym,       // "<"
    vetsirovnoSym,  // ">="
    mensirovnoSym,  // "<="
    rovnostSym,     // "=="
    ruznostSym,     // "<>"
    priradSym,      // "="
    stavySym,       // "@"
    podminkySym,    // "#"
    andSym,         // AND in any letter case
    orSym           // OR in any letter case
};

// How syntax errors name an expected token.
extern const std::string symbolCaptions[20];

// Set by each call of lex for the token it delivered, cleared by the next.
extern std::string lexStr; // identifier text, upper case
extern std::string lexInt; // digits of a constant as written
extern int vect;           // number of those digits
extern int vector;         // 1 when there is more than one digit

// Position counters printed by both error reports.
extern int lexLine;
extern int lexColumn;

bool lexInit(std::string inputFileName);
TSymbol lex();
void lexFree(std::string inputFileName);

void radkovani(char c);
void pozice(char c);

[[noreturn]] void lexTotalError(std::string msg);
[[noreturn]] void synTotalError(std::string msg);

#endif
