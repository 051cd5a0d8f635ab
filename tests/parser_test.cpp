// Parser: real description text through the lexer into the model tables,
// every message with the position it is reported at.
#include "lex.h"
#include "parser.h"
#include "support.h"
#include "table.h"

#include <cctype>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

const std::string tablesMark = "\n--tables--\n";

// Parses text in a child process. Its standard output holds the parser's
// messages, then the tables, one row a line, after tablesMark.
Outcome parseText(const std::string& text)
{
    TempDir dir;
    std::string path = dir.write("in.txt", text);
    return runChild([&] {
        if (!lexInit(path))
            return;
        parse();
        std::fputs(tablesMark.c_str(), stdout);
        for (const TSignal& s : SignalList)
            std::printf("SIG %s|%s|%s\n", s.name.c_str(), s.port.c_str(), s.typ.c_str());
        for (const TSym& s : SymList)
            std::printf("SYM %s|%s\n", s.name.c_str(), s.conds.c_str());
        for (const TState& s : StateList)
            std::printf("ROW %s|%s|%s\n", s.inname.c_str(), s.prechod.c_str(), s.outname.c_str());
        std::printf("CONDS %zu\n", CondList.size());
    });
}

std::string tablesOf(const Outcome& o)
{
    size_t mark = o.out.find(tablesMark);
    return mark == std::string::npos ? "" : o.out.substr(mark + tablesMark.size());
}

// What the parser printed before the tables, without the opening line.
std::string messagesOf(const Outcome& o)
{
    size_t start = o.out.find('\n') + 1;
    return o.out.substr(start, o.out.find(tablesMark) - start);
}

struct ErrorCase {
    const char* text;
    const char* report;
};

class ParseErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ParseErrors, AreReportedAtTheLookAhead)
{
    Outcome o = parseText(GetParam().text);
    EXPECT_EQ(o.status, 1) << GetParam().text;
    EXPECT_EQ(o.err, std::string(GetParam().report) + "\n") << GetParam().text;
    // Nothing follows the opening line: the completion message belongs to a
    // description that was read whole.
    EXPECT_EQ(messagesOf(o), "") << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Program, ParseErrors,
    ::testing::Values(
        ErrorCase{"", "SyntError[line=1, column=1]: Spatny format: Vstupni soubor je prazdny"},
        ErrorCase{"  // only a comment\n",
                  "SyntError[line=2, column=0]: Spatny format: Vstupni soubor je prazdny"},
        ErrorCase{"$ @ #", "SyntError[line=1, column=1]: Spatny format: Vstupni soubor je prazdny"},
        ErrorCase{"# @", "SyntError[line=1, column=1]: Syntakticka chyba, program musi zacinat "
                         "sybmolem @"},
        ErrorCase{"(A) : B;", "SyntError[line=1, column=1]: Syntakticka chyba, program musi "
                              "zacinat sybmolem @"},
        ErrorCase{"FSM", "SyntError[line=1, column=1]: Syntakticka chyba, program musi zacinat "
                         "sybmolem @"}));

INSTANTIATE_TEST_SUITE_P(
    Conditions, ParseErrors,
    ::testing::Values(
        ErrorCase{"@", "SyntError[line=1, column=2]: Syntakticka chyba, ocekava se identifikator "
                       "vstupniho symbolu"},
        ErrorCase{"@ A = X == 1;", "SyntError[line=1, column=8]: Syntakticka chyba, ocekava se "
                                   "identifikator vstupniho symbolu"},
        ErrorCase{"@ AND = X == 1; #", "SyntError[line=1, column=2]: Syntakticka chyba, ocekava "
                                       "se identifikator vstupniho symbolu"},
        ErrorCase{"@ A X == 1; #",
                  "SyntError[line=1, column=3]: Syntakticka chyba, ocekavan symbol ="},
        ErrorCase{"@ A = == 1; #", "SyntError[line=1, column=4]: Syntakticka chyba, ocekavan je "
                                   "identifikator signalu"},
        ErrorCase{"@ A = X = 1; #",
                  "SyntError[line=1, column=5]: Syntakticka chyba, chyby operator porovnani"},
        ErrorCase{"@ A = X == B; #",
                  "SyntError[line=1, column=6]: Syntakticka chyba, chyby celociselna konstanta"},
        ErrorCase{"@ A = X == 1 Y == 0; #", "SyntError[line=1, column=7]: Syntakticka chyba, "
                                            "ocekava se klicove slovo AND nebo OR"},
        ErrorCase{"@ A = X == 1 #", "SyntError[line=1, column=7]: Syntakticka chyba, ocekava se "
                                    "klicove slovo AND nebo OR"},
        ErrorCase{"@ A = X == 1 AND; #", "SyntError[line=1, column=8]: Syntakticka chyba, "
                                         "ocekavan je identifikator signalu"},
        ErrorCase{"@ A = X == 1; A = Y == 1; #",
                  "SyntError[line=1, column=8]: Chyba vstupu, prechod A uz existuje!"},
        ErrorCase{"@ A = X == 1;\n a = Y == 1; #",
                  "SyntError[line=2, column=0]: Chyba vstupu, prechod A uz existuje!"}));

INSTANTIATE_TEST_SUITE_P(
    Transitions, ParseErrors,
    ::testing::Values(
        ErrorCase{"@ # (A, X) : B;",
                  "SyntError[line=1, column=6]: Chyba, prechod X nebyl definovan!"},
        ErrorCase{"@ X = S == 1; # (A, y) : B;",
                  "SyntError[line=1, column=12]: Chyba, prechod Y nebyl definovan!"},
        ErrorCase{"@ X = S == 1; # (A B) : C;",
                  "SyntError[line=1, column=11]: Syntakticka chyba, ocekava se symbol ,"},
        ErrorCase{"@ X = S == 1; # (A, X : C;",
                  "SyntError[line=1, column=13]: Syntakticka chyba, ocekava se symbol ,"},
        ErrorCase{"@ X = S == 1; # (A, X) C;",
                  "SyntError[line=1, column=14]: Syntakticka chyba, ocekavan symbol :"},
        ErrorCase{"@ X = S == 1; # (A, X) : C",
                  "SyntError[line=1, column=16]: Syntakticka chyba, ocekavan symbol ;"},
        ErrorCase{"@ X = S == 1; # (, X) : C;",
                  "SyntError[line=1, column=10]: Syntakticka chyba, ocekava se identifikator STAVU"},
        ErrorCase{"@ # (!A) : C;",
                  "SyntError[line=1, column=4]: Syntakticka chyba, ocekava se identifikator STAVU"},
        ErrorCase{"@ X = S == 1; # (A, ) : C;", "SyntError[line=1, column=12]: Syntakticka chyba, "
                                                "ocekava se identifikator PRECHODU"},
        ErrorCase{"@ X = S == 1; # (A, X) : ;", "SyntError[line=1, column=15]: Syntakticka chyba, "
                                                "ocekava se identifikator NOVEHO STAVU"},
        ErrorCase{"@ X = S == 1; # A, X) : C;",
                  "SyntError[line=1, column=9]: Syntakticka chyba, ocekava se symbol ("},
        ErrorCase{"@ # (A) : B; junk",
                  "SyntError[line=1, column=9]: Syntakticka chyba, ocekava se symbol ("},
        // The seven-line example with the colon of line 5 missing.
        ErrorCase{"@\nSTART = S == 1;\nDATA = D >= 0101 AND S <> 0;\n#\n(IDLE, START) LOAD;\n"
                  "(LOAD, DATA) : IDLE;\n(LOAD) : LOAD;\n",
                  "SyntError[line=5, column=5]: Syntakticka chyba, ocekavan symbol :"}));

// Constants must make VHDL literals of the signal's own width.
INSTANTIATE_TEST_SUITE_P(
    Constants, ParseErrors,
    ::testing::Values(
        ErrorCase{"@ A = X == 2; #", "SyntError[line=1, column=6]: Chyba, konstanta 2 neni binarni"},
        ErrorCase{"@ A = X == 0121; #",
                  "SyntError[line=1, column=6]: Chyba, konstanta 0121 neni binarni"},
        ErrorCase{"@ A = X == 1; B = X == 01; #",
                  "SyntError[line=1, column=12]: Chyba, signal X nelze porovnat s konstantou 01"},
        ErrorCase{"@ A = X == 10 AND x <> 1; #",
                  "SyntError[line=1, column=10]: Chyba, signal X nelze porovnat s konstantou 1"},
        ErrorCase{"@ A = X == 10 OR Y == 1 AND X > 001; #",
                  "SyntError[line=1, column=14]: Chyba, signal X nelze porovnat s konstantou 001"},
        // Every side of the width check: narrower and wider, within one
        // definition and across two, one digit against a vector and back.
        ErrorCase{"@ A = X == 101; B = X == 10; #",
                  "SyntError[line=1, column=12]: Chyba, signal X nelze porovnat s konstantou 10"},
        ErrorCase{"@ A = X == 01; B = X == 1; #",
                  "SyntError[line=1, column=12]: Chyba, signal X nelze porovnat s konstantou 1"},
        ErrorCase{"@ A = X == 0 OR X == 11; #",
                  "SyntError[line=1, column=10]: Chyba, signal X nelze porovnat s konstantou 11"},
        ErrorCase{"@ A = X == 10 AND X < 100; #",
                  "SyntError[line=1, column=10]: Chyba, signal X nelze porovnat s konstantou 100"}));

// Names must be legal VHDL identifiers that the checker does not use itself.
INSTANTIATE_TEST_SUITE_P(
    Names, ParseErrors,
    ::testing::Values(
        ErrorCase{"@ signal = X == 1; #",
                  "SyntError[line=1, column=2]: Chyba, jmeno SIGNAL nelze pouzit ve VHDL"},
        ErrorCase{"@ A = clk == 1; #",
                  "SyntError[line=1, column=4]: Chyba, jmeno CLK nelze pouzit ve VHDL"},
        ErrorCase{"@ A = X == 1 and To_String == 1; #",
                  "SyntError[line=1, column=8]: Chyba, jmeno TO_STRING nelze pouzit ve VHDL"},
        ErrorCase{"@ _A = X == 1; #",
                  "SyntError[line=1, column=2]: Chyba, jmeno _A nelze pouzit ve VHDL"},
        ErrorCase{"@ A = X_ == 1; #",
                  "SyntError[line=1, column=4]: Chyba, jmeno X_ nelze pouzit ve VHDL"},
        ErrorCase{"@ A = X == 1; # (S__1, A) : B;",
                  "SyntError[line=1, column=10]: Chyba, jmeno S__1 nelze pouzit ve VHDL"},
        ErrorCase{"@ A = X == 1; # (S1, A) : serr;",
                  "SyntError[line=1, column=15]: Chyba, jmeno SERR nelze pouzit ve VHDL"},
        ErrorCase{"@ A = X == 1; # (S1, A) : S2; (S2, A) : Next;",
                  "SyntError[line=1, column=23]: Chyba, jmeno NEXT nelze pouzit ve VHDL"},
        // One name for two kinds of thing.
        ErrorCase{"@ A = A == 1; #", "SyntError[line=1, column=4]: Chyba, jmeno A uz je pouzito"},
        ErrorCase{"@ X = S == 1; S = T == 1; #",
                  "SyntError[line=1, column=8]: Chyba, jmeno S uz je pouzito"},
        ErrorCase{"@ X = S == 1; Y = X == 1; #",
                  "SyntError[line=1, column=10]: Chyba, jmeno X uz je pouzito"},
        ErrorCase{"@ X = S == 1; # (X, X) : B;",
                  "SyntError[line=1, column=10]: Chyba, jmeno X uz je pouzito"},
        ErrorCase{"@ X = S == 1; # (A, X) : s;",
                  "SyntError[line=1, column=15]: Chyba, jmeno S uz je pouzito"},
        // The older checks come first.
        ErrorCase{"@ A = X == 1; A = Y == 1; #",
                  "SyntError[line=1, column=8]: Chyba vstupu, prechod A uz existuje!"},
        ErrorCase{"@ A = X == 1; # (S1, CLK) : S2;",
                  "SyntError[line=1, column=12]: Chyba, prechod CLK nebyl definovan!"}));

// The names the checker declares itself (README), each refused wherever a
// description can bring in a new name.
class DeclaredNames : public ::testing::TestWithParam<const char*> {};

TEST_P(DeclaredNames, AreRefusedAsSignalSymbolAndState)
{
    std::string name = GetParam(), lower;
    for (char c : name)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string refused = " nelze pouzit ve VHDL\n";
    struct {
        std::string text;
        int column;
    } roles[] = {{"@ A = " + lower + " == 1; #", 4},
                 {"@ " + lower + " = X == 1; #", 2},
                 {"@ A = X == 1; # (" + lower + ", A) : S;", 10},
                 {"@ A = X == 1; # (S, A) : " + lower + ";", 15}};
    for (auto& role : roles) {
        Outcome o = parseText(role.text);
        EXPECT_EQ(o.status, 1) << role.text;
        EXPECT_EQ(o.err, "SyntError[line=1, column=" + std::to_string(role.column) +
                             "]: Chyba, jmeno " + name + refused)
            << role.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, DeclaredNames,
    ::testing::Values("GUARD", "FL_GUARD", "CLK", "RESET", "ERROR", "T_STATE", "PRESENT_STATE",
                      "NEXT_STATE", "SERR", "SYNC_LOGIC", "NEXT_STATE_LOGIC", "OUTPUT_LOGIC", "IEEE",
                      "STD", "WORK", "STD_LOGIC", "STD_LOGIC_VECTOR", "STD_ULOGIC",
                      "STD_ULOGIC_VECTOR", "TRUE", "FALSE", "MINIMUM", "MAXIMUM", "TO_STRING",
                      "INHERIT"));

TEST(Parser, ConstantOfMoreThanAMillionDigitsIsRefusedFirst)
{
    Outcome o = parseText("@ A = X == 2" + std::string(1000000, '0') + "; #");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "SyntError[line=1, column=6]: Chyba, konstanta ma vice nez 1000000 cislic\n");
}

TEST(Parser, ConstantOfAMillionDigitsIsAccepted)
{
    Outcome o = parseText("@ A = X == " + std::string(1000000, '1') + "; # (S) : S;");
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(tablesOf(o).find("SIG X|: in| std_logic_vector(999999 downto 0);\n"),
              std::string::npos);
}

TEST(Parser, NamesLongerThanVhdlToolsTakeAreRefused)
{
    std::string longest(1023, 'N');
    EXPECT_EQ(parseText("@ A = X == 1; # (" + longest + ", A) : S;").status, 0);
    Outcome o = parseText("@ A = X == 1; # (S, A) : " + longest + "N;");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "SyntError[line=1, column=15]: Chyba, jmeno " + longest +
                         "N nelze pouzit ve VHDL\n");
}

TEST(Parser, SevenLineExampleFillsTheTables)
{
    Outcome o = parseText("@\n"
                          "START = S == 1;\n"
                          "DATA = D >= 0101 AND S <> 0;\n"
                          "#\n"
                          "(IDLE, START) : LOAD;\n"
                          "(LOAD, DATA) : IDLE;\n"
                          "(LOAD) : LOAD;");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(messagesOf(o), "Vstupni soubor zpracovan...");
    EXPECT_EQ(tablesOf(o), "SIG S|: in| std_logic;\n"
                           "SIG D|: in| std_logic_vector(3 downto 0);\n"
                           "SYM START|  S = '1'\n"
                           "SYM DATA|  D >= \"0101\" and S /= '0'\n"
                           "ROW IDLE|START|LOAD\n"
                           "ROW LOAD|DATA|IDLE\n"
                           "ROW LOAD||LOAD\n"
                           "CONDS 0\n");
}

TEST(Parser, LowerCaseNamesAndKeywordsAreOneName)
{
    Outcome o = parseText("@ x0 = a == 0; X1 = A == 1 and b == 0 Or c <> 1; #\n"
                          "(s0, x1) : S1; (S1, X0) : s0; (s1, x1) : s1;");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(tablesOf(o), "SIG A|: in| std_logic;\n"
                           "SIG B|: in| std_logic;\n"
                           "SIG C|: in| std_logic;\n"
                           "SYM X0|  A = '0'\n"
                           "SYM X1|  (A = '1' and B = '0') or C /= '1'\n"
                           "ROW S0|X1|S1\n"
                           "ROW S1|X0|S0\n"
                           "ROW S1|X1|S1\n"
                           "CONDS 0\n");
}

TEST(Parser, AllSixOperatorsAndWidths)
{
    Outcome o = parseText("@ A = P > 1 OR Q < 00 OR R >= 011 OR P <= 0 OR Q == 11 OR R <> 111; #");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(tablesOf(o), "SIG P|: in| std_logic;\n"
                           "SIG Q|: in| std_logic_vector(1 downto 0);\n"
                           "SIG R|: in| std_logic_vector(2 downto 0);\n"
                           "SYM A|  P > '1' or Q < \"00\" or R >= \"011\" or P <= '0' or Q = \"11\" "
                           "or R /= \"111\"\n"
                           "CONDS 0\n");
}

TEST(Parser, RepeatedAndOverlappingRowsAreAllKeptInOrder)
{
    Outcome o = parseText("@ X = S == 1; #\n(A, X) : B; (A, X) : B; (A, X) : C; (A) : A; (B):A;");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(tablesOf(o), "SIG S|: in| std_logic;\n"
                           "SYM X|  S = '1'\n"
                           "ROW A|X|B\n"
                           "ROW A|X|B\n"
                           "ROW A|X|C\n"
                           "ROW A||A\n"
                           "ROW B||A\n"
                           "CONDS 0\n");
}

struct EndingCase {
    const char* text;
    const char* messages;
};

class Endings : public ::testing::TestWithParam<EndingCase> {};

// After the rows one more token is read; only the end of input there
// earns the completion message.
TEST_P(Endings, DecideTheCompletionMessage)
{
    Outcome o = parseText(GetParam().text);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(messagesOf(o), GetParam().messages);
    EXPECT_EQ(tablesOf(o), "ROW A||B\nCONDS 0\n");
}

INSTANTIATE_TEST_SUITE_P(
    Parser, Endings,
    ::testing::Values(EndingCase{"@ # (A) : B;", "Vstupni soubor zpracovan..."},
                      EndingCase{"@#(a):b;\n// trailing comment", "Vstupni soubor zpracovan..."},
                      EndingCase{"@ # (A) : B; $", "Vstupni soubor zpracovan..."},
                      EndingCase{"@ # (A) : B; $ $ (C) : D;", "Vstupni soubor zpracovan..."},
                      EndingCase{"@ # (A) : B; $ (C) : D;", ""},
                      EndingCase{"@ # (A) : B; $ ! anything ( goes", ""}));

TEST(Parser, EmptyDescriptionIsAcceptedWithEmptyTables)
{
    Outcome o = parseText("@ #");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(messagesOf(o), "Vstupni soubor zpracovan...");
    EXPECT_EQ(tablesOf(o), "CONDS 0\n");
}

TEST(Parser, UnknownCharacterAfterTheFinalDollarIsALexicalError)
{
    Outcome o = parseText("@ # (A) : B; $%");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "LexError[line=1, column=10]: Neznamy symbol: % \n");
}

TEST(Parser, LongDescriptionsNeedNoDeepStack)
{
    std::string text = "@ X = S == 1";
    for (int i = 0; i < 100000; i++)
        text += " OR S == 0";
    text += "; #\n";
    for (int i = 0; i < 100000; i++)
        text += "(A, X) : A;\n";
    Outcome o = parseText(text);
    EXPECT_EQ(o.status, 0) << o.err;
}

} // namespace
