#include "TemporaryHome.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include <sys/stat.h>

TemporaryHome::TemporaryHome()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "orvane-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary directory");
    m_root = pattern;
    std::filesystem::create_directories(configHome());
    std::filesystem::create_directories(dataHome());
    std::filesystem::create_directories(runtimeDirectory());
    ::chmod(runtimeDirectory().c_str(), 0700);

    setVariable("HOME", m_root.string());
    setVariable("XDG_CONFIG_HOME", configHome().string());
    setVariable("XDG_DATA_HOME", dataHome().string());
    setVariable("XDG_RUNTIME_DIR", runtimeDirectory().string());
}

TemporaryHome::~TemporaryHome()
{
    for (const auto &[name, value] : m_saved) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    std::error_code error;
    std::filesystem::permissions(m_root,
                                 std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add,
                                 error);
    std::filesystem::remove_all(m_root, error);
}

void TemporaryHome::setVariable(const std::string &name, const std::optional<std::string> &value)
{
    if (!m_saved.contains(name)) {
        const char *old = std::getenv(name.c_str());
        m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}
