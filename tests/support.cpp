#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static std::string makeTempDir()
{
    char pattern[] = "/tmp/guardgen-test-XXXXXX";
    if (!mkdtemp(pattern))
        std::abort();
    return pattern;
}

TempDir::TempDir() : dir(makeTempDir()) {}

static int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return std::remove(path);
}

// Removed in place, children first and links not followed: a shell per
// directory would cost more than most tests.
TempDir::~TempDir()
{
    if (nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS) != 0)
        std::fprintf(stderr, "could not remove %s\n", dir.c_str());
}

std::string TempDir::write(const std::string& name, const std::string& text) const
{
    std::ofstream(path(name), std::ios::binary) << text;
    return path(name);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Output goes to files, not pipes, so that a child can write any amount.
Outcome runChild(const std::function<void()>& body)
{
    TempDir capture;
    std::string outPath = capture.path("out"), errPath = capture.path("err");
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        body();
        std::fflush(nullptr);
        _exit(0);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    Outcome result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

Outcome runProgram(const std::vector<std::string>& argv, const std::string& cwd)
{
    return runChild([&] {
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        execv(args[0], args.data());
        _exit(127);
    });
}

const char* const twoStatesDescription = "@\n"
                                          "X0 = A == 0;\n"
                                          "X1 = A == 1 AND B == 0;\n"
                                          "#\n"
                                          "(S0, X1) : S1;\n"
                                          "(S1, X0) : S0;\n"
                                          "(S1, X1) : S1;\n";
