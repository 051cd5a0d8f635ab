// KISS2 reader: small files through read_kiss2 into the model tables and
// the model view, every header, message and note with its position.
#include "kiss2.h"
#include "model.h"
#include "support.h"
#include "table.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

const std::string mark = "\n--model--\n";

// Reads text as KISS2 in a child process; after mark its standard output
// holds the model, one line per signal, symbol, row and note.
Outcome readText(const std::string& text)
{
    TempDir dir;
    std::string path = dir.write("m.kiss2", text);
    return runChild([&] {
        model_keep_rows(true);
        if (!read_kiss2(path))
            return;
        check_has_rows();
        const ModelView& view = build_view();
        std::fputs(mark.c_str(), stdout);
        for (const ViewSignal& s : view.signals)
            std::printf("SIG %s %d:%d\n", s.name.c_str(), s.line, s.column);
        for (const TSym& s : SymList)
            std::printf("SYM %s = %s\n", s.name.c_str(), s.conds.c_str() + s.conds.find_first_not_of(' '));
        for (const ViewRow& r : view.rows)
            std::printf("ROW %d (%s, %s) : %s\n", r.line, view.states[r.source].name.c_str(),
                        r.symbol < 0 ? "-" : view.symbols[r.symbol].name.c_str(),
                        view.states[r.target].name.c_str());
        std::printf("START %s\n", view.states[view.start].name.c_str());
        for (const ReaderNote& n : view.notes)
            std::printf("NOTE %d:%d %s\n", n.line, n.column, n.text.c_str());
    });
}

std::string modelOf(const Outcome& o)
{
    size_t at = o.out.find(mark);
    return at == std::string::npos ? "" : o.out.substr(at + mark.size());
}

struct Case {
    const char* what;
    const char* text;
    const char* model; // or, for a refused file, its error line
};

class Kiss2Reads : public ::testing::TestWithParam<Case> {};

TEST_P(Kiss2Reads, IntoTheModel)
{
    Outcome o = readText(GetParam().text);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(modelOf(o), GetParam().model) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, Kiss2Reads,
    ::testing::Values(
        Case{"every header, comments, .e ends the machine",
             "# lion-like\n.i 2\n.o 1 # outputs are ignored\n.p 2\n.s 2\n.r b\n"
             ".ilb x y\n.ob z\n-1 a b 0\n1- b a -\n.e\n00 a q 1\n",
             "SIG X 10:1\nSIG Y 9:2\n"
             "SYM IN_X1 = Y = '1'\nSYM IN_1X = X = '1'\n"
             "ROW 10 (B, IN_1X) : A\nROW 9 (A, IN_X1) : B\nSTART B\n"},
        Case{".end, .start_kiss and .end_kiss; no .r: the first state named",
             ".start_kiss\n.i 1\n.o 0\n1 s t\n0 t s\n.end_kiss\n1 s u\n",
             "SIG I0 4:1\nSYM IN_1 = I0 = '1'\nSYM IN_0 = I0 = '0'\n"
             "ROW 4 (S, IN_1) : T\nROW 5 (T, IN_0) : S\nSTART S\n"},
        Case{".end", ".i 1\n1 s s 1\n.end\n.i 2\n",
             "SIG I0 2:1\nSYM IN_1 = I0 = '1'\nROW 2 (S, IN_1) : S\nSTART S\n"},
        Case{"without .i the first cube gives the width; CR LF, tabs",
             "01\ts0 s1\r\n1-  s1 s0 1\r\n",
             "SIG I0 1:1\nSIG I1 1:2\nSYM IN_01 = I0 = '0' and I1 = '1'\nSYM IN_1X = I0 = '1'\n"
             "ROW 1 (S0, IN_01) : S1\nROW 2 (S1, IN_1X) : S0\nSTART S0\n"},
        Case{".i 0: no cube, rows without symbol", ".i 0\n.o 1\na b 1\nb a 0\n",
             "ROW 3 (A, -) : B\nROW 4 (B, -) : A\nSTART A\n"},
        Case{"counts that disagree, unknown headers: notes",
             ".i 1\n.p 3\n.s 1\n.type fr\n0 a b\n1 b a\n",
             "SIG I0 5:1\nSYM IN_0 = I0 = '0'\nSYM IN_1 = I0 = '1'\n"
             "ROW 5 (A, IN_0) : B\nROW 6 (B, IN_1) : A\nSTART A\n"
             "NOTE 2:1 Hlavicka .p udava 3 radku, soubor jich ma 2\n"
             "NOTE 3:1 Hlavicka .s udava 1 stavu, soubor jich ma 2\n"
             "NOTE 4:1 Neznama hlavicka .type je ignorovana\n"}));

INSTANTIATE_TEST_SUITE_P(
    Rows, Kiss2Reads,
    ::testing::Values(
        Case{"* rows: one row per state, in place; all-don't-care cube: no symbol",
             ".i 2\n1- * r\n00 r a\n-- a r\n01 q a\n",
             "SIG I0 2:1\nSIG I1 3:2\nSYM IN_1X = I0 = '1'\nSYM IN_00 = I0 = '0' and I1 = '0'\n"
             "SYM IN_01 = I0 = '0' and I1 = '1'\n"
             "ROW 2 (R, IN_1X) : R\nROW 2 (A, IN_1X) : R\nROW 2 (Q, IN_1X) : R\n"
             "ROW 3 (R, IN_00) : A\nROW 4 (A, -) : R\nROW 5 (Q, IN_01) : A\nSTART R\n"},
        Case{".r moves the first row of the start state to the front",
             ".i 1\n.r b\n0 a b\n1 b a\n0 b b\n",
             "SIG I0 3:1\nSYM IN_0 = I0 = '0'\nSYM IN_1 = I0 = '1'\n"
             "ROW 4 (B, IN_1) : A\nROW 3 (A, IN_0) : B\nROW 5 (B, IN_0) : B\nSTART B\n"},
        Case{".r reached through a * row",
             ".i 1\n.r z\n0 a b\n1 * a\n",
             "SIG I0 3:1\nSYM IN_0 = I0 = '0'\nSYM IN_1 = I0 = '1'\n"
             "ROW 4 (Z, IN_1) : A\nROW 3 (A, IN_0) : B\nROW 4 (A, IN_1) : A\nROW 4 (B, IN_1) : A\n"
             "START Z\n"},
        Case{"unspecified next states: rows left out and noted, their cubes unused; "
             "a bit only they fix: no port",
             ".i 3\n0-1 a b 1\n11- a * 0\n--- * - 0\n1-0 b a 1\n",
             "SIG I0 2:1\nSIG I2 2:3\nSYM IN_0X1 = I0 = '0' and I2 = '1'\n"
             "SYM IN_1X0 = I0 = '1' and I2 = '0'\n"
             "ROW 2 (A, IN_0X1) : B\nROW 5 (B, IN_1X0) : A\nSTART A\n"
             "NOTE 1:1 Zadny radek necte vstup I1, checker pro nej nema port\n"
             "NOTE 3:7 Nasledujici stav neni urcen, radek je vynechan\n"
             "NOTE 4:7 Nasledujici stav neni urcen, radek je vynechan\n"}));

INSTANTIATE_TEST_SUITE_P(
    Names, Kiss2Reads,
    ::testing::Values(
        Case{".ilb names: legal ones kept, others I<bit> and noted; unused bit noted",
             ".i 6\n.ilb req end i1 req a__b z\n11111- s s\n00000- s s\n",
             "SIG REQ 3:1\nSIG I1_2 3:2\nSIG I1 3:3\nSIG I3 3:4\nSIG I4 3:5\n"
             "SYM IN_11111X = REQ = '1' and I1_2 = '1' and I1 = '1' and I3 = '1' and I4 = '1'\n"
             "SYM IN_00000X = REQ = '0' and I1_2 = '0' and I1 = '0' and I3 = '0' and I4 = '0'\n"
             "ROW 3 (S, IN_11111X) : S\nROW 4 (S, IN_00000X) : S\nSTART S\n"
             "NOTE 2:10 Jmeno end z .ilb nelze pouzit ve VHDL, vstup se jmenuje I1_2\n"
             "NOTE 2:17 Jmeno req z .ilb nelze pouzit ve VHDL, vstup se jmenuje I3\n"
             "NOTE 2:21 Jmeno a__b z .ilb nelze pouzit ve VHDL, vstup se jmenuje I4\n"
             "NOTE 2:26 Zadny radek necte vstup z, checker pro nej nema port\n"},
        Case{"illegal and clashing state names get S_ names that clash with nothing",
             ".i 1\n.ilb s_000\n1 000 end\n0 end Error\n1 Error s_x.y\n0 s_x.y s_x\n"
             "1 s_x S_x\n0 S_x a-b\n1 a-b IN_1\n0 IN_1 -\n",
             "SIG S_000 3:1\nSYM IN_1_2 = S_000 = '1'\nSYM IN_0 = S_000 = '0'\n"
             "ROW 3 (S_000_2, IN_1_2) : S_END\nROW 4 (S_END, IN_0) : S_ERROR\n"
             "ROW 5 (S_ERROR, IN_1_2) : S_S_X_Y\nROW 6 (S_S_X_Y, IN_0) : S_X\n"
             "ROW 7 (S_X, IN_1_2) : S_S_X\nROW 8 (S_S_X, IN_0) : S_A_B\n"
             "ROW 9 (S_A_B, IN_1_2) : IN_1\nSTART S_000_2\n"
             "NOTE 10:8 Nasledujici stav neni urcen, radek je vynechan\n"}));

class Kiss2Refuses : public ::testing::TestWithParam<Case> {};

TEST_P(Kiss2Refuses, WithALocatedMessage)
{
    Outcome o = readText(GetParam().text);
    EXPECT_EQ(o.status, 1) << GetParam().what;
    EXPECT_EQ(o.err, std::string(GetParam().model) + "\n") << GetParam().what;
    EXPECT_EQ(modelOf(o), "");
}

INSTANTIATE_TEST_SUITE_P(
    Errors, Kiss2Refuses,
    ::testing::Values(
        Case{"empty", "", "SyntError[line=1, column=1]: Spatny format: Vstupni soubor je prazdny"},
        Case{"comments only", "# a\n\n  # b\n",
             "SyntError[line=3, column=1]: Spatny format: Vstupni soubor je prazdny"},
        Case{"no rows", ".i 2\n.o 1\n",
             "SyntError[line=2, column=1]: Chyba, popis neobsahuje zadny prechod"},
        Case{"only unspecified rows", ".i 1\n1 a * 0\n",
             "SyntError[line=2, column=1]: Chyba, popis neobsahuje zadny prechod"},
        Case{"header twice", ".i 2\n.i 2\n", "SyntError[line=2, column=1]: Chyba, hlavicka .i je zadana dvakrat"},
        Case{".r twice", ".r a\n .r b\n", "SyntError[line=2, column=2]: Chyba, hlavicka .r je zadana dvakrat"},
        Case{".ilb twice", ".ilb a\n.ilb b\n", "SyntError[line=2, column=1]: Chyba, hlavicka .ilb je zadana dvakrat"},
        Case{"count missing", ".o\n", "SyntError[line=1, column=4]: Chyba, za .o se ocekava cislo"},
        Case{"count not a number", ".p 1x\n", "SyntError[line=1, column=4]: Chyba, za .p se ocekava cislo"},
        Case{"count too large", ".s 1000000000\n", "SyntError[line=1, column=4]: Chyba, za .s se ocekava cislo"},
        Case{".r without a name", ".r  # none\n", "SyntError[line=1, column=4]: Chyba, za .r se ocekava jmeno stavu"},
        Case{"extra field in a header", ".i 2 3\n", "SyntError[line=1, column=6]: Syntakticka chyba, nadbytecne pole 3"},
        Case{"extra field in a row", ".i 1\n.o 1\n1 a b 0 c\n",
             "SyntError[line=3, column=9]: Syntakticka chyba, nadbytecne pole c"},
        Case{"outputs where .o 0 says none", ".i 1\n.o 0\n1 a b 0\n",
             "SyntError[line=3, column=7]: Syntakticka chyba, nadbytecne pole 0"},
        Case{"header after a row", ".i 1\n1 a b\n.r a\n",
             "SyntError[line=3, column=1]: Chyba, hlavicka .r musi stat pred prvnim radkem"},
        Case{".ilb count", ".i 3\n.ilb a b\n111 a b\n", "SyntError[line=2, column=1]: Chyba, .ilb ma 2 jmen, ocekava se 3"},
        Case{"short cube", ".i 3\n111 a b\n11 b a\n",
             "SyntError[line=3, column=1]: Chyba, vstupni krychle ma 2 znaku misto 3"},
        Case{"long cube, width from .ilb", ".ilb x\n 10 a b\n",
             "SyntError[line=2, column=2]: Chyba, vstupni krychle ma 2 znaku misto 1"},
        Case{"cube character", ".i 4\n01x1 a b\n",
             "SyntError[line=2, column=3]: Chyba, znak x ve vstupni krychli neni 0, 1 ani -"},
        Case{"cube character, width from the cube", "0*\ta b\n",
             "SyntError[line=1, column=2]: Chyba, znak * ve vstupni krychli neni 0, 1 ani -"},
        Case{"no present state", ".i 2\n01\n", "SyntError[line=2, column=4]: Syntakticka chyba, chybi soucasny stav"},
        Case{"no next state", ".i 2\n01 a \n", "SyntError[line=2, column=6]: Syntakticka chyba, chybi nasledujici stav"},
        Case{"no next state, no inputs", ".i 0\na\n", "SyntError[line=2, column=3]: Syntakticka chyba, chybi nasledujici stav"},
        Case{"no outputs", ".i 1\n.o 2\n1 a b 00\n0 b a\n", "SyntError[line=4, column=7]: Syntakticka chyba, chybi vystupy"},
        Case{".r state without rows", ".i 1\n.r c\n1 a b\n0 b c\n",
             "SyntError[line=2, column=4]: Chyba, pocatecni stav c nema zadny prechod"},
        Case{"first state's rows all left out", ".i 1\n1 a -\n0 b a\n",
             "SyntError[line=2, column=3]: Chyba, pocatecni stav a nema zadny prechod"}));

} // namespace
