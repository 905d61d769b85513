#include "WireGuardTunnel.h"

#include "EventLog.h"

#include "platform/Log.h"

#include <algorithm>

namespace TunnelProvider {

namespace {

constexpr std::string_view subscriptionPrefix = "subuuid.";
constexpr std::string_view nodePrefix = "switchNode.";
constexpr std::string_view modePrefix = "tunMode.";
constexpr int latencyProbes = 3;

nlohmann::json textsOf(const std::vector<TunnelService::IpPrefix> &prefixes)
{
    nlohmann::json texts = nlohmann::json::array();
    for (const TunnelService::IpPrefix &prefix : prefixes)
        texts.push_back(prefix.text());
    return texts;
}

std::string errorOf(const nlohmann::json &answer)
{
    const auto message = answer.find("message");
    return message != answer.end() && message->is_string() ? message->get<std::string>()
                                                           : std::string("no reason given");
}

bool isError(const nlohmann::json &answer)
{
    const auto type = answer.find("type");
    return type == answer.end() || *type == "error";
}

bool sameNode(const TunnelNode &a, const TunnelNode &b)
{
    return a.name == b.name && a.endpoint == b.endpoint && a.publicKey == b.publicKey;
}

} // namespace

WireGuardTunnel::WireGuardTunnel(EventLog &log, StartOptions options, Settings settings)
    : m_log(log)
    , m_options(std::move(options))
    , m_settings(std::move(settings))
{ }

void WireGuardTunnel::start(ProviderControl &control)
{
    m_control = &control;
    std::string error;
    std::string note;
    m_key = DeviceKey::loadOrCreate(m_settings.keyFile, error, note);
    if (!note.empty())
        m_log.append(note);
    if (!m_key) {
        fail("无法读取或生成设备密钥：" + error);
        return;
    }
    m_log.append("device key " + Platform::Log::masked(m_key->publicKey()));
    if (const std::optional<std::string> refused = m_service.connect(m_settings.serviceSocket)) {
        fail(*refused);
        return;
    }
    m_service.onPush([this](const nlohmann::json &push) { serviceMessage(push); });
    m_service.onEnd([this] {
        if (m_phase == Phase::stopping)
            finishStop();
        else
            fail("与隧道服务的连接已断开");
    });
    m_log.append("reached the tunnel service at " + m_settings.serviceSocket.native());
    fetchData();
}

std::string WireGuardTunnel::handleMessage(std::string_view message, Status status)
{
    if (message == "Hello") {
        m_log.append("message Hello");
        return description() + ", status " + std::to_string(int(status));
    }
    if (message.starts_with(subscriptionPrefix)) {
        const std::string uuid(message.substr(subscriptionPrefix.size()));
        m_log.append("message subuuid." + Platform::Log::masked(uuid));
        if (uuid.empty() || uuid == m_options.subuuid)
            return "subscription unchanged";
        m_options.subuuid = uuid;
        if (m_phase == Phase::stopping || m_phase == Phase::done)
            return "subscription noted; the tunnel is stopping";
        fetchData();
        return "subscription changed; fetching its tunnel data";
    }
    m_log.append("message " + std::string(message));
    if (message.starts_with(nodePrefix))
        return switchNode(message.substr(nodePrefix.size()));
    if (message.starts_with(modePrefix)) {
        const std::optional<RoutingMode> mode = routingModeFromName(
            message.substr(modePrefix.size()));
        if (!mode)
            return "unknown routing mode";
        m_options.tunMode = *mode;
        applyMode();
        return "routing mode " + std::string(routingModeName(*mode));
    }
    return "unknown message";
}

void WireGuardTunnel::stop()
{
    if (m_phase == Phase::stopping || m_phase == Phase::done)
        return;
    m_phase = Phase::stopping;
    m_fetch.cancel();
    m_handshakeBy.reset();
    if (!m_tunnelRequested || !m_service.isOpen()) {
        finishStop();
        return;
    }
    m_log.append("asking the service to take the tunnel down");
    m_downBy = Clock::now() + m_settings.downWait;
    m_service.request({{"type", "down"}}, [this](const nlohmann::json &) { finishStop(); });
}

std::vector<pollfd> WireGuardTunnel::descriptors() const
{
    std::vector<pollfd> polled;
    if (m_service.isOpen()) {
        const short events = m_service.wantsToWrite() ? POLLIN | POLLOUT : POLLIN;
        polled.push_back({m_service.fd(), events, 0});
    }
    if (m_fetch.isRunning())
        polled.push_back({m_fetch.fd(), POLLIN, 0});
    return polled;
}

void WireGuardTunnel::handleDescriptors(const std::vector<pollfd> &polled)
{
    for (const pollfd &descriptor : polled) {
        if (!descriptor.revents)
            continue;
        if (descriptor.fd == m_fetch.fd()) {
            if (m_fetch.finish())
                dataArrived();
        } else if (descriptor.fd == m_service.fd()) {
            m_service.handleEvents(descriptor.revents);
        }
    }
}

std::optional<TunnelDriver::Clock::time_point> WireGuardTunnel::nextDeadline() const
{
    if (m_handshakeBy && m_downBy)
        return std::min(*m_handshakeBy, *m_downBy);
    return m_handshakeBy ? m_handshakeBy : m_downBy;
}

void WireGuardTunnel::runTimers(Clock::time_point now)
{
    if (m_downBy && now >= *m_downBy) {
        m_log.append("the service did not confirm the tunnel down in time; leaving it to the "
                     "closed connection");
        finishStop();
        return;
    }
    if (!m_handshakeBy || now < *m_handshakeBy)
        return;
    m_handshakeBy.reset();
    if (m_phase == Phase::bringingUp) {
        m_log.append("no handshake with " + nodeText(*m_node));
        tryNextCandidate();
    } else if (m_phase == Phase::up && m_fallback) {
        m_log.append("no handshake with " + nodeText(*m_node) + "; back to "
                     + nodeText(*m_fallback));
        const TunnelNode fallback = *m_fallback;
        m_fallback.reset();
        switchTo(fallback, false);
    }
}

void WireGuardTunnel::fetchData()
{
    m_log.append("fetching the tunnel data from " + m_options.host + " for subscription "
                 + Platform::Log::masked(m_options.subuuid));
    auto answer = std::make_shared<TunnelDataClient::Answer>();
    m_answer = answer;
    m_fetch.start(
        [answer, host = m_options.host, subscription = m_options.subuuid, key = m_key->publicKey()](
            const std::atomic<bool> &cancelled) {
            *answer = TunnelDataClient::fetch(host, subscription, key, cancelled);
        });
}

void WireGuardTunnel::dataArrived()
{
    TunnelDataClient::Answer answer = std::move(*m_answer);
    if (m_phase == Phase::stopping || m_phase == Phase::done)
        return;
    if (!answer.data) {
        if (m_phase == Phase::fetching)
            fail(answer.reason);
        else
            m_log.append("new tunnel data not fetched: " + answer.reason + "; keeping the old");
        return;
    }
    m_log.append("tunnel data: " + std::to_string(answer.data->nodes.size()) + " nodes, addresses "
                 + textsOf(answer.data->addresses).dump() + ", "
                 + std::to_string(answer.data->direct.size()) + " direct networks");
    if (m_phase != Phase::fetching) {
        applyNewData(std::move(*answer.data));
        return;
    }
    m_data = std::move(answer.data);
    if (m_data->nodes.empty()) {
        fail("订阅中没有可用的节点");
        return;
    }
    chooseNode();
}

void WireGuardTunnel::applyNewData(TunnelData data)
{
    const bool directChanged = textsOf(data.direct) != textsOf(m_data->direct);
    if (textsOf(data.addresses) != textsOf(m_data->addresses))
        m_log.append("the device's addresses changed; they apply from the next connect");
    m_data->nodes = std::move(data.nodes);
    m_data->direct = std::move(data.direct);
    if (directChanged && m_options.tunMode == RoutingMode::Rule)
        applyMode();
    if (!m_node || m_phase != Phase::up)
        return;
    const TunnelNode *current = m_data->node(m_node->name);
    if (current && sameNode(*current, *m_node))
        return;
    if (current) {
        switchTo(*current, true);
    } else if (!m_data->nodes.empty()) {
        m_log.append("node " + m_node->name + " is no longer in the subscription");
        switchTo(m_data->nodes.front(), true);
    }
}

void WireGuardTunnel::chooseNode()
{
    const bool named = !NodeChoice::isAutomatic(m_options.nodeName)
                       && m_data->node(m_options.nodeName);
    if (!named && !NodeChoice::isAutomatic(m_options.nodeName))
        m_log.append("no node named " + m_options.nodeName + "; choosing automatically");
    if (named || m_data->nodes.size() == 1) {
        m_candidates = NodeChoice::candidates(*m_data, m_options.nodeName, {});
        tryNextCandidate();
        return;
    }
    m_phase = Phase::measuring;
    measure([this](const NodeChoice::Latencies &latencies) {
        if (m_phase != Phase::measuring)
            return;
        m_candidates = NodeChoice::candidates(*m_data, {}, latencies);
        tryNextCandidate();
    });
}

void WireGuardTunnel::measure(std::function<void(const NodeChoice::Latencies &)> then)
{
    nlohmann::json endpoints = nlohmann::json::array();
    for (const TunnelNode &node : m_data->nodes)
        endpoints.push_back(node.endpoint.text());
    m_service.request({{"type", "latency"}, {"endpoints", endpoints}, {"probes", latencyProbes}},
                      [this, then = std::move(then)](const nlohmann::json &answer) {
                          if (isError(answer))
                              m_log.append("latency not measured: " + errorOf(answer));
                          const NodeChoice::Latencies latencies = NodeChoice::latenciesFrom(answer);
                          nlohmann::json shown = nlohmann::json::object();
                          for (const auto &[endpoint, milliseconds] : latencies)
                              shown[endpoint] = milliseconds ? nlohmann::json(*milliseconds)
                                                             : nlohmann::json(nullptr);
                          m_log.append("latency " + shown.dump());
                          then(latencies);
                      });
}

void WireGuardTunnel::tryNextCandidate()
{
    const std::size_t most = std::min(m_settings.mostNodesTried, m_candidates.size());
    if (m_tried >= most) {
        fail("没有节点响应（试过 " + std::to_string(m_tried) + " 个节点），请稍后再试");
        return;
    }
    m_phase = Phase::bringingUp;
    m_node = m_candidates[m_tried++];
    m_handshakeBy = Clock::now() + m_settings.handshakeWait;
    if (m_tunnelRequested) {
        m_log.append("trying " + nodeText(*m_node));
        m_service.request({{"type", "peer"}, {"peer", peerObject(*m_node)}},
                          [this](const nlohmann::json &answer) {
                              if (isError(answer))
                                  fail("隧道服务拒绝了请求：" + errorOf(answer));
                          });
        return;
    }
    m_log.append("asking the service for the tunnel through " + nodeText(*m_node) + ", mode "
                 + std::string(routingModeName(m_options.tunMode)));
    nlohmann::json tunnel = routingObject();
    tunnel["privateKey"] = m_key->privateKey();
    tunnel["addresses"] = textsOf(m_data->addresses);
    tunnel["mtu"] = m_data->mtu;
    tunnel["peer"] = peerObject(*m_node);
    tunnel["dns"] = textsOf(m_data->dns);
    m_tunnelRequested = true;
    m_service.request({{"type", "up"}, {"tunnel", std::move(tunnel)}},
                      [this](const nlohmann::json &answer) {
                          if (isError(answer))
                              fail("隧道服务拒绝了请求：" + errorOf(answer));
                          else
                              m_log.append("the service is bringing the tunnel up");
                      });
}

void WireGuardTunnel::switchTo(const TunnelNode &node, bool remember)
{
    m_log.append("switching to " + nodeText(node));
    m_fallback = remember ? m_node : std::nullopt;
    m_node = node;
    m_handshakeBy = Clock::now() + m_settings.handshakeWait;
    m_service.request({{"type", "peer"}, {"peer", peerObject(node)}},
                      [this](const nlohmann::json &answer) {
                          if (isError(answer))
                              m_log.append("the service refused the switch: " + errorOf(answer));
                      });
}

void WireGuardTunnel::switchAutomatically()
{
    measure([this](const NodeChoice::Latencies &latencies) {
        if (m_phase != Phase::up)
            return;
        const std::vector<TunnelNode> ranked = NodeChoice::candidates(*m_data, {}, latencies);
        const auto latencyOf = [&latencies](const TunnelNode &node) -> std::optional<double> {
            const auto found = latencies.find(node.endpoint.text());
            return found == latencies.end() ? std::nullopt : found->second;
        };
        if (ranked.empty() || sameNode(ranked.front(), *m_node)
            || !NodeChoice::clearlyBetter(latencyOf(ranked.front()), latencyOf(*m_node))) {
            m_log.append("staying on " + nodeText(*m_node));
            return;
        }
        switchTo(ranked.front(), true);
    });
}

void WireGuardTunnel::applyMode()
{
    if (!m_tunnelRequested || m_phase == Phase::stopping || m_phase == Phase::done)
        return;
    nlohmann::json request = routingObject();
    request["type"] = "mode";
    m_service.request(std::move(request), [this](const nlohmann::json &answer) {
        if (isError(answer))
            m_log.append("the service refused the mode: " + errorOf(answer));
    });
}

void WireGuardTunnel::serviceMessage(const nlohmann::json &message)
{
    const auto state = message.find("state");
    if (message.value("type", "") != "status" || state == message.end() || !state->is_string())
        return;
    m_log.append("service: tunnel " + state->get<std::string>());
    if (*state == "down" && m_phase == Phase::stopping) {
        finishStop(); // the down asked for, whatever the service adds
    } else if (*state == "down") {
        const auto reason = message.find("reason");
        fail("隧道已断开："
             + (reason != message.end() && reason->is_string() ? reason->get<std::string>()
                                                               : std::string("原因未知")));
    } else if (*state == "up") {
        m_handshakeBy.reset();
        m_fallback.reset();
        if (m_phase == Phase::bringingUp) {
            m_phase = Phase::up;
            m_log.append("connected through " + nodeText(*m_node));
            m_control->setStatus(Status::Connected);
        }
    }
}

std::string WireGuardTunnel::switchNode(std::string_view name)
{
    m_options.nodeName = std::string(name);
    if (m_phase != Phase::up)
        return "node noted: " + std::string(NodeChoice::isAutomatic(name) ? "automatic" : name)
               + "; it applies once connected";
    if (NodeChoice::isAutomatic(name)) {
        switchAutomatically();
        return "automatic selection: measuring the nodes";
    }
    const TunnelNode *node = m_data->node(name);
    if (!node)
        return "no node named " + std::string(name) + "; staying on " + m_node->name;
    if (sameNode(*node, *m_node))
        return "already on " + node->name;
    switchTo(*node, true);
    return "switching to " + nodeText(*node);
}

std::string WireGuardTunnel::description() const
{
    std::string text = "OrvaneVPN WireGuard provider " ORVANE_PROVIDER_VERSION;
    if (m_node)
        text += ", node " + nodeText(*m_node);
    text += ", mode " + std::string(routingModeName(m_options.tunMode));
    return text;
}

nlohmann::json WireGuardTunnel::peerObject(const TunnelNode &node) const
{
    return {{"publicKey", node.publicKey.base64()}, {"endpoint", node.endpoint.text()}};
}

nlohmann::json WireGuardTunnel::routingObject() const
{
    if (m_options.tunMode == RoutingMode::Global)
        return {{"mode", "global"}};
    return {{"mode", "rule"},
            {"direct", textsOf(m_data ? m_data->direct : std::vector<TunnelService::IpPrefix>())}};
}

std::string WireGuardTunnel::nodeText(const TunnelNode &node)
{
    return node.name + " (" + node.endpoint.text() + ", key " + node.publicKey.masked() + ")";
}

void WireGuardTunnel::fail(const std::string &reason)
{
    if (m_phase == Phase::done)
        return;
    m_log.append("cannot go on: " + reason);
    m_phase = Phase::done;
    m_handshakeBy.reset();
    m_downBy.reset();
    m_fetch.cancel();
    // The service takes the tunnel down when its connection ends.
    m_service.close();
    m_control->setStatus(Status::Disconnected, reason);
}

void WireGuardTunnel::finishStop()
{
    if (m_phase == Phase::done)
        return;
    m_phase = Phase::done;
    m_downBy.reset();
    m_service.close();
    m_control->setStatus(Status::Disconnected);
}

} // namespace TunnelProvider
