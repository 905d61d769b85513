#pragma once

#include "TemporaryHome.h"

#include <filesystem>
#include <string>
#include <vector>

// A stand-in for xdg-open, first on PATH for the rest of the test, that writes down each call as
// "<argument count>|<first argument>" instead of opening anything.
class RecordingBrowser
{
public:
    explicit RecordingBrowser(TemporaryHome &home);

    std::vector<std::string> calls() const;

private:
    std::filesystem::path m_record;
};
