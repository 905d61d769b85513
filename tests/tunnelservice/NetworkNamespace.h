#pragma once

#include <string>
#include <vector>

// Moves the test's thread into a fresh network namespace and back to its own at the end.
// Namespaces belong to threads: programs started from this thread run inside it too.
class NetworkNamespace
{
public:
    NetworkNamespace();
    ~NetworkNamespace();

    NetworkNamespace(const NetworkNamespace &) = delete;
    NetworkNamespace &operator=(const NetworkNamespace &) = delete;

    bool entered() const { return m_original >= 0; }
    // Why not, when not.
    const std::string &reason() const { return m_reason; }

private:
    int m_original = -1;
    std::string m_reason;
};

struct ProgramResult
{
    int exitStatus = -1;
    std::string output;
};

// Runs a program found on PATH, without a shell, and collects its standard output.
ProgramResult runProgram(const std::vector<std::string> &arguments);
