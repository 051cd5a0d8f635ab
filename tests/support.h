// Helpers shared by the test suites: temporary files and child processes
// whose exit status and output are captured byte for byte.
#ifndef GUARDGEN_TEST_SUPPORT_H
#define GUARDGEN_TEST_SUPPORT_H

#include <functional>
#include <string>
#include <vector>

struct Outcome {
    int status = -1; // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// A fresh directory that is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return dir + "/" + name; }
    std::string write(const std::string& name, const std::string& text) const;
    const std::string dir;
};

// The description whose checker is stored as data/two_states.vhd.
extern const char* const twoStatesDescription;

std::string readFile(const std::string& path);
bool exists(const std::string& path);

// Runs body in a forked child; a body that returns exits with status 0.
Outcome runChild(const std::function<void()>& body);

// Runs a program in the directory cwd.
Outcome runProgram(const std::vector<std::string>& argv, const std::string& cwd);

#endif
