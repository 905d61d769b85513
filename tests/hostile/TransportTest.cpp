#include "BrokenBodyServer.h"
#include "HostileTest.h"

#include "api/SessionManager.h"

#include <vector>

namespace {

// A well-formed reply, long enough that its second half trickles in for far longer than a
// request may take.
std::string longReply()
{
    const std::string body = envelope(validData(Endpoint::nodeNames));
    return body + std::string(2000 - body.size(), ' ');
}

struct BrokenBody
{
    const char *name;
    BrokenBodyServer::Ending ending;
};

void PrintTo(const BrokenBody &broken, std::ostream *out)
{
    *out << broken.name;
}

class BrokenBodyTest
    : public HostileTest
    , public testing::WithParamInterface<BrokenBody>
{ };

struct Redirect
{
    const char *name;
    std::string body;
    const char *contentType;
    const char *report;
};

void PrintTo(const Redirect &redirect, std::ostream *out)
{
    *out << redirect.name;
}

class RedirectTest
    : public HostileTest
    , public testing::WithParamInterface<Redirect>
{ };

using TrickleTest = HostileTest;

} // namespace

TEST_F(TrickleTest, ABodySlowerThanTheTimeOutFailsEveryCall)
{
    // The time-out these tests run with (HostileTestMain), not the 30 s of the shipped client.
    ASSERT_EQ(SessionManager::defaultManager().configuration().requestTimeout,
              std::chrono::milliseconds(5000));
    BrokenBodyServer trickling(BrokenBodyServer::Ending::trickled, longReply());
    startOver(trickling.origin());

    const std::vector<Endpoint> endpoints(allEndpoints.begin(), allEndpoints.end());
    EXPECT_EQ(calls.runTogether(endpoints),
              std::vector<std::string>(endpoints.size(), "failed:请求超时。"));
    EXPECT_EQ(trickling.connections(), int(endpoints.size()));
    expectStored();
}

TEST_P(BrokenBodyTest, FailsEveryCallAndStoresNothing)
{
    BrokenBodyServer broken(GetParam().ending, longReply());
    startOver(broken.origin());
    for (const Endpoint endpoint : allEndpoints) {
        SCOPED_TRACE(name(endpoint));
        EXPECT_EQ(calls.run(endpoint), "failed:网络连接已中断。");
        expectStored();
    }
    EXPECT_EQ(broken.connections(), int(allEndpoints.size()));
}

INSTANTIATE_TEST_SUITE_P(MidBody,
                         BrokenBodyTest,
                         testing::Values(BrokenBody{"Closed", BrokenBodyServer::Ending::closed},
                                         BrokenBody{"Reset", BrokenBodyServer::Ending::reset}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(RedirectTest, IsNeverFollowed)
{
    const Redirect &redirect = GetParam();
    HostileServer elsewhere;
    for (const Endpoint endpoint : allEndpoints) {
        SCOPED_TRACE(name(endpoint));
        startOver(server.origin());
        server.answer(path(endpoint),
                      [&](const httplib::Request &request, httplib::Response &response) {
                          response.status = 301;
                          response.set_header("Location", elsewhere.origin() + request.path);
                          if (!redirect.body.empty())
                              response.set_content(redirect.body, redirect.contentType);
                      });

        EXPECT_EQ(calls.run(endpoint), redirect.report);
        expectStored();
    }
    EXPECT_EQ(elsewhere.requests(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Permanent,
    RedirectTest,
    testing::Values(
        Redirect{"WithoutBody",
                 "",
                 "",
                 "failed:Response could not be serialized, input data was nil or zero length."},
        Redirect{"WithAPage",
                 "<html><body>Moved Permanently</body></html>",
                 "text/html",
                 "failed:JSON could not be serialized because of error:\n"
                 "未能读取数据，因为它的格式不正确。"},
        Redirect{"WithAnEnvelope",
                 R"({"code": 301, "msg": "moved", "data": null})",
                 "application/json",
                 "failed:moved"}),
    [](const auto &info) { return std::string(info.param.name); });
