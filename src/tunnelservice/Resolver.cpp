#include "Resolver.h"

#include "ChildProcess.h"
#include "platform/FileOperations.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string_view>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace TunnelService {

namespace {

namespace fs = std::filesystem;

std::error_code lastError()
{
    return {errno, std::generic_category()};
}

std::string nameserverLines(const std::vector<IpPrefix> &servers)
{
    std::string lines;
    for (const IpPrefix &server : servers)
        lines += "nameserver " + server.addressText() + "\n";
    return lines;
}

bool pointsAtResolved(const fs::path &resolvConf)
{
    std::error_code error;
    const std::string target = fs::read_symlink(resolvConf, error).string();
    if (!error
        && (target.ends_with("/run/systemd/resolve/stub-resolv.conf")
            || target.ends_with("/run/systemd/resolve/resolv.conf")))
        return true;
    std::string contents;
    if (Platform::readFile(resolvConf, contents))
        return false;
    std::vector<std::string> servers;
    std::istringstream lines(contents);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string keyword, address;
        if (words >> keyword >> address && keyword == "nameserver")
            servers.push_back(address);
    }
    return servers.size() == 1 && servers.front() == "127.0.0.53";
}

std::optional<fs::path> findProgram(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::string_view directories = path ? path : "";
    while (!directories.empty()) {
        const std::size_t colon = directories.find(':');
        const std::string_view directory = directories.substr(0, colon);
        directories.remove_prefix(colon == std::string_view::npos ? directories.size() : colon + 1);
        // An empty entry would mean the working directory: never for a root service.
        if (directory.empty())
            continue;
        const fs::path candidate = fs::path(directory) / name;
        struct stat status;
        if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode)
            && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    { }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }

private:
    int m_fd;
};

// Runs a program found on PATH, without a shell, with input on its standard input; what it
// prints goes into error when it fails.
std::error_code runProgram(const std::vector<std::string> &arguments,
                           std::string_view input,
                           std::string &error)
{
    const std::optional<fs::path> program = findProgram(arguments.front());
    if (!program) {
        error = arguments.front() + " is not installed";
        return std::make_error_code(std::errc::no_such_file_or_directory);
    }
    // Memory files rather than pipes: nothing to block on, no SIGPIPE.
    const FileDescriptor in(::memfd_create("input", MFD_CLOEXEC));
    const FileDescriptor out(::memfd_create("output", MFD_CLOEXEC));
    std::error_code result;
    if (in.get() < 0 || out.get() < 0)
        result = lastError();
    if (!result)
        result = Platform::writeAll(in.get(), input);
    if (!result && ::lseek(in.get(), 0, SEEK_SET) < 0)
        result = lastError();
    if (result) {
        error = "cannot pass the input to " + arguments.front() + ": " + result.message();
        return result;
    }

    const pid_t pid = spawnChild(*program, arguments, in.get(), out.get(), error);
    if (pid < 0)
        return std::make_error_code(std::errc::io_error);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            result = lastError();
            error = "cannot wait for " + program->string() + ": " + result.message();
            return result;
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    char printed[2048];
    const ssize_t length = ::pread(out.get(), printed, sizeof printed, 0);
    std::string output(printed, std::size_t(std::max<ssize_t>(length, 0)));
    while (!output.empty() && (output.back() == '\n' || output.back() == ' '))
        output.pop_back();
    error = program->string() + " failed" + (output.empty() ? "" : ": " + output);
    return std::make_error_code(std::errc::io_error);
}

// Replaces the resolver file as one step. A bind-mounted file cannot be renamed over (EBUSY):
// that one is rewritten where it is, never through a symbolic link.
std::error_code replaceFile(const fs::path &file, std::string_view contents)
{
    struct stat status;
    const mode_t mode = ::stat(file.c_str(), &status) == 0 ? status.st_mode & 07777 : 0644;
    const std::error_code error = Platform::writeFileAtomically(file, contents, mode);
    if (error != std::errc::device_or_resource_busy)
        return error;
    const FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0)
        return lastError();
    if (const std::error_code writeError = Platform::writeAll(fd.get(), contents))
        return writeError;
    return ::fsync(fd.get()) == 0 ? std::error_code() : lastError();
}

std::error_code replaceWithSymlink(const fs::path &file, const fs::path &target)
{
    const std::string temporary = file.string() + ".tmp-link";
    ::unlink(temporary.c_str()); // left by a crash
    if (::symlink(target.c_str(), temporary.c_str()) != 0)
        return lastError();
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const std::error_code error = lastError();
        ::unlink(temporary.c_str());
        return error;
    }
    return {};
}

// Keeps what resolvConf is, a file's bytes or a link's target, unless a backup is there already:
// that one holds the state before the tunnel.
std::error_code saveBackup(const fs::path &resolvConf, const fs::path &backup)
{
    struct stat status;
    if (::lstat(backup.c_str(), &status) == 0)
        return {};
    if (errno != ENOENT)
        return lastError();
    if (const std::error_code error = Platform::createDirectories(backup.parent_path(), 0700))
        return error;
    if (::lstat(resolvConf.c_str(), &status) != 0)
        return lastError();
    std::error_code error;
    if (S_ISLNK(status.st_mode)) {
        const fs::path target = fs::read_symlink(resolvConf, error);
        return error ? error : replaceWithSymlink(backup, target);
    }
    std::string contents;
    error = Platform::readFile(resolvConf, contents);
    return error ? error : Platform::writeFileAtomically(backup, contents, 0600);
}

std::error_code restoreBackup(const fs::path &resolvConf, const fs::path &backup)
{
    struct stat status;
    if (::lstat(backup.c_str(), &status) != 0)
        return errno == ENOENT ? std::error_code() : lastError();
    std::error_code error;
    if (S_ISLNK(status.st_mode)) {
        const fs::path target = fs::read_symlink(backup, error);
        if (!error)
            error = replaceWithSymlink(resolvConf, target);
    } else {
        std::string contents;
        error = Platform::readFile(backup, contents);
        if (!error)
            error = replaceFile(resolvConf, contents);
    }
    if (!error && ::unlink(backup.c_str()) != 0 && errno != ENOENT)
        error = lastError();
    return error;
}

using Bus = std::unique_ptr<sd_bus, decltype(&sd_bus_flush_close_unref)>;
using BusMessage = std::unique_ptr<sd_bus_message, decltype(&sd_bus_message_unref)>;

Bus openSystemBus(std::error_code &result, std::string &error)
{
    sd_bus *bus = nullptr;
    const int opened = sd_bus_open_system(&bus);
    if (opened < 0) {
        result = {-opened, std::generic_category()};
        error = "cannot connect to the system bus: " + result.message();
    }
    return Bus(bus, &sd_bus_flush_close_unref);
}

// Calls a method of resolved's manager that takes the link's index first, then what append
// adds. With goneIsDone, a link or a service that is not there counts as success.
std::error_code callResolved(sd_bus *bus,
                             const char *method,
                             int linkIndex,
                             const std::function<int(sd_bus_message *)> &append,
                             bool goneIsDone,
                             std::string &error)
{
    sd_bus_message *created = nullptr;
    int result = sd_bus_message_new_method_call(bus,
                                                &created,
                                                "org.freedesktop.resolve1",
                                                "/org/freedesktop/resolve1",
                                                "org.freedesktop.resolve1.Manager",
                                                method);
    const BusMessage message(created, &sd_bus_message_unref);
    if (result >= 0)
        result = sd_bus_message_append(created, "i", linkIndex);
    if (result >= 0 && append)
        result = append(created);
    sd_bus_error answer = SD_BUS_ERROR_NULL;
    if (result >= 0)
        result = sd_bus_call(bus, created, 0, &answer, nullptr);
    const bool gone = sd_bus_error_has_name(&answer, "org.freedesktop.resolve1.NoSuchLink")
                      || sd_bus_error_has_name(&answer, SD_BUS_ERROR_SERVICE_UNKNOWN)
                      || sd_bus_error_has_name(&answer, SD_BUS_ERROR_NAME_HAS_NO_OWNER);
    std::error_code code;
    if (result < 0 && !(goneIsDone && gone)) {
        code = {-result, std::generic_category()};
        error = std::string("systemd-resolved: ") + method + ": "
                + (answer.message ? answer.message : code.message());
    }
    sd_bus_error_free(&answer);
    return code;
}

std::error_code applyResolved(int linkIndex,
                              const std::vector<IpPrefix> &servers,
                              std::string &error)
{
    std::error_code result;
    const Bus bus = openSystemBus(result, error);
    if (result)
        return result;
    const auto addServers = [&](sd_bus_message *message) {
        int appended = sd_bus_message_open_container(message, 'a', "(iay)");
        for (const IpPrefix &server : servers) {
            if (appended >= 0)
                appended = sd_bus_message_open_container(message, 'r', "iay");
            if (appended >= 0)
                appended = sd_bus_message_append(message, "i", server.family);
            if (appended >= 0) {
                appended = sd_bus_message_append_array(message,
                                                       'y',
                                                       server.bytes.data(),
                                                       server.byteCount());
            }
            if (appended >= 0)
                appended = sd_bus_message_close_container(message);
        }
        return appended >= 0 ? sd_bus_message_close_container(message) : appended;
    };
    // "~." makes the link the one for every name, not only for its own domains.
    const auto addRoutingDomain = [](sd_bus_message *message) {
        return sd_bus_message_append(message, "a(sb)", 1, "~.", 1);
    };
    const auto addTrue = [](sd_bus_message *message) {
        return sd_bus_message_append(message, "b", 1);
    };
    result = callResolved(bus.get(), "SetLinkDNS", linkIndex, addServers, false, error);
    if (!result)
        result = callResolved(bus.get(), "SetLinkDomains", linkIndex, addRoutingDomain, false, error);
    if (!result)
        result = callResolved(bus.get(), "SetLinkDefaultRoute", linkIndex, addTrue, false, error);
    return result;
}

std::error_code restoreResolved(int linkIndex, std::string &error)
{
    std::error_code result;
    const Bus bus = openSystemBus(result, error);
    return result ? result : callResolved(bus.get(), "RevertLink", linkIndex, {}, true, error);
}

} // namespace

Resolver::Backend Resolver::detect(const fs::path &resolvConf)
{
    if (pointsAtResolved(resolvConf))
        return Backend::resolved;
    return findProgram("resolvconf") ? Backend::resolvconf : Backend::file;
}

Resolver::Applied Resolver::plan(Backend backend,
                                 const std::string &interface,
                                 int linkIndex,
                                 const fs::path &resolvConf,
                                 const fs::path &stateDirectory)
{
    return Applied{backend, interface, linkIndex, resolvConf, stateDirectory / "resolv.conf.backup"};
}

std::error_code Resolver::apply(const Applied &plan,
                                const std::vector<IpPrefix> &servers,
                                std::string &error)
{
    if (servers.empty()) {
        error = "no DNS servers to use";
        return std::make_error_code(std::errc::invalid_argument);
    }
    switch (plan.backend) {
    case Backend::resolved:
        return applyResolved(plan.linkIndex, servers, error);
    case Backend::resolvconf:
        return runProgram({"resolvconf", "-a", plan.interface, "-m", "0", "-x"},
                          nameserverLines(servers),
                          error);
    case Backend::file:
        break;
    }
    if (const std::error_code saved = saveBackup(plan.resolvConf, plan.backup)) {
        error = "cannot keep a backup of " + plan.resolvConf.string() + " in "
                + plan.backup.string() + ": " + saved.message();
        return saved;
    }
    const std::error_code written = replaceFile(plan.resolvConf,
                                                "# written by OrvaneVPN's tunnel service\n"
                                                    + nameserverLines(servers));
    if (written)
        error = "cannot write " + plan.resolvConf.string() + ": " + written.message();
    return written;
}

std::error_code Resolver::restore(const Applied &applied, std::string &error)
{
    switch (applied.backend) {
    case Backend::resolved:
        return restoreResolved(applied.linkIndex, error);
    case Backend::resolvconf:
        return runProgram({"resolvconf", "-d", applied.interface, "-f"}, {}, error);
    case Backend::file:
        break;
    }
    const std::error_code restored = restoreBackup(applied.resolvConf, applied.backup);
    if (restored) {
        error = "cannot restore " + applied.resolvConf.string() + " from " + applied.backup.string()
                + ": " + restored.message();
    }
    return restored;
}

} // namespace TunnelService
