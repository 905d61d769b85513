#include "SystemVPNService.h"

#include "Bundle.h"
#include "Dispatch.h"
#include "FileOperations.h"
#include "Log.h"
#include "PropertyValue.h"
#include "ProviderSession.h"
#include "Uuid.h"
#include "XdgDirectories.h"

#include <algorithm>

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

// The connection of one configuration: the configuration's own checks, then its extension's
// session, whose status it reports.
class SystemVPNService::ConfigurationConnection final : public TunnelProviderSession
{
public:
    ConfigurationConnection(std::weak_ptr<SystemVPNService> service,
                            std::string identifier,
                            std::shared_ptr<ProviderSession> session)
        : m_service(std::move(service))
        , m_identifier(std::move(identifier))
        , m_session(std::move(session))
    { }

    const std::shared_ptr<ProviderSession> &session() const { return m_session; }
    void bind(std::shared_ptr<ProviderSession> session) { m_session = std::move(session); }

    int status() const override { return m_session ? m_session->status() : VPNStatus::invalid; }

    std::optional<VPNError> startVPNTunnel(const Options &options) override
    {
        if (m_identifier.empty())
            return VPNErrors::configurationInvalid(); // never saved
        auto service = m_service.lock();
        if (!service)
            return VPNErrors::serviceGone();
        StartCheck check = service->startCheck(m_identifier);
        if (check.refusal)
            return check.refusal;
        m_session = std::move(check.session);
        return m_session->startVPNTunnel(options);
    }

    void stopVPNTunnel() override
    {
        if (m_session)
            m_session->stopVPNTunnel();
    }

    std::optional<std::string> lastDisconnectReason() const override
    {
        return m_session ? m_session->lastDisconnectReason() : std::nullopt;
    }

    std::optional<VPNError> sendProviderMessage(const std::string &data, ReplyHandler reply) override
    {
        if (!m_session)
            return VPNErrors::connectionFailed("隧道未运行。");
        return m_session->sendProviderMessage(data, std::move(reply));
    }

private:
    const std::weak_ptr<SystemVPNService> m_service;
    const std::string m_identifier;
    std::shared_ptr<ProviderSession> m_session;
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
    std::string contents;
    if (const std::error_code failed = readFile(m_paths->configurations, contents)) {
        if (failed == std::errc::no_such_file_or_directory)
            return Stored{};
        // A file that cannot be read now is not replaced: it may be perfectly good.
        Log::system(LogLevel::Error,
                    logCategory,
                    "cannot read " + m_paths->configurations.string() + ": " + failed.message());
        error = VPNErrors::configurationReadWriteFailed("无法读取VPN配置文件：" + failed.message());
        return std::nullopt;
    }
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
    std::vector<std::shared_ptr<ProviderSession>> sessions;
    if (auto stored = read(error)) {
        for (const auto &record : stored->configurations) {
            const auto identifier = stringMember(record, "identifier");
            if (!identifier || identifier->empty())
                continue;
            auto manager = std::make_shared<TunnelProviderManager>(weak_from_this(), *identifier);
            decodeInto(record, *manager);
            if (const auto found = connectionOf(*manager)->session();
                found && std::find(sessions.begin(), sessions.end(), found) == sessions.end())
                sessions.push_back(found);
            managers.push_back(std::move(manager));
        }
    }
    auto finish = [completion = std::move(completion), managers, error] {
        completion(managers, error);
    };
    if (sessions.empty()) {
        mainQueue().async(std::move(finish));
        return;
    }
    auto waiting = std::make_shared<std::size_t>(sessions.size());
    for (const auto &session : sessions) {
        session->whenSettled([waiting, finish] {
            if (--*waiting == 0)
                finish();
        });
    }
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
            connectionOf(*manager);
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
        return std::make_shared<ConfigurationConnection>(std::weak_ptr<SystemVPNService>(),
                                                         std::string(),
                                                         nullptr);
    }
    return connectionOf(manager);
}

std::shared_ptr<SystemVPNService::ConfigurationConnection> SystemVPNService::connectionOf(
    const TunnelProviderManager &manager)
{
    std::optional<std::string> bundleIdentifier;
    if (const auto &protocol = manager.protocolConfiguration;
        protocol && protocol->kind == VPNProtocol::Kind::tunnelProvider)
        bundleIdentifier = protocol->providerBundleIdentifier;
    auto &connection = m_connections[manager.identifier()];
    if (!connection)
        connection
            = std::make_shared<ConfigurationConnection>(std::static_pointer_cast<SystemVPNService>(
                                                            shared_from_this()),
                                                        manager.identifier(),
                                                        nullptr);
    connection->bind(session(bundleIdentifier));
    return connection;
}

SystemVPNService::StartCheck SystemVPNService::startCheck(const std::string &identifier)
{
    std::optional<VPNError> error;
    auto stored = read(error);
    if (!stored)
        return {error, nullptr};
    const nlohmann::json *record = stored->find(identifier);
    if (!record)
        return {VPNErrors::configurationStale(), nullptr};
    TunnelProviderManager manager(weak_from_this(), identifier);
    decodeInto(*record, manager);
    if (!manager.isEnabled)
        return {VPNErrors::configurationDisabled(), nullptr};
    const auto &protocol = manager.protocolConfiguration;
    auto found = protocol && protocol->kind == VPNProtocol::Kind::tunnelProvider
                     ? session(protocol->providerBundleIdentifier)
                     : nullptr;
    if (!found)
        return {VPNErrors::configurationInvalid(), nullptr};
    return {std::nullopt, found};
}

std::shared_ptr<ProviderSession> SystemVPNService::session(
    const std::optional<std::string> &bundleIdentifier)
{
    // The identifier comes from a file: it names a bundle and a socket only as a plain name.
    if (!m_paths || !bundleIdentifier || !isPlainFileName(*bundleIdentifier))
        return nullptr;
    auto &session = m_sessions[*bundleIdentifier];
    if (session)
        return session;

    const Paths paths = *m_paths;
    const std::filesystem::path extension = paths.installedExtensions
                                            / (*bundleIdentifier + ".systemextension");
    auto check = [extension, sockets = paths.sockets]() -> ProviderSession::Launch {
        const auto program = Bundle(extension).executableName();
        const auto executable = extension / "Contents" / "bin" / program.value_or(std::string());
        if (!program || !isPlainFileName(*program) || ::access(executable.c_str(), X_OK) != 0)
            return {VPNErrors::configurationInvalid("找不到已安装的隧道扩展。"), {}};
        if (createDirectories(sockets, 0700))
            return {VPNErrors::connectionFailed("无法创建隧道的通信目录。"), {}};
        return {std::nullopt, executable};
    };
    session = std::make_shared<ProviderSession>(paths.sockets / (*bundleIdentifier + ".sock"),
                                                paths.installedExtensions,
                                                std::move(check));
    session->probe();
    return session;
}

} // namespace Platform
