#include "SystemVPNService.h"

#include "Bundle.h"
#include "Dispatch.h"
#include "FileOperations.h"
#include "Log.h"
#include "PropertyValue.h"
#include "ProviderSession.h"
#include "Uuid.h"
#include "XdgDirectories.h"

#include <fstream>
#include <iterator>

#include <unistd.h>

namespace Platform {

namespace {

constexpr const char logCategory[] = "SystemVPNService";

nlohmann::json encodeProtocol(const VPNProtocol &protocol)
{
    nlohmann::json encoded = {{"kind",
                               protocol.kind == VPNProtocol::Kind::tunnelProvider ? "tunnelProvider"
                                                                                  : "other"},
                              {"disconnectOnSleep", protocol.disconnectOnSleep}};
    if (protocol.providerBundleIdentifier)
        encoded["providerBundleIdentifier"] = *protocol.providerBundleIdentifier;
    if (protocol.serverAddress)
        encoded["serverAddress"] = *protocol.serverAddress;
    if (protocol.providerConfiguration)
        encoded["providerConfiguration"] = PropertyFile::encode(*protocol.providerConfiguration);
    return encoded;
}

bool flag(const nlohmann::json &object, const char *name)
{
    const auto member = object.find(name);
    return member != object.end() && member->is_boolean() && member->get<bool>();
}

std::optional<VPNProtocol> decodeProtocol(const nlohmann::json &encoded)
{
    if (!encoded.is_object())
        return std::nullopt;
    VPNProtocol protocol;
    protocol.kind = stringMember(encoded, "kind") == "tunnelProvider"
                        ? VPNProtocol::Kind::tunnelProvider
                        : VPNProtocol::Kind::other;
    protocol.providerBundleIdentifier = stringMember(encoded, "providerBundleIdentifier");
    protocol.serverAddress = stringMember(encoded, "serverAddress");
    protocol.disconnectOnSleep = flag(encoded, "disconnectOnSleep");
    if (const auto configuration = encoded.find("providerConfiguration");
        configuration != encoded.end() && configuration->is_object())
        protocol.providerConfiguration = PropertyFile::decode(*configuration);
    return protocol;
}

nlohmann::json encode(const TunnelProviderManager &manager)
{
    nlohmann::json record = {{"identifier", manager.identifier()},
                             {"enabled", manager.isEnabled},
                             {"onDemandEnabled", manager.isOnDemandEnabled},
                             {"protocol", nullptr}};
    if (manager.localizedDescription)
        record["localizedDescription"] = *manager.localizedDescription;
    if (manager.protocolConfiguration)
        record["protocol"] = encodeProtocol(*manager.protocolConfiguration);
    return record;
}

void decodeInto(const nlohmann::json &record, TunnelProviderManager &manager)
{
    manager.localizedDescription = stringMember(record, "localizedDescription");
    manager.isEnabled = flag(record, "enabled");
    manager.isOnDemandEnabled = flag(record, "onDemandEnabled");
    manager.protocolConfiguration = decodeProtocol(record.value("protocol", nlohmann::json()));
}

} // namespace

// The configurations file: {"configurations": [record, ...]} in the order first saved.
struct SystemVPNService::Stored
{
    nlohmann::json configurations = nlohmann::json::array();

    nlohmann::json *find(const std::string &identifier)
    {
        for (auto &record : configurations) {
            if (stringMember(record, "identifier") == identifier)
                return &record;
        }
        return nullptr;
    }
};

std::optional<SystemVPNService::Paths> SystemVPNService::standardPaths()
{
    const auto data = XdgDirectories::dataHome();
    const auto runtime = XdgDirectories::runtimeDirectory();
    if (!data || !runtime)
        return std::nullopt;
    const auto system = *data / "com.qaromac.wv" / "system";
    return Paths{system / "vpn-configurations.json",
                 system / "SystemExtensions",
                 *runtime / "com.qaromac.wv"};
}

std::shared_ptr<VPNService> SystemVPNService::shared()
{
    static const auto service = std::make_shared<SystemVPNService>(standardPaths());
    return service;
}

SystemVPNService::SystemVPNService(std::optional<Paths> paths)
    : m_paths(std::move(paths))
{ }

SystemVPNService::~SystemVPNService() = default;

std::optional<SystemVPNService::Stored> SystemVPNService::read(std::optional<VPNError> &error) const
{
    if (!m_paths) {
        error = VPNErrors::configurationReadWriteFailed("找不到用户数据目录。");
        return std::nullopt;
    }
    std::ifstream stream(m_paths->configurations);
    if (!stream)
        return Stored{};
    const std::string contents(std::istreambuf_iterator<char>(stream), {});
    const auto parsed = nlohmann::json::parse(contents, nullptr, false);
    if (parsed.is_object() && parsed.contains("configurations")
        && parsed["configurations"].is_array())
        return Stored{parsed["configurations"]};

    // A damaged file is kept for inspection; the application starts over with no configuration.
    std::error_code moveError;
    const auto aside = moveAside(m_paths->configurations, moveError);
    Log::system(LogLevel::Error,
                logCategory,
                m_paths->configurations.string() + " does not parse; "
                    + (aside ? "kept as " + aside->string() : "it stays: " + moveError.message()));
    return Stored{};
}

std::optional<VPNError> SystemVPNService::write(const Stored &stored) const
{
    std::error_code error = createDirectories(m_paths->configurations.parent_path(), 0700);
    if (!error)
        error = writeFileAtomically(m_paths->configurations,
                                    nlohmann::json({{"configurations", stored.configurations}})
                                            .dump(4)
                                        + "\n",
                                    0600);
    if (error)
        return VPNErrors::configurationReadWriteFailed(error.message());
    return std::nullopt;
}

void SystemVPNService::loadAllFromPreferences(LoadAllCompletion completion)
{
    std::optional<VPNError> error;
    Managers managers;
    if (auto stored = read(error)) {
        for (const auto &record : stored->configurations) {
            const auto identifier = stringMember(record, "identifier");
            if (!identifier || identifier->empty())
                continue;
            auto manager = std::make_shared<TunnelProviderManager>(weak_from_this(), *identifier);
            decodeInto(record, *manager);
            session(*identifier);
            managers.push_back(std::move(manager));
        }
    }
    mainQueue().async(
        [completion = std::move(completion), managers, error] { completion(managers, error); });
}

void SystemVPNService::save(const std::shared_ptr<TunnelProviderManager> &manager,
                            TunnelProviderManager::Completion completion)
{
    std::optional<VPNError> error;
    auto stored = read(error);
    if (stored && !manager->protocolConfiguration)
        error = VPNErrors::configurationInvalid();
    if (stored && !error) {
        const std::string identifier = manager->identifier().empty() ? makeUuid()
                                                                     : manager->identifier();
        nlohmann::json encoded = encode(*manager);
        encoded["identifier"] = identifier;
        if (auto *record = stored->find(identifier))
            *record = std::move(encoded);
        else
            stored->configurations.push_back(std::move(encoded));
        error = write(*stored);
        if (!error)
            manager->setIdentifier(identifier);
    }
    mainQueue().async([completion = std::move(completion), error] { completion(error); });
}

void SystemVPNService::load(const std::shared_ptr<TunnelProviderManager> &manager,
                            TunnelProviderManager::Completion completion)
{
    std::optional<VPNError> error;
    auto stored = read(error);
    if (stored) {
        const nlohmann::json *record = manager->identifier().empty()
                                           ? nullptr
                                           : stored->find(manager->identifier());
        if (record) {
            decodeInto(*record, *manager);
            session(manager->identifier());
        } else {
            error = manager->identifier().empty() ? VPNErrors::configurationInvalid()
                                                  : VPNErrors::configurationStale();
        }
    }
    mainQueue().async([completion = std::move(completion), error] { completion(error); });
}

std::shared_ptr<VPNConnection> SystemVPNService::connection(const TunnelProviderManager &manager)
{
    if (manager.identifier().empty() || !m_paths) {
        // A configuration that was never saved has a connection that cannot start.
        return std::make_shared<ProviderSession>(std::filesystem::path(), [] {
            return ProviderSession::Launch{VPNErrors::configurationInvalid(), {}};
        });
    }
    return session(manager.identifier());
}

std::shared_ptr<ProviderSession> SystemVPNService::session(const std::string &identifier)
{
    auto &session = m_sessions[identifier];
    if (session)
        return session;

    const Paths paths = *m_paths;
    std::weak_ptr<VPNService> weakService = weak_from_this();
    auto check = [this, weakService, paths, identifier]() -> ProviderSession::Launch {
        if (weakService.expired())
            return {VPNErrors::serviceGone(), {}};
        std::optional<VPNError> error;
        auto stored = read(error);
        if (!stored)
            return {error, {}};
        const nlohmann::json *record = stored->find(identifier);
        if (!record)
            return {VPNErrors::configurationStale(), {}};
        TunnelProviderManager manager(weakService, identifier);
        decodeInto(*record, manager);
        if (!manager.isEnabled)
            return {VPNErrors::configurationDisabled(), {}};
        const auto &protocol = manager.protocolConfiguration;
        if (!protocol || protocol->kind != VPNProtocol::Kind::tunnelProvider
            || !protocol->providerBundleIdentifier)
            return {VPNErrors::configurationInvalid(), {}};
        const Bundle extension(paths.installedExtensions
                               / (*protocol->providerBundleIdentifier + ".systemextension"));
        const auto program = extension.executableName();
        const auto executable = extension.bundlePath() / "Contents" / "bin"
                                / program.value_or(std::string());
        if (!program || program->empty() || ::access(executable.c_str(), X_OK) != 0)
            return {VPNErrors::configurationInvalid("找不到已安装的隧道扩展。"), {}};
        if (createDirectories(paths.sockets, 0700))
            return {VPNErrors::connectionFailed("无法创建隧道的通信目录。"), {}};
        return {std::nullopt, executable};
    };
    session = std::make_shared<ProviderSession>(paths.sockets / (identifier + ".sock"),
                                                std::move(check));
    session->probe();
    return session;
}

} // namespace Platform
