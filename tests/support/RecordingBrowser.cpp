#include "RecordingBrowser.h"

#include <cstdlib>
#include <fstream>

#include <sys/stat.h>

RecordingBrowser::RecordingBrowser(TemporaryHome &home)
    : m_record(home.root() / "browser-calls.txt")
{
    const auto bin = home.root() / "browser-bin";
    std::filesystem::create_directories(bin);
    std::ofstream(bin / "xdg-open")
        << "#!/bin/sh\nprintf '%s|%s\\n' \"$#\" \"$1\" >> '" + m_record.string() + "'\n";
    ::chmod((bin / "xdg-open").c_str(), 0755);
    const char *path = std::getenv("PATH");
    home.setVariable("PATH", bin.string() + (path ? std::string(":") + path : std::string()));
}

std::vector<std::string> RecordingBrowser::calls() const
{
    std::vector<std::string> lines;
    std::ifstream record(m_record);
    for (std::string line; std::getline(record, line);)
        lines.push_back(line);
    return lines;
}
