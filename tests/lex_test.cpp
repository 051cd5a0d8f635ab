// Lexer: token forms, counters, comment rules and the two error reports.
#include "lex.h"
#include "support.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>

namespace {

struct Token {
    TSymbol sym;
    std::string str;
    std::string num;
    int vect, vector, line, column;
};

// Lexes text in a child process until two eofSym follow each other (so
// that what follows a "$" is seen too) or a lexical error ends the child.
struct Lexed {
    std::vector<Token> tokens;
    Outcome outcome;
};

Lexed lexText(const std::string& text)
{
    TempDir dir;
    std::string path = dir.write("in.txt", text);
    Lexed result;
    result.outcome = runChild([&] {
        if (!lexInit(path))
            return;
        int eofs = 0;
        for (int n = 0; n < 1000 && eofs < 2; n++) {
            TSymbol s = lex();
            eofs = s == eofSym ? eofs + 1 : 0;
            std::printf("%d\t%s\t%s\t%d\t%d\t%d\t%d\n", s, lexStr.c_str(), lexInt.c_str(), vect,
                        vector, lexLine, lexColumn);
        }
    });
    std::istringstream lines(result.outcome.out);
    std::string line;
    std::getline(lines, line); // the opening message
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        Token t;
        int sym;
        std::string field;
        std::getline(f, field, '\t');
        sym = std::stoi(field);
        t.sym = static_cast<TSymbol>(sym);
        std::getline(f, t.str, '\t');
        std::getline(f, t.num, '\t');
        f >> t.vect >> t.vector >> t.line >> t.column;
        result.tokens.push_back(t);
    }
    return result;
}

// The kinds and texts of the tokens before the first end of input.
std::string kinds(const std::string& text)
{
    std::string shown;
    for (const Token& t : lexText(text).tokens) {
        if (t.sym == eofSym)
            break;
        shown += (shown.empty() ? "" : " ") + symbolCaptions[t.sym];
        if (t.sym == idSym)
            shown += ":" + t.str;
        if (t.sym == intkonstSym)
            shown += ":" + t.num;
    }
    return shown;
}

struct FormCase {
    const char* text;
    const char* tokens;
};

class TokenForms : public ::testing::TestWithParam<FormCase> {};

TEST_P(TokenForms, GiveTheseTokens)
{
    EXPECT_EQ(kinds(GetParam().text), GetParam().tokens) << "input: " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Lexer, TokenForms,
    ::testing::Values(
        FormCase{"! ( ) ; , : @ #", "! ( ) ; , : @ #"},
        FormCase{"< > = <= >= == <>", "< > = <= >= == <>"},
        FormCase{"=< => >< !=", "= < = > > < ! ="},
        FormCase{"< = < >", "< = < >"},
        FormCase{"===", "== ="},
        FormCase{"<", "<"},
        FormCase{"a<=b", "id:A <= id:B"},
        FormCase{"and And AND or Or OR", "AND AND AND OR OR OR"},
        FormCase{"ORA andy _x1 a_b1", "id:ORA id:ANDY id:_X1 id:A_B1"},
        FormCase{"12ab", "IntConst:12 id:AB"},
        FormCase{"007 0101", "IntConst:007 IntConst:0101"},
        FormCase{"A//comment ; (\nB", "id:A id:B"},
        FormCase{"A /x B", "id:A id:B"},
        FormCase{"A/B C", "id:A id:C"},
        FormCase{"A/\nB", "id:A id:B"},
        FormCase{"A // last line", "id:A"},
        FormCase{"A\r\nB\tC\v\fD", "id:A id:B id:C id:D"},
        FormCase{"", ""},
        FormCase{" \n\t ", ""}));

TEST(Lexer, ConstantsKeepTheirDigitsAndWidth)
{
    auto tokens = lexText("0101 1 007 10").tokens;
    ASSERT_GE(tokens.size(), 4u);
    EXPECT_EQ(tokens[0].num, "0101");
    EXPECT_EQ(tokens[0].vect, 4);
    EXPECT_EQ(tokens[0].vector, 1);
    EXPECT_EQ(tokens[1].num, "1");
    EXPECT_EQ(tokens[1].vect, 1);
    EXPECT_EQ(tokens[1].vector, 0);
    EXPECT_EQ(tokens[2].num, "007");
    EXPECT_EQ(tokens[3].num, "10"); // ends exactly at the end of the file
    EXPECT_EQ(tokens[3].vect, 2);
}

TEST(Lexer, TextsAreClearedByTheNextToken)
{
    auto tokens = lexText("abc 12 ;").tokens;
    ASSERT_GE(tokens.size(), 3u);
    EXPECT_EQ(tokens[1].str, "");
    EXPECT_EQ(tokens[2].num, "");
    EXPECT_EQ(tokens[2].vect, 0);
    EXPECT_EQ(tokens[2].vector, 0);
}

TEST(Lexer, IdentifierAtTheEndOfTheFileIsWhole)
{
    auto tokens = lexText("GOLD").tokens;
    ASSERT_GE(tokens.size(), 2u);
    EXPECT_EQ(tokens[0].str, "GOLD");
    EXPECT_EQ(tokens[1].sym, eofSym);
}

TEST(Lexer, DollarEndsInputButLaterCallsReadOn)
{
    auto tokens = lexText("A $ B").tokens;
    ASSERT_EQ(tokens.size(), 5u);
    EXPECT_EQ(tokens[1].sym, eofSym);
    EXPECT_EQ(tokens[2].sym, idSym);
    EXPECT_EQ(tokens[2].str, "B");
    EXPECT_EQ(tokens[3].sym, eofSym);
}

TEST(Lexer, EndOfFileRepeatsAndStillCountsColumns)
{
    auto tokens = lexText("A").tokens;
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[1].column, 2);
    EXPECT_EQ(tokens[2].column, 3);
}

struct Position {
    int line, column;
};

std::vector<Position> positions(const std::string& text)
{
    std::vector<Position> shown;
    for (const Token& t : lexText(text).tokens)
        shown.push_back({t.line, t.column});
    return shown;
}

TEST(Lexer, CountsLinesAndColumnsAsDocumented)
{
    // RED and GREEN, then BLUE, a comment line, and GOLD after two blanks.
    auto at = positions("RED GREEN\nBLUE\n//x\n  GOLD");
    ASSERT_GE(at.size(), 5u);
    EXPECT_EQ(at[0].line, 1);
    EXPECT_EQ(at[0].column, 1);
    EXPECT_EQ(at[1].line, 1);
    EXPECT_EQ(at[1].column, 2);
    EXPECT_EQ(at[2].line, 2);
    EXPECT_EQ(at[2].column, 0);
    EXPECT_EQ(at[3].line, 4);
    EXPECT_EQ(at[3].column, 2);
    EXPECT_EQ(at[4].line, 4);
    EXPECT_EQ(at[4].column, 3);

    auto plain = positions("RED GREEN\nBLUE\n  GOLD");
    EXPECT_EQ(plain[3].line, 3);
    EXPECT_EQ(plain[3].column, 0);
}

TEST(Lexer, LineFeedAfterALoneSlashIsCounted)
{
    auto at = positions("A /\nB");
    ASSERT_GE(at.size(), 2u);
    EXPECT_EQ(at[1].line, 2);
}

struct ErrorCase {
    const char* text;
    const char* stderrText;
};

class LexErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(LexErrors, ReportOnceAndExitWithOne)
{
    Outcome o = lexText(GetParam().text).outcome;
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, GetParam().stderrText);
}

INSTANTIATE_TEST_SUITE_P(
    Lexer, LexErrors,
    ::testing::Values(ErrorCase{"%", "LexError[line=1, column=1]: Neznamy symbol: % \n"},
                      ErrorCase{"A B\n  -", "LexError[line=2, column=0]: Neznamy symbol: - \n"},
                      ErrorCase{"A\xc3\xa1", "LexError[line=1, column=2]: Neznamy symbol: \xc3 \n"},
                      ErrorCase{"A\x01", "LexError[line=1, column=2]: Neznamy symbol: \x01 \n"},
                      ErrorCase{"$%", "LexError[line=1, column=2]: Neznamy symbol: % \n"}));

TEST(Diagnostics, SyntaxReportHasNoBlankBeforeTheLineBreak)
{
    Outcome o = runChild([] {
        lexLine = 7;
        lexColumn = -2;
        synTotalError("");
    });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "SyntError[line=7, column=-2]: \n");
}

TEST(Diagnostics, LexicalReportOfAnEmptyMessage)
{
    Outcome o = runChild([] {
        lexLine = 3;
        lexColumn = 4;
        lexTotalError("");
    });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "LexError[line=3, column=4]:  \n");
}

TEST(Diagnostics, StandardOutputWrittenBeforeTheReportIsKept)
{
    Outcome o = runChild([] {
        std::fputs("before", stdout);
        synTotalError("x");
    });
    EXPECT_EQ(o.out, "before");
}

TEST(LexerFile, OpenAndCloseMessages)
{
    TempDir dir;
    std::string path = dir.write("a.txt", "@");
    Outcome o = runChild([&] {
        if (lexInit(path))
            lexFree(path);
        lexFree(path); // a second close prints nothing
    });
    EXPECT_EQ(o.out, "Soubor " + path + " otevren...\n\nSoubor " + path + " zavren...");
}

TEST(LexerFile, MissingFileAndDirectoryCannotBeOpened)
{
    TempDir dir;
    for (std::string path : {dir.path("missing.txt"), dir.dir}) {
        Outcome o = runChild([&] { std::exit(lexInit(path) ? 3 : 4); });
        EXPECT_EQ(o.status, 4) << path;
        EXPECT_EQ(o.out, "Nelze otevrit vstupni soubor " + path);
    }
}

} // namespace
