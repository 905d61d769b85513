#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

// A fresh home for one test: XDG config, data and runtime directories in a new temporary
// directory, set in this process's environment (and handed to children) until destruction,
// when the old environment comes back and the directory goes.
class TemporaryHome
{
public:
    TemporaryHome();
    ~TemporaryHome();

    TemporaryHome(const TemporaryHome &) = delete;
    TemporaryHome &operator=(const TemporaryHome &) = delete;

    const std::filesystem::path &root() const { return m_root; }
    std::filesystem::path configHome() const { return m_root / "config"; }
    std::filesystem::path dataHome() const { return m_root / "data"; }
    std::filesystem::path runtimeDirectory() const { return m_root / "runtime"; }

    // Sets a variable for the rest of the test; it is restored with the others.
    void setVariable(const std::string &name, const std::optional<std::string> &value);

private:
    std::filesystem::path m_root;
    std::map<std::string, std::optional<std::string>> m_saved;
};
