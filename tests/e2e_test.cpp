// The guardgen executable end to end: console transcript, exit status and
// the checker it writes, which GHDL must analyse, elaborate and synthesise.
#include "support.h"

#include <csignal>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string guardgen = GUARDGEN;
const std::string failRead = FAIL_READ;
const std::string testsDir = TESTS_DIR;
const std::string examplesDir = EXAMPLES_DIR;

std::string transcript(const std::string& path)
{
    return "Soubor " + path + " otevren...\nVstupni soubor zpracovan...\nSoubor " + path +
           " zavren...";
}

// Runs guardgen on one description file written into dir.
Outcome generate(const TempDir& dir, const std::string& name, const std::string& text)
{
    dir.write(name, text);
    return runProgram({guardgen, name}, dir.dir);
}

::testing::AssertionResult ghdlAccepts(const std::string& vhd)
{
    Outcome o = runProgram({"/bin/bash", testsDir + "/ghdl_check.sh", vhd}, ".");
    if (o.status == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << vhd << " is refused by GHDL:\n" << o.err;
}

// The text between two marker lines of a checker.
std::string section(const std::string& vhd, const std::string& from, const std::string& to)
{
    size_t start = vhd.find(from);
    size_t end = vhd.find(to, start);
    return start == std::string::npos || end == std::string::npos ? "" : vhd.substr(start, end - start);
}

const char* const twoStates = twoStatesDescription;

TEST(EndToEnd, TwoStateExampleIsWrittenByteForByte)
{
    TempDir dir;
    Outcome o = generate(dir, "fsm.txt", twoStates);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, transcript("fsm.txt"));
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(readFile(dir.path("fsm.vhd")), readFile(testsDir + "/data/two_states.vhd"));
    EXPECT_TRUE(ghdlAccepts(dir.path("fsm.vhd")));
}

TEST(EndToEnd, ExistingOutputIsReplacedWhole)
{
    TempDir dir;
    dir.write("fsm.vhd", std::string(100000, 'x'));
    EXPECT_EQ(generate(dir, "fsm.txt", twoStates).status, 0);
    EXPECT_EQ(readFile(dir.path("fsm.vhd")), readFile(testsDir + "/data/two_states.vhd"));
}

TEST(EndToEnd, SevenLineExample)
{
    TempDir dir;
    Outcome o = generate(dir, "load.txt",
                         "@\nSTART = S == 1;\nDATA = D >= 0101 AND S <> 0;\n#\n"
                         "(IDLE, START) : LOAD;\n(LOAD, DATA) : IDLE;\n(LOAD) : LOAD;\n");
    EXPECT_EQ(o.status, 0) << o.err;
    std::string vhd = readFile(dir.path("load.vhd"));
    EXPECT_NE(vhd.find("S    : in std_logic;\nD    : in std_logic_vector(3 downto 0);\n"),
              std::string::npos);
    EXPECT_NE(vhd.find("DATA <= '1' when  D >= \"0101\" and S /= '0'\n    else '0';\n"),
              std::string::npos);
    // The unlabeled row always holds, so it is LOAD's default.
    EXPECT_EQ(section(vhd, "    when LOAD =>", "    when Serr =>"),
              "    when LOAD =>\n"
              "       if (DATA = '1') then\n"
              "          next_state <= IDLE;\n"
              "       elsif (TRUE) then\n"
              "          next_state <= LOAD;\n"
              "       else\n"
              "          next_state <= Serr;\n"
              "       end if;\n");
    EXPECT_TRUE(ghdlAccepts(dir.path("load.vhd")));
}

TEST(EndToEnd, NoInputSymbols)
{
    TempDir dir;
    Outcome o = generate(dir, "bare.txt", "@ # (A) : A;");
    EXPECT_EQ(o.status, 0) << o.err;
    std::string vhd = readFile(dir.path("bare.vhd"));
    EXPECT_NE(vhd.find("port(\nCLK        : in  std_logic;\nRESET      : in  std_logic;\n"
                       "ERROR     : out std_logic );\n"),
              std::string::npos);
    EXPECT_NE(vhd.find("architecture FL_GUARD of GUARD is\n\n\ntype t_state is (A,Serr);\n"),
              std::string::npos);
    EXPECT_NE(vhd.find("begin\n\n\n-- FSM present state register"), std::string::npos);
    EXPECT_NE(vhd.find("next_state_logic : process(present_state)\n"), std::string::npos);
    EXPECT_TRUE(ghdlAccepts(dir.path("bare.vhd")));
}

TEST(EndToEnd, OneRowStateHasNoElsif)
{
    TempDir dir;
    Outcome o = generate(dir, "one.txt", "@ X = A == 1; UNUSED = A == 0; # (S, X) : S;");
    EXPECT_EQ(o.status, 0) << o.err;
    std::string vhd = readFile(dir.path("one.vhd"));
    EXPECT_EQ(section(vhd, "    when S =>", "    when Serr =>"),
              "    when S =>\n"
              "       if (X = '1') then\n"
              "          next_state <= S;\n"
              "       else\n"
              "          next_state <= Serr;\n"
              "       end if;\n");
    // A symbol no row uses is still declared, assigned and watched.
    EXPECT_NE(vhd.find("signal   UNUSED  : std_logic;\n"), std::string::npos);
    EXPECT_NE(vhd.find("UNUSED <= '1' when  A = '0'\n"), std::string::npos);
    EXPECT_NE(vhd.find("process(present_state, X, UNUSED)\n"), std::string::npos);
    EXPECT_TRUE(ghdlAccepts(dir.path("one.vhd")));
}

TEST(EndToEnd, RowsOfOneStateApartGiveOneArm)
{
    TempDir dir;
    Outcome o = generate(dir, "apart.txt",
                         "@ X = A == 1; Y = A == 0; #\n"
                         "(P, X) : Q; (Q, X) : P; (P, Y) : P; (Q, Y) : Q; (P) : Q;");
    EXPECT_EQ(o.status, 0) << o.err;
    std::string vhd = readFile(dir.path("apart.vhd"));
    EXPECT_NE(vhd.find("type t_state is (P,Q,Serr);\n"), std::string::npos);
    EXPECT_EQ(section(vhd, "    when P =>", "    when Q =>"),
              "    when P =>\n"
              "       if (X = '1') then\n"
              "          next_state <= Q;\n"
              "       elsif (Y = '1') then\n"
              "          next_state <= P;\n"
              "       elsif (TRUE) then\n"
              "          next_state <= Q;\n"
              "       else\n"
              "          next_state <= Serr;\n"
              "       end if;\n");
    EXPECT_TRUE(ghdlAccepts(dir.path("apart.vhd")));
}

TEST(EndToEnd, StatesThatAreOnlyTargetsGetAnErrorArm)
{
    TempDir dir;
    Outcome o = generate(dir, "sink.txt", "@ X = A == 1; # (P, X) : DONE; (P) : LOST; (Q, X) : P;");
    EXPECT_EQ(o.status, 0) << o.err;
    std::string vhd = readFile(dir.path("sink.vhd"));
    EXPECT_NE(vhd.find("type t_state is (P,Q,DONE,LOST,Serr);\n"), std::string::npos);
    EXPECT_EQ(section(vhd, "    when DONE =>", "    when Serr =>"),
              "    when DONE =>\n"
              "       next_state <= Serr;\n"
              "    when LOST =>\n"
              "       next_state <= Serr;\n");
    EXPECT_TRUE(ghdlAccepts(dir.path("sink.vhd")));
}

TEST(EndToEnd, MixedConnectivesAreGrouped)
{
    TempDir dir;
    Outcome o = generate(dir, "mix.txt",
                         "@ M = A == 1 OR B == 00 AND C < 1 OR A <> 0 AND B >= 10; # (S, M) : S;");
    EXPECT_EQ(o.status, 0) << o.err;
    std::string vhd = readFile(dir.path("mix.vhd"));
    EXPECT_NE(vhd.find("M <= '1' when  A = '1' or (B = \"00\" and C < '1') or (A /= '0' and "
                       "B >= \"10\")\n"),
              std::string::npos);
    EXPECT_TRUE(ghdlAccepts(dir.path("mix.vhd")));
}

TEST(EndToEnd, LongestNameIsValidVhdl)
{
    TempDir dir;
    std::string name(1023, 'N');
    Outcome o = generate(dir, "long.txt", "@ X = A == 1; # (" + name + ", X) : " + name + ";");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(ghdlAccepts(dir.path("long.vhd")));
}

struct PathCase {
    const char* input;
    const char* output;
};

class OutputPaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(OutputPaths, ReplaceOnlyTheLastExtension)
{
    TempDir dir;
    for (const char* sub : {"dir.d", "a", "a/b.c", "d"})
        mkdir(dir.path(sub).c_str(), 0700);
    std::string input = GetParam().input;
    Outcome o = generate(dir, input, "@ X = A == 1; # (S, X) : S;");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, transcript(input));
    EXPECT_TRUE(exists(dir.path(GetParam().output))) << GetParam().output;
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, OutputPaths,
                         ::testing::Values(PathCase{"fsm.txt", "fsm.vhd"},
                                           PathCase{"archive.tar.txt", "archive.tar.vhd"},
                                           PathCase{"fsm.", "fsm.vhd"}, PathCase{"fsm", "fsm.vhd"},
                                           PathCase{"dir\\fsm.txt", "dir\\fsm.vhd"},
                                           PathCase{"dir.old\\fsm", "dir.old\\fsm.vhd"},
                                           // "\\" as a separator: the last one counts, and
                                           // either kind may come last
                                           PathCase{"v1.2\\sub\\fsm", "v1.2\\sub\\fsm.vhd"},
                                           PathCase{"a\\b.c\\x", "a\\b.c\\x.vhd"},
                                           PathCase{"d/e.f\\g", "d/e.f\\g.vhd"},
                                           PathCase{".hidden", ".vhd"},
                                           PathCase{"dir.d/fsm", "dir.d/fsm.vhd"},
                                           PathCase{"a/b.c/x.txt", "a/b.c/x.vhd"}));

TEST(EndToEnd, WrongArgumentCountPrintsUsage)
{
    TempDir dir;
    for (std::vector<std::string> args :
         {std::vector<std::string>{guardgen}, std::vector<std::string>{guardgen, "a", "b"}}) {
        Outcome o = runProgram(args, dir.dir);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, "Pouziti :\n" + guardgen + " <file>");
        EXPECT_EQ(o.err, "");
    }
}

TEST(EndToEnd, MissingInputIsReportedWithStatusOne)
{
    TempDir dir;
    Outcome o = runProgram({guardgen, "missing.txt"}, dir.dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "Nelze otevrit vstupni soubor missing.txt");
    EXPECT_FALSE(exists(dir.path("missing.vhd")));
}

std::vector<std::string> entries(const std::string& path)
{
    std::vector<std::string> names;
    DIR* d = opendir(path.c_str());
    while (dirent* entry = d ? readdir(d) : nullptr)
        if (entry->d_name[0] != '.')
            names.push_back(entry->d_name);
    if (d)
        closedir(d);
    return names;
}

// A run that fails leaves no checker behind and the description untouched.
struct FailureCase {
    const char* name;
    const char* text;
    const char* out;
    const char* err;
};

class Failures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Failures, LeaveNoOutput)
{
    TempDir dir;
    const FailureCase& c = GetParam();
    Outcome o = generate(dir, c.name, c.text);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(readFile(dir.path(c.name)), c.text);
    EXPECT_EQ(entries(dir.dir), std::vector<std::string>{c.name});
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, Failures,
    ::testing::Values(
        FailureCase{"f.txt", "@ # (A, X) : B;", "Soubor f.txt otevren...\n",
                    "SyntError[line=1, column=6]: Chyba, prechod X nebyl definovan!\n"},
        FailureCase{"f.txt", "@ # (A) : B; %", "Soubor f.txt otevren...\n",
                    "LexError[line=1, column=9]: Neznamy symbol: % \n"},
        FailureCase{"f.txt", "@ #", "Soubor f.txt otevren...\nVstupni soubor zpracovan...\nSoubor "
                                    "f.txt zavren...",
                    "SyntError[line=1, column=4]: Chyba, popis neobsahuje zadny prechod\n"},
        FailureCase{"f.vhd", "@ # (A) : B;", "Soubor f.vhd otevren...\nVstupni soubor "
                                             "zpracovan...\nSoubor f.vhd zavren...",
                    "SyntError[line=1, column=10]: Nelze prepsat vstupni soubor\n"}));

TEST(EndToEnd, OutputLinkedToTheInputIsRefused)
{
    for (bool hard : {false, true}) {
        TempDir dir;
        const char* text = "@ # (A) : B;";
        dir.write("f.txt", text);
        int made = hard ? link(dir.path("f.txt").c_str(), dir.path("f.vhd").c_str())
                        : symlink("f.txt", dir.path("f.vhd").c_str());
        ASSERT_EQ(made, 0);
        Outcome o = runProgram({guardgen, "f.txt"}, dir.dir);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, "SyntError[line=1, column=10]: Nelze prepsat vstupni soubor\n");
        EXPECT_EQ(readFile(dir.path("f.txt")), text);
    }
}

TEST(EndToEnd, OutputThatCannotBeOpened)
{
    TempDir dir;
    mkdir(dir.path("f.vhd").c_str(), 0700);
    Outcome o = generate(dir, "f.txt", "@ # (A) : B;");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, transcript("f.txt"));
    EXPECT_EQ(o.err, "SyntError[line=1, column=10]: Nelze otevrit vystupni soubor\n");
}

TEST(EndToEnd, FullDeviceFailsTheRunAndKeepsTheLink)
{
    TempDir dir;
    ASSERT_EQ(symlink("/dev/full", dir.path("f.vhd").c_str()), 0);
    Outcome o = generate(dir, "f.txt", "@ # (A) : B;");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, transcript("f.txt"));
    EXPECT_EQ(o.err, "SyntError[line=1, column=10]: Nelze zapsat vystupni soubor\n");
    char target[32] = {};
    EXPECT_GT(readlink(dir.path("f.vhd").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/dev/full");
}

// For a child that prepares its own process first: runs guardgen there.
[[noreturn]] void execGuardgen(const std::string& cwd, const std::string& input)
{
    char* argv[] = {const_cast<char*>(guardgen.c_str()), const_cast<char*>(input.c_str()), nullptr};
    if (chdir(cwd.c_str()) != 0)
        _exit(126);
    execv(argv[0], argv);
    _exit(127);
}

// One row a line, so that a read cut after a line leaves a shorter valid
// description: only the error report stands between it and a checker with
// rows missing.
std::string rowsText(int rows)
{
    std::string text = "@ X = A == 1; Y = A == 0;\n#\n";
    for (int i = 0; i < rows; i++)
        text += "(S" + std::to_string(i) + ", X) : S" + std::to_string(i + 1) + ";\n";
    return text;
}

struct ReadFailure {
    int lines; // whole lines read before the failure
    const char* err;
};

// The length of the first n lines of text.
size_t lineEnd(const std::string& text, int n)
{
    size_t end = 0;
    for (int i = 0; i < n; i++)
        end = text.find('\n', end) + 1;
    return end;
}

class ReadErrors : public ::testing::TestWithParam<ReadFailure> {};

TEST_P(ReadErrors, EndTheRunWithoutAChecker)
{
    TempDir dir;
    std::string text = rowsText(8000);
    dir.write("fsm.txt", text);
    Outcome o = runChild([&] {
        setenv("FAIL_READ_AFTER", std::to_string(lineEnd(text, GetParam().lines)).c_str(), 1);
        setenv("LD_PRELOAD", failRead.c_str(), 1);
        // A sanitized guardgen accepts a library loaded before its runtime.
        const char* asan = std::getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":verify_asan_link_order=0").c_str(), 1);
        execGuardgen(dir.dir, "fsm.txt");
    });
    EXPECT_EQ(o.status, 1) << GetParam().lines;
    EXPECT_EQ(o.out, "Soubor fsm.txt otevren...\n");
    EXPECT_EQ(o.err, GetParam().err);
    EXPECT_EQ(readFile(dir.path("fsm.txt")), text);
    EXPECT_EQ(entries(dir.dir), std::vector<std::string>{"fsm.txt"});
}

// The first read, the end of the symbol section, the end of the first row,
// and rows after the first full buffer of the lexer (64 KiB).
INSTANTIATE_TEST_SUITE_P(
    EndToEnd, ReadErrors,
    ::testing::Values(
        ReadFailure{0, "LexError[line=1, column=1]: Chyba pri cteni vstupniho souboru \n"},
        ReadFailure{2, "LexError[line=3, column=0]: Chyba pri cteni vstupniho souboru \n"},
        ReadFailure{3, "LexError[line=4, column=0]: Chyba pri cteni vstupniho souboru \n"},
        ReadFailure{5000, "LexError[line=5001, column=0]: Chyba pri cteni vstupniho souboru \n"}));

// The reads themselves are left alone when they do not fail.
TEST(EndToEnd, ReadShimAloneChangesNothing)
{
    TempDir dir, plain;
    dir.write("fsm.txt", rowsText(8000));
    EXPECT_EQ(generate(plain, "fsm.txt", rowsText(8000)).status, 0);
    Outcome o = runChild([&] {
        setenv("FAIL_READ_AFTER", "1000000000", 1);
        setenv("LD_PRELOAD", failRead.c_str(), 1);
        const char* asan = std::getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":verify_asan_link_order=0").c_str(), 1);
        execGuardgen(dir.dir, "fsm.txt");
    });
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(readFile(dir.path("fsm.vhd")), readFile(plain.path("fsm.vhd")));
}

// A write into a plain file that fails part-way, as on a full disk: the
// file size limit stops the writes there (SIGXFSZ ignored, so write()
// returns EFBIG instead of ending the process). No partial checker may stay.
TEST(EndToEnd, WriteFailingPartWayLeavesNoFile)
{
    TempDir reference;
    std::string text = rowsText(30000);
    ASSERT_EQ(generate(reference, "fsm.txt", text).status, 0);
    off_t size = static_cast<off_t>(readFile(reference.path("fsm.vhd")).size());
    ASSERT_GT(size, (2 << 20) + 1); // more than two flushes of the output buffer
    // Inside the first flush, at its end, just after it, one byte short of all.
    for (off_t limit : {off_t(4096), off_t(1 << 20), off_t((1 << 20) + 1), size - 1}) {
        TempDir dir;
        dir.write("fsm.txt", text);
        Outcome o = runChild([&] {
            struct rlimit cap = {static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
            if (setrlimit(RLIMIT_FSIZE, &cap) != 0)
                _exit(125);
            std::signal(SIGXFSZ, SIG_IGN);
            execGuardgen(dir.dir, "fsm.txt");
        });
        EXPECT_EQ(o.status, 1) << limit;
        EXPECT_EQ(o.out, transcript("fsm.txt"));
        EXPECT_EQ(o.err, "SyntError[line=30003, column=1]: Nelze zapsat vystupni soubor\n") << limit;
        EXPECT_EQ(entries(dir.dir), std::vector<std::string>{"fsm.txt"}) << limit;
    }
}

// Every example a designer may start from must make a checker GHDL accepts.
TEST(Examples, AllMakeValidCheckers)
{
    DIR* d = opendir(examplesDir.c_str());
    ASSERT_NE(d, nullptr);
    int count = 0;
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name.size() < 5 || name.substr(name.size() - 4) != ".txt")
            continue;
        TempDir dir;
        Outcome o = generate(dir, name, readFile(examplesDir + "/" + name));
        EXPECT_EQ(o.status, 0) << name << ": " << o.err;
        EXPECT_TRUE(ghdlAccepts(dir.path(name.substr(0, name.size() - 4) + ".vhd")));
        count++;
    }
    closedir(d);
    EXPECT_GE(count, 3);
}

} // namespace
