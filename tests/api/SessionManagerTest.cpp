#include "api/SessionManager.h"

#include "InstalledManualQueue.h"
#include "LoopbackServer.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <fstream>
#include <regex>

namespace {

struct Seen
{
    std::mutex mutex;
    httplib::Headers headers;
    std::string body;
    std::string method;
    int requests = 0;
};

class SessionManagerTest : public testing::Test
{
protected:
    // A handler that notes what it was sent, then answers.
    httplib::Server::Handler noting(int status,
                                    std::string body,
                                    std::string type = "application/json")
    {
        return [this, status, body, type](const httplib::Request &request,
                                          httplib::Response &response) {
            {
                std::lock_guard lock(seen.mutex);
                seen.headers = request.headers;
                seen.body = request.body;
                seen.method = request.method;
                ++seen.requests;
            }
            response.status = status;
            if (!body.empty())
                response.set_content(body, type);
        };
    }

    // Runs one exchange to its end and returns what the completion received.
    DataResponse exchange(SessionManager &session,
                          const std::string &url,
                          HTTPMethod method = HTTPMethod::get,
                          const std::optional<Parameters> &parameters = std::nullopt,
                          const std::optional<HTTPHeaders> &headers = std::nullopt,
                          JSONReadingOptions options = {.allowFragments = true})
    {
        std::optional<DataResponse> received;
        session.request(url, method, parameters, JSONEncoding::defaultEncoding(), headers)
            ->responseJSON(options, [&](const DataResponse &response) { received = response; });
        EXPECT_TRUE(queue->runUntil([&] { return received.has_value(); }, 20));
        return received.value_or(DataResponse{});
    }

    std::string seenHeader(const std::string &name)
    {
        std::lock_guard lock(seen.mutex);
        const auto it = seen.headers.find(name);
        return it == seen.headers.end() ? "<absent>" : it->second;
    }

    TemporaryHome home;
    InstalledManualQueue queue;
    LoopbackServer server;
    Seen seen;
};

Platform::Bundle sampleBundle(const TemporaryHome &home, const std::string &info)
{
    const auto path = home.root() / "Sample.app";
    std::filesystem::create_directories(path / "Contents");
    std::ofstream(path / "Contents" / "Info.json") << info;
    return Platform::Bundle(path);
}

std::string errorText(const DataResponse &response)
{
    return response.error() ? localizedDescription(*response.error()) : "<success>";
}

} // namespace

TEST_F(SessionManagerTest, SendsTheDefaultHeadersUnderTheRequestsOwn)
{
    server.server().Get("/echo", noting(200, "{}"));
    server.start();

    const auto bundle = sampleBundle(home, R"({"CFBundleIdentifier": "com.qaromac.wv",
        "CFBundleShortVersionString": "2.10.1", "CFBundleVersion": "77",
        "CFBundleExecutable": "OrvaneVPN"})");
    SessionManager::Configuration configuration;
    configuration.defaultHeaders = SessionManager::defaultHTTPHeaders(bundle,
                                                                      {"en", "zh-CN", "fr"},
                                                                      "Linux 6.1.0");
    SessionManager session(configuration);

    exchange(session, server.origin() + "/echo");
    EXPECT_EQ(seenHeader("Accept-Encoding"), "gzip;q=1.0, compress;q=0.5");
    EXPECT_EQ(seenHeader("Accept-Language"), "en;q=1.0, zh-CN;q=0.9, fr;q=0.8");
    EXPECT_EQ(seenHeader("User-Agent"),
              "OrvaneVPN/2.10.1 (com.qaromac.wv; build:77; Linux 6.1.0) Alamofire/2.10.1");
    EXPECT_EQ(seenHeader("Content-Type"), "<absent>");

    const auto response = exchange(session,
                                   server.origin() + "/echo",
                                   HTTPMethod::get,
                                   std::nullopt,
                                   HTTPHeaders{{"accept-language", "de;q=1.0"}, {"token", "t"}});
    EXPECT_EQ(seenHeader("Accept-Language"), "de;q=1.0");
    EXPECT_EQ(seenHeader("token"), "t");
    EXPECT_EQ(response.request.headers.at("Accept-Language"), "de;q=1.0");

    // Missing bundle information reads "Unknown"; at most six languages are named.
    const auto bare = SessionManager::defaultHTTPHeaders(sampleBundle(home, "{}"),
                                                         {"a", "b", "c", "d", "e", "f", "g"},
                                                         "Linux 6.1.0");
    EXPECT_EQ(bare.at("User-Agent"),
              "Unknown/Unknown (Unknown; build:Unknown; Linux 6.1.0) Alamofire/Unknown");
    EXPECT_EQ(bare.at("Accept-Language"), "a;q=1.0, b;q=0.9, c;q=0.8, d;q=0.7, e;q=0.6, f;q=0.5");
    EXPECT_TRUE(std::regex_match(SessionManager::systemNameAndVersion(),
                                 std::regex(R"(Linux \d+\.\d+\.\d+)")))
        << SessionManager::systemNameAndVersion();
}

TEST_F(SessionManagerTest, EncodesParametersAsAJsonBody)
{
    server.server().Post("/post", noting(200, "{}"));
    server.server().Get("/get", noting(200, "{}"));
    server.start();
    SessionManager session({});

    exchange(session, server.origin() + "/get");
    EXPECT_EQ(seen.body, "");
    EXPECT_EQ(seenHeader("Content-Type"), "<absent>");

    exchange(session,
             server.origin() + "/post",
             HTTPMethod::post,
             Parameters{{"user_name", "a@b.cn"}, {"email_code", ""}});
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(nlohmann::json::parse(seen.body),
              nlohmann::json({{"user_name", "a@b.cn"}, {"email_code", ""}}));
    EXPECT_EQ(seenHeader("Content-Type"), "application/json");

    exchange(session,
             server.origin() + "/post",
             HTTPMethod::post,
             Parameters{{"a", "b"}},
             HTTPHeaders{{"content-type", "application/vnd.orvane+json"}});
    EXPECT_EQ(seenHeader("Content-Type"), "application/vnd.orvane+json");

    // Text that is not UTF-8 cannot be written as JSON: nothing is sent.
    const int before = seen.requests;
    const auto refused = exchange(session,
                                  server.origin() + "/post",
                                  HTTPMethod::post,
                                  Parameters{{"name", "\xff\xfe"}});
    EXPECT_TRUE(errorText(refused).starts_with("JSON could not be encoded because of error:\n"))
        << errorText(refused);
    EXPECT_EQ(seen.requests, before);
}

TEST_F(SessionManagerTest, SerialisesAnswersByTheirStatusAndBody)
{
    const auto reply = [this](int status, std::string body, std::string type = "application/json") {
        return noting(status, std::move(body), std::move(type));
    };
    httplib::Server &routes = server.server();
    routes.Get("/204", reply(204, ""));
    routes.Get("/205", reply(205, ""));
    routes.Get("/empty", reply(200, ""));
    routes.Get("/html", reply(200, "<html>oops</html>", "text/html"));
    routes.Get("/fragment", reply(200, "5"));
    routes.Get("/500", reply(500, R"({"code": 500, "msg": "服务器内部错误"})"));
    routes.Get("/redirect", [](const httplib::Request &, httplib::Response &response) {
        response.status = 302;
        response.set_header("Location", "http://127.0.0.1:1/elsewhere");
        response.set_content(R"({"code": 0, "data": "here"})", "application/json");
    });
    routes.Get("/large", [](const httplib::Request &, httplib::Response &response) {
        response.set_content("\"" + std::string(9 * 1024 * 1024, 'x') + "\"", "application/json");
    });
    std::string big = "[";
    for (int i = 0; i < 2000; ++i)
        big += std::string(i ? "," : "") + "\"节点 " + std::to_string(i) + "\"";
    routes.Get("/gzip", reply(200, big + "]"));
    server.start();
    SessionManager session(SessionManager::Configuration::standard());
    const auto get = [&](const std::string &path, JSONReadingOptions options = {true}) {
        return exchange(session,
                        server.origin() + path,
                        HTTPMethod::get,
                        std::nullopt,
                        std::nullopt,
                        options);
    };

    EXPECT_EQ(*get("/204").value(), nullptr);
    EXPECT_EQ(*get("/205").value(), nullptr);
    EXPECT_EQ(errorText(get("/empty")),
              "Response could not be serialized, input data was nil or zero length.");
    EXPECT_TRUE(
        errorText(get("/html")).starts_with("JSON could not be serialized because of error:\n"));
    EXPECT_EQ(*get("/fragment").value(), 5);
    EXPECT_FALSE(get("/fragment", {false}).isSuccess());
    const auto serverError = get("/500");
    EXPECT_EQ(serverError.response->statusCode, 500);
    EXPECT_EQ((*serverError.value())["msg"], "服务器内部错误");

    const auto redirect = get("/redirect");
    EXPECT_EQ(redirect.response->statusCode, 302);
    EXPECT_EQ((*redirect.value())["data"], "here");

    const auto gzip = get("/gzip");
    EXPECT_EQ(gzip.response->headers.at("Content-Encoding"), "gzip");
    ASSERT_TRUE(gzip.isSuccess()) << errorText(gzip);
    EXPECT_EQ(gzip.value()->size(), 2000u);

    const auto large = get("/large");
    ASSERT_FALSE(large.isSuccess());
    const auto *tooLarge = std::get_if<URLError>(large.error());
    ASSERT_TRUE(tooLarge);
    EXPECT_EQ(tooLarge->code(), URLError::Code::dataLengthExceedsMaximum);
    EXPECT_TRUE(tooLarge->responseArrived());
}

TEST_F(SessionManagerTest, TransportFailuresSayWhetherAnAnswerHadBegun)
{
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    server.server().Get("/silent", [&](const httplib::Request &, httplib::Response &response) {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
        response.set_content("{}", "application/json");
    });
    server.start();
    SessionManager::Configuration configuration;
    configuration.requestTimeout = std::chrono::milliseconds(300);
    SessionManager session(configuration);

    const auto refused = exchange(session,
                                  "http://127.0.0.1:" + std::to_string(refusedPort()) + "/x");
    const auto *refusal = std::get_if<URLError>(refused.error());
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->code(), URLError::Code::cannotConnectToHost);
    EXPECT_FALSE(refusal->responseArrived());
    EXPECT_FALSE(refused.response);
    EXPECT_EQ(refusal->localizedDescription(), "未能连接到服务器。");

    const auto silent = exchange(session, server.origin() + "/silent");
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    const auto *timeout = std::get_if<URLError>(silent.error());
    ASSERT_TRUE(timeout);
    EXPECT_EQ(timeout->code(), URLError::Code::timedOut);
    EXPECT_FALSE(timeout->responseArrived());

    for (const std::string url : {"http://bad host/x", "ftp://127.0.0.1/x", "127.0.0.1/x", ""}) {
        const auto invalid = exchange(session, url);
        const auto *error = std::get_if<AFError>(invalid.error());
        ASSERT_TRUE(error) << url;
        EXPECT_EQ(error->kind(), AFError::Kind::invalidURL);
        EXPECT_EQ(error->localizedDescription(), "URL is not valid: " + url);
    }
}

TEST_F(SessionManagerTest, CompletesOnTheMainQueueOnly)
{
    server.server().Get("/x", [](const httplib::Request &, httplib::Response &response) {
        response.set_content("[1]", "application/json");
    });
    server.start();
    SessionManager session({});
    bool completed = false;
    std::thread::id completedOn;
    auto request = session.request(server.origin() + "/x",
                                   HTTPMethod::get,
                                   std::nullopt,
                                   JSONEncoding::defaultEncoding(),
                                   std::nullopt);
    request->responseJSON({}, [&](const DataResponse &response) {
        completed = response.isSuccess();
        completedOn = std::this_thread::get_id();
    });
    EXPECT_FALSE(completed);
    ASSERT_TRUE(queue->runUntil([&] { return completed; }));
    EXPECT_EQ(completedOn, std::this_thread::get_id());

    // A completion registered after the answer is in still comes, on the queue.
    bool late = false;
    request->responseJSON({}, [&](const DataResponse &) { late = true; });
    EXPECT_FALSE(late);
    queue->runUntilIdle();
    EXPECT_TRUE(late);
}

// Stages come in order before the completion; a cancelled exchange closes its connection and
// reports nothing more; of two exchanges sharing a delivery only one sends its request.
TEST_F(SessionManagerTest, ReportsStagesCancelsAndDeliversOnce)
{
    server.server().Post("/x", noting(200, "[1]"));
    server.start();
    SessionManager session({});
    const auto start = [&](const std::string &url, std::shared_ptr<SingleDelivery> delivery) {
        return session.request(url,
                               HTTPMethod::post,
                               std::nullopt,
                               JSONEncoding::defaultEncoding(),
                               std::nullopt,
                               std::move(delivery));
    };
    std::vector<std::string> events;
    const auto noteStages = [&](DataRequest &request) {
        request.onStage([&](ExchangeStage stage) {
            events.push_back(stage == ExchangeStage::connected ? "connected" : "answering");
        });
        request.responseJSON({}, [&](const DataResponse &) { events.push_back("completed"); });
    };
    auto answered = start(server.origin() + "/x", nullptr);
    noteStages(*answered);
    ASSERT_TRUE(queue->runUntil([&] { return events.size() == 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"connected", "answering", "completed"}));
    EXPECT_TRUE(answered->wasSent());

    SilentServer silent;
    auto cancelled = start(silent.origin() + "/x", nullptr);
    events.clear();
    noteStages(*cancelled);
    // The server's side of the connection is seen from its own thread, so it is polled for.
    const auto eventually = [&](const std::function<bool()> &condition) {
        for (int step = 0; step < 500 && !condition(); ++step)
            queue->runUntil([] { return false; }, 0.01);
        return condition();
    };
    ASSERT_TRUE(queue->runUntil([&] { return !events.empty(); }));
    ASSERT_TRUE(eventually([&] { return silent.connections() == 1; }));
    cancelled->cancel();
    EXPECT_TRUE(eventually([&] { return silent.openConnections() == 0; }));
    EXPECT_EQ(events, std::vector<std::string>{"connected"});

    const auto delivery = std::make_shared<SingleDelivery>();
    const std::size_t before = silent.bytesReceived();
    int ended = 0;
    auto first = start(server.origin() + "/x", delivery);
    first->responseJSON({}, [&](const DataResponse &) { ++ended; });
    ASSERT_TRUE(queue->runUntil([&] { return first->wasSent(); }));
    auto second = start(silent.origin() + "/x", delivery);
    second->responseJSON({}, [&](const DataResponse &) { ++ended; });
    ASSERT_TRUE(queue->runUntil([&] { return ended == 2; }));
    EXPECT_FALSE(second->wasSent());
    EXPECT_EQ(silent.bytesReceived(), before);
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.requests, 2);
}

TEST(URLEncoding, PutsParametersInTheQueryOrAFormBody)
{
    URLRequest get{"http://h/p?x=1", HTTPMethod::get, {}, std::nullopt};
    URLEncoding::defaultEncoding().encode(get,
                                          Parameters{{"q", "a b&c"}, {"on", true}, {"l", {1, 2}}});
    EXPECT_EQ(get.url, "http://h/p?x=1&l%5B%5D=1&l%5B%5D=2&on=1&q=a%20b%26c");
    EXPECT_FALSE(get.body);

    URLRequest post{"http://h/p", HTTPMethod::post, {}, std::nullopt};
    URLEncoding::defaultEncoding().encode(post, Parameters{{"d", {{"k", "值"}}}});
    EXPECT_EQ(post.body, "d%5Bk%5D=%E5%80%BC");
    EXPECT_EQ(post.headers.at("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
}
