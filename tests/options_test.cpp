// The command line of the executable: every option alone and together, the
// paths the options decide, and the command lines that are refused. The
// checker must be byte for byte the one a run without options writes.
#include "support.h"

#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string guardgen = GUARDGEN;
const std::string testsDir = TESTS_DIR;
const std::string sourceDir = SOURCE_DIR;
const std::string version = VERSION;

// Lint-clean (every state reachable, every row can fire, every symbol used),
// so that --lint adds no finding and keeps exit status 0.
const char* const fsmText = twoStatesDescription;

std::string checker()
{
    return readFile(testsDir + "/data/two_states.vhd");
}

std::string transcript(const std::string& path)
{
    return "Soubor " + path + " otevren...\nVstupni soubor zpracovan...\nSoubor " + path +
           " zavren...";
}

std::string usage()
{
    return "Pouziti :\n" + guardgen + " <file>";
}

// Every entry under dir, recursively: a file with its bytes, a link with
// its target, a directory as such. Two equal snapshots: nothing was touched.
std::map<std::string, std::string> snapshot(const std::string& dir, const std::string& prefix = "")
{
    std::map<std::string, std::string> entries;
    DIR* d = opendir(dir.c_str());
    while (dirent* entry = d ? readdir(d) : nullptr) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = dir + "/" + name, key = prefix + name;
        struct stat st;
        lstat(path.c_str(), &st);
        if (S_ISLNK(st.st_mode)) {
            char target[4096] = {};
            ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
            entries[key] = "link:" + std::string(target, n > 0 ? n : 0);
        } else if (S_ISDIR(st.st_mode)) {
            entries[key] = "dir";
            for (auto& inner : snapshot(path, key + "/"))
                entries.insert(inner);
        } else {
            entries[key] = "file:" + readFile(path);
        }
    }
    if (d)
        closedir(d);
    return entries;
}

// A directory with the description and an empty subdirectory "out".
struct Workspace {
    TempDir dir;
    explicit Workspace(const std::string& name = "fsm.txt")
    {
        dir.write(name, fsmText);
        mkdir(dir.path("out").c_str(), 0700);
    }
};

Outcome run(const Workspace& w, std::vector<std::string> args)
{
    args.insert(args.begin(), guardgen);
    return runProgram(args, w.dir.dir);
}

// Both channels into one stream, to see what comes first.
std::string merged(const Workspace& w, std::vector<std::string> args)
{
    args.insert(args.begin(), guardgen);
    return runChild([&] {
               std::vector<char*> argv;
               for (const std::string& arg : args)
                   argv.push_back(const_cast<char*>(arg.c_str()));
               argv.push_back(nullptr);
               if (dup2(1, 2) < 0 || chdir(w.dir.dir.c_str()) != 0)
                   _exit(126);
               execv(argv[0], argv.data());
               _exit(127);
           })
        .out;
}

std::string show(const std::vector<std::string>& args)
{
    std::string text;
    for (const std::string& arg : args)
        text += " [" + arg + "]";
    return text;
}

// ---------------------------------------------------------------------------
// Runs that write

struct RunCase {
    std::vector<std::string> args;
    const char* input;   // the description's name
    const char* checker; // nullptr: no checker (--lint alone)
    // What the writers of the other options may add; they need not, since
    // their content is theirs to test, but nothing else may appear.
    std::vector<std::string> extras;
};

class Runs : public ::testing::TestWithParam<RunCase> {};

TEST_P(Runs, WriteTheSameCheckerWhereTheOptionsSay)
{
    const RunCase& c = GetParam();
    Workspace w(c.input);
    Outcome o = run(w, c.args);
    EXPECT_EQ(o.status, 0) << show(c.args) << "\n" << o.err;
    EXPECT_EQ(o.out, transcript(c.input));
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(readFile(w.dir.path(c.input)), fsmText);
    std::set<std::string> allowed = {c.input, "out"};
    if (c.checker) {
        EXPECT_EQ(readFile(w.dir.path(c.checker)), checker()) << show(c.args);
        allowed.insert(c.checker);
    }
    allowed.insert(c.extras.begin(), c.extras.end());
    for (auto& entry : snapshot(w.dir.dir))
        EXPECT_TRUE(allowed.count(entry.first)) << show(c.args) << " wrote " << entry.first;
}

INSTANTIATE_TEST_SUITE_P(
    Options, Runs,
    ::testing::Values(
        RunCase{{"fsm.txt"}, "fsm.txt", "fsm.vhd", {}},
        RunCase{{"-o", "out/guard.vhd", "fsm.txt"}, "fsm.txt", "out/guard.vhd", {}},
        RunCase{{"fsm.txt", "--output", "out/guard.vhd"}, "fsm.txt", "out/guard.vhd", {}},
        RunCase{{"--output=out/guard.vhd", "fsm.txt"}, "fsm.txt", "out/guard.vhd", {}},
        RunCase{{"-oout/guard.vhd", "fsm.txt"}, "fsm.txt", "out/guard.vhd", {}},
        RunCase{{"-o", "guard", "fsm.txt"}, "fsm.txt", "guard", {}},
        RunCase{{"--lint", "fsm.txt"}, "fsm.txt", nullptr, {}},
        RunCase{{"fsm.txt", "--lint", "-o", "g.vhd"}, "fsm.txt", "g.vhd", {}},
        RunCase{{"--dot", "fsm.txt"}, "fsm.txt", "fsm.vhd", {"fsm.dot"}},
        RunCase{{"--testbench", "fsm.txt"}, "fsm.txt", "fsm.vhd", {"fsm_tb.vhd"}},
        RunCase{{"fsm.txt", "--verilog"}, "fsm.txt", "fsm.vhd", {"fsm.v"}},
        RunCase{{"fsm.txt", "--verilog", "--testbench", "--dot"},
                "fsm.txt",
                "fsm.vhd",
                {"fsm.dot", "fsm_tb.vhd", "fsm.v"}},
        RunCase{{"--lint", "--dot", "--testbench", "--verilog", "-o", "out/g.vhd", "fsm.txt"},
                "fsm.txt",
                "out/g.vhd",
                {"out/g.dot", "out/g_tb.vhd", "out/g.v"}},
        RunCase{{"-o", "out/g.x.vhd", "--dot", "fsm.txt"}, "fsm.txt", "out/g.x.vhd", {"out/g.x.dot"}},
        RunCase{{"--verilog", "-o", "dir.old\\g", "fsm.txt"}, "fsm.txt", "dir.old\\g", {"dir.old\\g.v"}},
        // "--" ends the options: descriptions named like options.
        RunCase{{"--", "-x.txt"}, "-x.txt", "-x.vhd", {}},
        RunCase{{"--dot", "--", "-x.txt"}, "-x.txt", "-x.vhd", {"-x.dot"}},
        RunCase{{"--", "--dot"}, "--dot", "--dot.vhd", {}}));

// ---------------------------------------------------------------------------
// Output paths, seen through the check that no output is the description:
// a link to the description put where an output would go must stop the
// run before anything is written. This holds whatever the writers write.

struct LinkCase {
    std::vector<std::string> args;
    const char* link; // a symbolic link to the description, made first
    bool refused;     // is the link one of the outputs?
};

class OutputLinks : public ::testing::TestWithParam<LinkCase> {};

TEST_P(OutputLinks, ToTheDescriptionAreRefused)
{
    const LinkCase& c = GetParam();
    Workspace w;
    ASSERT_EQ(symlink(w.dir.path("fsm.txt").c_str(), w.dir.path(c.link).c_str()), 0);
    auto before = snapshot(w.dir.dir);
    Outcome o = run(w, c.args);
    EXPECT_EQ(o.out, transcript("fsm.txt"));
    if (c.refused) {
        EXPECT_EQ(o.status, 1) << show(c.args);
        EXPECT_EQ(o.err, "SyntError[line=8, column=1]: Nelze prepsat vstupni soubor\n");
        EXPECT_EQ(snapshot(w.dir.dir), before);
    } else {
        EXPECT_EQ(o.status, 0) << show(c.args) << "\n" << o.err;
        EXPECT_EQ(readFile(w.dir.path("fsm.txt")), fsmText);
        EXPECT_EQ(snapshot(w.dir.dir).at(c.link), before.at(c.link));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, OutputLinks,
    ::testing::Values(LinkCase{{"fsm.txt"}, "fsm.vhd", true},
                      LinkCase{{"--dot", "fsm.txt"}, "fsm.dot", true},
                      LinkCase{{"--testbench", "fsm.txt"}, "fsm_tb.vhd", true},
                      LinkCase{{"--verilog", "fsm.txt"}, "fsm.v", true},
                      LinkCase{{"-o", "out/g.vhd", "fsm.txt"}, "out/g.vhd", true},
                      LinkCase{{"-o", "out/g.vhd", "--dot", "fsm.txt"}, "out/g.dot", true},
                      LinkCase{{"-o", "out/g.vhd", "--testbench", "fsm.txt"}, "out/g_tb.vhd", true},
                      LinkCase{{"-o", "out/g.vhd", "--verilog", "fsm.txt"}, "out/g.v", true},
                      LinkCase{{"-o", "g", "--verilog", "fsm.txt"}, "g.v", true},
                      LinkCase{{"-o", "dir.old\\g.vhd", "--dot", "fsm.txt"}, "dir.old\\g.dot", true},
                      LinkCase{{"--lint", "-o", "g.vhd", "fsm.txt"}, "g.vhd", true},
                      // Paths that are no output of the run.
                      LinkCase{{"--lint", "fsm.txt"}, "fsm.vhd", false},
                      LinkCase{{"fsm.txt"}, "fsm.dot", false},
                      LinkCase{{"fsm.txt", "--dot"}, "fsm.v", false},
                      LinkCase{{"-o", "out/g.vhd", "--dot", "fsm.txt"}, "fsm.vhd", false},
                      LinkCase{{"-o", "out/g.vhd", "--dot", "fsm.txt"}, "fsm.dot", false}));

// ---------------------------------------------------------------------------
// Runs refused after reading the description: nothing may change on disk.

struct RefusalCase {
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> links; // path, target ("=x": hard link to x)
    const char* message;                                    // after "SyntError[...]: "
};

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, LeaveEverythingAsItWas)
{
    const RefusalCase& c = GetParam();
    Workspace w;
    w.dir.write("old.v", "old");
    for (auto& [path, target] : c.links) {
        int made = target[0] == '='
                       ? link(w.dir.path(target.substr(1)).c_str(), w.dir.path(path).c_str())
                       : symlink(target.c_str(), w.dir.path(path).c_str());
        ASSERT_EQ(made, 0) << path;
    }
    auto before = snapshot(w.dir.dir);
    Outcome o = run(w, c.args);
    EXPECT_EQ(o.status, 1) << show(c.args);
    EXPECT_EQ(o.out, transcript("fsm.txt"));
    EXPECT_EQ(o.err, "SyntError[line=8, column=1]: " + std::string(c.message) + "\n");
    EXPECT_EQ(snapshot(w.dir.dir), before) << show(c.args);
}

INSTANTIATE_TEST_SUITE_P(
    Options, Refusals,
    ::testing::Values(
        // -o naming the description, however it is spelt.
        RefusalCase{{"-o", "fsm.txt", "fsm.txt"}, {}, "Nelze prepsat vstupni soubor"},
        RefusalCase{{"fsm.txt", "--output=./fsm.txt"}, {}, "Nelze prepsat vstupni soubor"},
        RefusalCase{{"-o", "out/../fsm.txt", "fsm.txt", "--dot"}, {}, "Nelze prepsat vstupni soubor"},
        RefusalCase{{"-o", "hard.vhd", "fsm.txt"}, {{"hard.vhd", "=fsm.txt"}},
                    "Nelze prepsat vstupni soubor"},
        // Two outputs that are one file.
        RefusalCase{{"-o", "old.v", "--verilog", "fsm.txt"}, {}, "Vystupni soubor old.v by byl zapsan dvakrat"},
        RefusalCase{{"--dot", "-o", "x.dot", "fsm.txt"}, {}, "Vystupni soubor x.dot by byl zapsan dvakrat"},
        RefusalCase{{"--dot", "--verilog", "--testbench", "--output=out/x.v", "fsm.txt"}, {},
                    "Vystupni soubor out/x.v by byl zapsan dvakrat"},
        RefusalCase{{"-o", "old.vhd", "--testbench", "fsm.txt"}, {{"old.vhd", "=old.v"}, {"old_tb.vhd", "old.v"}},
                    "Vystupni soubor old_tb.vhd by byl zapsan dvakrat"},
        // Links to a file that no output has made yet.
        RefusalCase{{"-o", "g.vhd", "--dot", "fsm.txt"}, {{"g.dot", "g.vhd"}},
                    "Vystupni soubor g.dot by byl zapsan dvakrat"},
        RefusalCase{{"--verilog", "-o", "g.vhd", "fsm.txt"}, {{"g.vhd", "out/../g.v"}},
                    "Vystupni soubor g.v by byl zapsan dvakrat"},
        // A directory that does not exist.
        RefusalCase{{"-o", "none/g.vhd", "fsm.txt"}, {}, "Nelze otevrit vystupni soubor"},
        // A checker that cannot be created, while the options' files could:
        // none of them is written either.
        RefusalCase{{"-o", "g.vhd", "--dot", "--testbench", "--verilog", "fsm.txt"}, {{"g.vhd", "none/g.vhd"}},
                    "Nelze otevrit vystupni soubor"},
        RefusalCase{{"--dot", "-o", "none/g.vhd", "fsm.txt"}, {}, "Nelze otevrit vystupni soubor"}));

// A checker whose writing fails fails the run, whatever became of the
// files written beside it.
TEST(Options, CheckerThatCannotBeWrittenFailsTheRun)
{
    Workspace w;
    ASSERT_EQ(symlink("/dev/full", w.dir.path("g.vhd").c_str()), 0);
    Outcome o = run(w, {"-o", "g.vhd", "--dot", "--testbench", "--verilog", "fsm.txt"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "SyntError[line=8, column=1]: Nelze zapsat vystupni soubor\n");

    // The other way round: the picture cannot be created, the checker is
    // written all the same, and the run fails.
    Workspace v;
    ASSERT_EQ(mkdir(v.dir.path("g.dot").c_str(), 0700), 0);
    o = run(v, {"-o", "g.vhd", "--dot", "fsm.txt"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "SyntError[line=8, column=1]: Nelze otevrit vystupni soubor\n");
    EXPECT_GT(readFile(v.dir.path("g.vhd")).size(), 0u);
}

// ---------------------------------------------------------------------------
// Bad command lines: the message, then the short usage text; nothing read.

struct ArgErrorCase {
    std::vector<std::string> args;
    int column;
    const char* message;
};

class ArgErrors : public ::testing::TestWithParam<ArgErrorCase> {};

TEST_P(ArgErrors, ReportTheArgumentThenTheUsage)
{
    const ArgErrorCase& c = GetParam();
    Workspace w;
    auto before = snapshot(w.dir.dir);
    std::string report =
        "ArgError[line=0, column=" + std::to_string(c.column) + "]: " + c.message + "\n";
    Outcome o = run(w, c.args);
    EXPECT_EQ(o.status, 1) << show(c.args);
    EXPECT_EQ(o.err, report) << show(c.args);
    EXPECT_EQ(o.out, usage());
    EXPECT_EQ(merged(w, c.args), report + usage());
    EXPECT_EQ(snapshot(w.dir.dir), before);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ArgErrors,
    ::testing::Values(
        ArgErrorCase{{"-x", "fsm.txt"}, 1, "Neznamy prepinac -x"},
        ArgErrorCase{{"fsm.txt", "--bogus"}, 2, "Neznamy prepinac --bogus"},
        ArgErrorCase{{"--out", "g.vhd", "fsm.txt"}, 1, "Neznamy prepinac --out"},
        ArgErrorCase{{"--dot=yes", "fsm.txt"}, 1, "Neznamy prepinac --dot=yes"},
        ArgErrorCase{{"fsm.txt", "-O", "g.vhd"}, 2, "Neznamy prepinac -O"},
        ArgErrorCase{{"-hv", "fsm.txt"}, 1, "Neznamy prepinac -hv"},
        ArgErrorCase{{"--help", "--bogus"}, 2, "Neznamy prepinac --bogus"},
        ArgErrorCase{{"fsm.txt", "-o"}, 2, "Prepinac -o vyzaduje argument"},
        ArgErrorCase{{"fsm.txt", "--output"}, 2, "Prepinac --output vyzaduje argument"},
        ArgErrorCase{{"--output=", "fsm.txt"}, 1, "Prepinac --output vyzaduje argument"},
        ArgErrorCase{{"-o", "", "fsm.txt"}, 2, "Prepinac -o vyzaduje argument"},
        ArgErrorCase{{"-o", "a.vhd", "-o", "b.vhd", "fsm.txt"}, 3, "Prepinac -o je zadan dvakrat"},
        ArgErrorCase{{"-o", "a.vhd", "--output=b.vhd", "fsm.txt"}, 3,
                     "Prepinac --output je zadan dvakrat"},
        ArgErrorCase{{"-o", "a.vhd", "fsm.txt", "-o"}, 4, "Prepinac -o je zadan dvakrat"},
        ArgErrorCase{{"--lint", "fsm.txt", "--lint"}, 3, "Prepinac --lint je zadan dvakrat"},
        ArgErrorCase{{"--dot", "--dot", "fsm.txt"}, 2, "Prepinac --dot je zadan dvakrat"},
        ArgErrorCase{{"--testbench", "--testbench"}, 2, "Prepinac --testbench je zadan dvakrat"},
        ArgErrorCase{{"--verilog", "fsm.txt", "--verilog"}, 3, "Prepinac --verilog je zadan dvakrat"},
        ArgErrorCase{{"--kiss2", "--kiss2", "fsm.txt"}, 2, "Prepinac --kiss2 je zadan dvakrat"},
        ArgErrorCase{{"-h", "--help"}, 2, "Prepinac --help je zadan dvakrat"},
        ArgErrorCase{{"--version", "--version"}, 2, "Prepinac --version je zadan dvakrat"}));

// No description, or more than one, with options: the short usage text alone.
TEST(Options, DescriptionCountIsCheckedAsWithoutOptions)
{
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--dot"}, {"-o", "g.vhd"}, {"--lint", "--"},
          {"fsm.txt", "--", "b.txt"}, {"--dot", "fsm.txt", "fsm.txt"}}) {
        Workspace w;
        auto before = snapshot(w.dir.dir);
        Outcome o = run(w, args);
        EXPECT_EQ(o.status, 1) << show(args);
        EXPECT_EQ(o.out, usage()) << show(args);
        EXPECT_EQ(o.err, "") << show(args);
        EXPECT_EQ(snapshot(w.dir.dir), before);
    }
}

// A description error is reported as without options, and nothing written.
TEST(Options, DescriptionErrorWritesNothing)
{
    Workspace w;
    w.dir.write("bad.txt", "@ # (A, X) : B;");
    auto before = snapshot(w.dir.dir);
    Outcome o = run(w, {"--dot", "--testbench", "--verilog", "--lint", "-o", "out/g.vhd", "bad.txt"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "Soubor bad.txt otevren...\n");
    EXPECT_EQ(o.err, "SyntError[line=1, column=6]: Chyba, prechod X nebyl definovan!\n");
    EXPECT_EQ(snapshot(w.dir.dir), before);
}

// ---------------------------------------------------------------------------
// --help and --version

// The options the parser knows, read from its table in src/options.cpp, so
// that a new option cannot be left out of the help text.
std::vector<std::pair<std::string, std::string>> knownOptions()
{
    std::string source = readFile(sourceDir + "/src/options.cpp");
    size_t start = source.find("optionTable[] = {");
    std::string table = source.substr(start, source.find("};", start) - start);
    std::regex entry(R"re(\{\s*(?:nullptr|"(-[^"]*)")\s*,\s*"(--[^"]*)")re");
    std::vector<std::pair<std::string, std::string>> options;
    for (std::sregex_iterator it(table.begin(), table.end(), entry), end; it != end; ++it)
        options.emplace_back((*it)[1], (*it)[2]);
    return options;
}

TEST(Options, HelpListsEveryOptionOnItsOwnLine)
{
    auto options = knownOptions();
    ASSERT_GE(options.size(), 8u); // the table was found and read
    Workspace w;
    auto before = snapshot(w.dir.dir);
    Outcome o = run(w, {"--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    std::vector<std::string> lines;
    std::istringstream text(o.out);
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    std::string readme = readFile(sourceDir + "/README.md");
    std::string man = readFile(sourceDir + "/man/guardgen.1");
    for (auto& [shortName, longName] : options) {
        int found = 0;
        for (const std::string& line : lines)
            if (line.find(longName) != std::string::npos &&
                (shortName.empty() || line.find(shortName + ",") != std::string::npos))
                found++;
        EXPECT_EQ(found, 1) << longName << " in:\n" << o.out;
        EXPECT_NE(readme.find("`" + longName), std::string::npos) << longName << " in README.md";
        EXPECT_NE(man.find(std::regex_replace(longName, std::regex("-"), "\\-")),
                  std::string::npos)
            << longName << " in the man page";
    }
    EXPECT_EQ(snapshot(w.dir.dir), before);

    // The same text wherever the option stands, and the description is not read.
    for (std::vector<std::string> args : {std::vector<std::string>{"-h"}, {"fsm.txt", "--help"},
                                          {"--dot", "-h", "-o", "out/g.vhd", "fsm.txt"}}) {
        Outcome again = run(w, args);
        EXPECT_EQ(again.status, 0) << show(args);
        EXPECT_EQ(again.out, o.out) << show(args);
        EXPECT_EQ(again.err, "");
        EXPECT_EQ(snapshot(w.dir.dir), before) << show(args);
    }
}

TEST(Options, VersionIsTheProjectVersion)
{
    Workspace w;
    auto before = snapshot(w.dir.dir);
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--version"}, {"fsm.txt", "--version", "--dot"}}) {
        Outcome o = run(w, args);
        EXPECT_EQ(o.status, 0) << show(args);
        EXPECT_EQ(o.out, "guardgen " + version + "\n");
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(snapshot(w.dir.dir), before);
    }
}

} // namespace
