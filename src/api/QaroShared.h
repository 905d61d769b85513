#pragma once

#include "platform/PropertyValue.h"

#include <any>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

// What the application hands to its tunnel provider, a separate process of the same application
// group: a small key-value store in the group's preferences and files in the group's shared
// container. Every value is on disk when setValue returns, so a provider started next reads it.
class QaroShared
{
public:
    static constexpr const char *groupIdentifier = "group.com.qaromac.wv";
    static constexpr const char *subUuidKey = "qaro_sub_uuid";
    static constexpr const char *nodeNameKey = "qaro_node_name";
    static constexpr const char *tunModeKey = "qaro_tun_mode";

    // Containers of values setValue takes; their members are checked like single values.
    using Dictionary = std::map<std::string, std::any>;
    using List = std::vector<std::any>;

    // Where the group's container is; nothing when it is unavailable.
    using ContainerLocator = std::function<std::optional<std::filesystem::path>()>;

    // The one instance of the application, on the platform's group container.
    static QaroShared &shared();

    explicit QaroShared(ContainerLocator container);

    std::optional<Platform::PropertyValue> value(const std::string &key) const;
    // The value when it is a text; nothing otherwise.
    std::optional<std::string> string(const std::string &key) const;
    // The routing mode the user chose, "rule" when none is stored.
    std::string tunMode() const;

    // Takes, in this order: std::string (or const char *, std::string_view), integers, bool,
    // double, float, Platform::Data, Dictionary and List. Any other type is refused with a line
    // naming it on standard output, and nothing is written.
    void setValue(const std::string &key, const std::any &value) const;

    // A directory of the container (the container itself for an empty subpath), created with
    // mode 0755 when missing. Subpaths that climb out of the container are refused.
    std::optional<std::filesystem::path> sharedDirectory(const std::string &subpath) const;
    std::optional<std::filesystem::path> sharedFileUrl(const std::string &fileName,
                                                       const std::string &subpath) const;
    bool fileExists(const std::string &fileName, const std::string &subpath) const;

    // Copies a file into a directory of the container (mode 0644) and returns where it went.
    // Without overwrite an existing copy is returned untouched. File-system errors go to error.
    std::optional<std::filesystem::path> copyToShared(const std::filesystem::path &source,
                                                      const std::string &subpath,
                                                      bool overwrite,
                                                      std::error_code &error) const;

private:
    ContainerLocator m_container;
};
