#include "BackendClient.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>

using nlohmann::json;

namespace {

const std::string Login = "/api/public/user/login";
const std::string Register = "/api/public/user/register";
const std::string ResetPassword = "/api/public/user/resetUserPassword";
const std::string EmailCode = "/api/public/code/getEmailCode";
const std::string UserInfo = "/api/customer/user/getUserInfo";
const std::string ServiceList = "/api/customer/customerService/getCustomerServiceList";
const std::string NodeNames = "/api/public/sub/getNodeNames";
const std::string SubscribeNodes = "/api/customer/customerService/getSubscribeNodeList";
const std::string Demo = "demo@orvane.test";
constexpr std::int64_t GigaByte = std::int64_t(1024) * 1024 * 1024;

// "2027-01-06T15:04:05+08:00" as seconds since the epoch; 0 when the text has another form.
std::time_t beijingTime(const std::string &text)
{
    std::tm parts{};
    char offset[8] = {};
    if (std::sscanf(text.c_str(),
                    "%4d-%2d-%2dT%2d:%2d:%2d%6s",
                    &parts.tm_year,
                    &parts.tm_mon,
                    &parts.tm_mday,
                    &parts.tm_hour,
                    &parts.tm_min,
                    &parts.tm_sec,
                    offset)
            != 7
        || std::string(offset) != "+08:00") {
        return 0;
    }
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    return timegm(&parts) - 8 * 3600;
}

json requestCode(BackendClient &client, const std::string &type, const std::string &email)
{
    return client.post(EmailCode, {{"email_type", type}, {"target_email", email}});
}

json registration(const std::string &email,
                  const std::string &code,
                  const std::string &password,
                  const std::string &repeated)
{
    return {{"user_name", email},
            {"email_code", code},
            {"password", password},
            {"re_password", repeated},
            {"referrer_code", ""},
            {"device_id", "test-device"}};
}

json reset(const std::string &email, const std::string &code, const std::string &password)
{
    return {{"user_name", email},
            {"email_code", code},
            {"password", password},
            {"device_id", "test-device"}};
}

json login(const std::string &email, const std::string &password)
{
    return {{"user_name", email},
            {"password", password},
            {"email_code", ""},
            {"device_id", "test-device"}};
}

} // namespace

TEST(DevBackendApiTest, DemoAccountSignsInAndItsTokenWorksUntilExpired)
{
    InProcessBackend server;
    BackendClient &client = server.client;

    json signedIn = client.post(Login, login(Demo, "demo123456"));
    ASSERT_EQ(codeOf(signedIn), 0) << signedIn.dump();
    const std::string token = signedIn["data"]["token"];
    ASSERT_FALSE(token.empty());
    json user = signedIn["data"]["user"];
    EXPECT_EQ(user["user_name"], Demo);
    EXPECT_EQ(user["avatar"], "");
    EXPECT_EQ(user["member_level"], 1);
    ASSERT_TRUE(user["invitation_code"].is_string()) << user.dump();
    const std::time_t expiry = beijingTime(user["member_expiry_at"]);
    const std::time_t inThirtyDays = std::time(nullptr) + 30 * 24 * 3600;
    EXPECT_GT(expiry, inThirtyDays - 3600) << user["member_expiry_at"];
    EXPECT_LE(expiry, inThirtyDays) << user["member_expiry_at"];

    json info = client.get(UserInfo, token);
    ASSERT_EQ(codeOf(info), 0) << info.dump();
    ASSERT_TRUE(info["data"]["invitation_code"].is_number_integer()) << info.dump();
    EXPECT_EQ(std::to_string(info["data"]["invitation_code"].get<int>()), user["invitation_code"]);
    EXPECT_EQ(info["data"]["id"], user["id"]);
    EXPECT_EQ(info["data"]["member_expiry_at"], user["member_expiry_at"]);

    // The raw token also works in the authorization header.
    const httplib::Result byAuthorization = client.http().Get(UserInfo, {{"authorization", token}});
    ASSERT_TRUE(byAuthorization);
    EXPECT_EQ(codeOf(json::parse(byAuthorization->body)), 0) << byAuthorization->body;

    json services = client.get(ServiceList, token)["data"];
    ASSERT_EQ(services.size(), 1u) << services.dump();
    json service = services[0];
    EXPECT_EQ(service["total_bandwidth"], 100 * GigaByte);
    EXPECT_EQ(service["used_up"], 0);
    EXPECT_EQ(service["used_down"], 0);
    EXPECT_EQ(service["service_status"], true);
    EXPECT_EQ(service["sub_status"], true);
    EXPECT_FALSE(service["sub_uuid"].get<std::string>().empty());
    const int serviceId = service["id"];

    const json names = client.get(NodeNames)["data"];
    ASSERT_EQ(names.size(), 14u) << names.dump();
    EXPECT_EQ(names[0], "香港 01");
    const std::string nodesTarget = SubscribeNodes + "?id=" + std::to_string(serviceId);
    const json nodes = client.get(nodesTarget, token)["data"];
    ASSERT_EQ(nodes.size(), names.size()) << nodes.dump();
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        EXPECT_EQ(nodes[i]["remarks"], names[i]);
        EXPECT_EQ(nodes[i]["id"], int(i) + 1);
    }
    EXPECT_EQ(client.get(SubscribeNodes + "?id=" + std::to_string(serviceId + 1), token)["data"],
              json::array());

    EXPECT_EQ(codeOf(client.get(UserInfo)), 40101);
    EXPECT_EQ(codeOf(client.get(UserInfo, token + "0")), 40101);

    ASSERT_EQ(codeOf(client.post("/_dev/expire-token", {{"email", Demo}})), 0);
    EXPECT_EQ(codeOf(client.get(UserInfo, token)), 40101);
    EXPECT_EQ(codeOf(client.get(ServiceList, token)), 40101);
    EXPECT_EQ(codeOf(client.get(nodesTarget, token)), 40101);
    const std::string again = client.signIn(Demo, "demo123456");
    EXPECT_EQ(codeOf(client.get(UserInfo, again)), 0);

    const std::string log = server.stopAndReadLog();
    EXPECT_NE(log.find("devbackend: POST " + Login + " -> 0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("devbackend: GET " + UserInfo + " -> 40101\n"), std::string::npos) << log;
    EXPECT_EQ(log.find(token), std::string::npos) << log;
    EXPECT_EQ(log.find("demo123456"), std::string::npos) << log;
}

TEST(DevBackendApiTest, RegistersWithAMailedCode)
{
    InProcessBackend server;
    BackendClient &client = server.client;
    const std::string email = "new.user@example.com";
    const auto registerWith =
        [&](const std::string &code, const std::string &password, const std::string &repeated) {
            return client.post(Register, registration(email, code, password, repeated));
        };

    EXPECT_EQ(codeOf(requestCode(client, "EMAIL_TYPE_OTHER", email)), 10000);
    EXPECT_EQ(codeOf(requestCode(client, "EMAIL_TYPE_USER_REGISTER", "not-an-email")), 10004);
    EXPECT_EQ(codeOf(registerWith("123456", "secret1", "secret1")), 10003);

    ASSERT_EQ(codeOf(requestCode(client, "EMAIL_TYPE_USER_REGISTER", email)), 0);
    const std::string code = client.lastCode(email);
    ASSERT_EQ(code.size(), 6u);
    EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << code;
    // A reset code is no good for registering.
    ASSERT_EQ(codeOf(requestCode(client, "EMAIL_TYPE_USER_RESETPWD", email)), 0);
    const std::string resetCode = client.lastCode(email);
    if (resetCode != code) {
        EXPECT_EQ(codeOf(registerWith(resetCode, "secret1", "secret1")), 10003);
    }
    const std::string wrongCode = code.substr(0, 5) + (code[5] == '0' ? '1' : '0');
    EXPECT_EQ(codeOf(registerWith(wrongCode, "secret1", "secret1")), 10003);
    EXPECT_EQ(codeOf(registerWith(code, "secret1", "secret2")), 10000);
    EXPECT_EQ(codeOf(registerWith(code, "short", "short")), 10000);

    json registered = registerWith(code, "secret1", "secret1");
    ASSERT_EQ(codeOf(registered), 0) << registered.dump();
    const std::string token = registered["data"]["token"];
    EXPECT_EQ(registered["data"]["user"]["user_name"], email);
    EXPECT_EQ(registered["data"]["user"]["member_level"], 0);
    EXPECT_TRUE(registered["data"]["user"]["invitation_code"].is_string());

    json services = client.get(ServiceList, token)["data"];
    ASSERT_EQ(services.size(), 1u) << services.dump();
    EXPECT_EQ(services[0]["service_status"], false); // the membership starts out expired
    EXPECT_EQ(services[0]["sub_status"], true);
    EXPECT_EQ(services[0]["total_bandwidth"], 10 * GigaByte);
    EXPECT_FALSE(services[0]["sub_uuid"].get<std::string>().empty());
    const std::string nodesTarget = SubscribeNodes
                                    + "?id=" + std::to_string(services[0]["id"].get<int>());
    EXPECT_EQ(client.get(nodesTarget, token)["data"],
              json::parse(R"([{"remarks": "香港 01", "id": 1},
                              {"remarks": "香港 02", "id": 2}])"));
    EXPECT_EQ(codeOf(client.get(UserInfo, client.signIn(email, "secret1"))), 0);

    // A code works once; a second registration of the address is refused.
    EXPECT_EQ(codeOf(registerWith(code, "secret1", "secret1")), 10003);
    ASSERT_EQ(codeOf(requestCode(client, "EMAIL_TYPE_USER_REGISTER", email)), 0);
    EXPECT_EQ(codeOf(registerWith(client.lastCode(email), "secret1", "secret1")), 10002);

    const std::string log = server.stopAndReadLog();
    const std::string codeLine = "devbackend: code for " + email
                                 + " (EMAIL_TYPE_USER_REGISTER): " + code + "\n";
    EXPECT_NE(log.find(codeLine), std::string::npos) << log;
    EXPECT_EQ(log.find("secret1"), std::string::npos) << log;
}

TEST(DevBackendApiTest, ResetsPasswordsAndRejectsWrongOnes)
{
    InProcessBackend server;
    BackendClient &client = server.client;

    EXPECT_EQ(codeOf(client.post(Login, login(Demo, "wrong-password"))), 10001);
    EXPECT_EQ(codeOf(client.post(Login, login("nobody@example.com", "demo123456"))), 10001);

    ASSERT_EQ(codeOf(requestCode(client, "EMAIL_TYPE_USER_RESETPWD", "nobody@example.com")), 0);
    EXPECT_EQ(codeOf(client.post(ResetPassword,
                                 reset("nobody@example.com",
                                       client.lastCode("nobody@example.com"),
                                       "newsecret1"))),
              10005);

    ASSERT_EQ(codeOf(requestCode(client, "EMAIL_TYPE_USER_REGISTER", Demo)), 0);
    const std::string registerCode = client.lastCode(Demo);
    ASSERT_EQ(codeOf(requestCode(client, "EMAIL_TYPE_USER_RESETPWD", Demo)), 0);
    const std::string code = client.lastCode(Demo);
    if (registerCode != code) {
        EXPECT_EQ(codeOf(client.post(ResetPassword, reset(Demo, registerCode, "newsecret1"))),
                  10003);
    }
    const std::string wrongCode = code.substr(0, 5) + (code[5] == '0' ? '1' : '0');
    EXPECT_EQ(codeOf(client.post(ResetPassword, reset(Demo, wrongCode, "newsecret1"))), 10003);

    const json done = client.post(ResetPassword, reset(Demo, code, "newsecret1"));
    EXPECT_EQ(codeOf(done), 0) << done.dump();
    EXPECT_TRUE(done["data"].is_null());
    EXPECT_EQ(codeOf(client.post(Login, login(Demo, "demo123456"))), 10001);
    EXPECT_EQ(codeOf(client.get(UserInfo, client.signIn(Demo, "newsecret1"))), 0);
}

TEST(DevBackendApiTest, RejectsMalformedRequests)
{
    InProcessBackend server;
    BackendClient &client = server.client;

    for (const std::string body : {"[1, 2]",
                                   "not json",
                                   "",
                                   R"({"user_name": 5, "password": "x"})",
                                   R"({"user_name": "demo@orvane.test"})"}) {
        const httplib::Result reply = client.http().Post(Login, body, "application/json");
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 200);
        EXPECT_EQ(codeOf(json::parse(reply->body, nullptr, false)), 10000) << body;
    }

    for (const std::string &path : {std::string("/api/public/user/nothing"), UserInfo + "/more"}) {
        const httplib::Result reply = client.http().Get(path);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 404) << path;
        EXPECT_EQ(json::parse(reply->body, nullptr, false),
                  json::parse(R"({"code": 404, "msg": "not found", "data": null})"))
            << reply->body;
    }
    const httplib::Result wrongMethod = client.http().Get(Login);
    ASSERT_TRUE(wrongMethod);
    EXPECT_EQ(wrongMethod->status, 404);

    const std::string token = client.signIn(Demo, "demo123456");
    EXPECT_EQ(codeOf(client.get(SubscribeNodes, token)), 10000);
    EXPECT_EQ(codeOf(client.get(SubscribeNodes + "?id=abc", token)), 10000);
}

TEST(DevBackendApiTest, ServesThePagesTheClientLinksTo)
{
    InProcessBackend server;
    httplib::Client &http = server.client.http();

    const httplib::Result home = http.Get("/");
    ASSERT_TRUE(home);
    EXPECT_EQ(home->status, 200);
    EXPECT_EQ(home->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(home->body.find("<title>OrvaneVPN</title>"), std::string::npos) << home->body;

    const httplib::Result pay = http.Get("/webpay/?token=abcdef1234&time=1767225600");
    ASSERT_TRUE(pay);
    EXPECT_EQ(pay->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(pay->body.find("token of length 10"), std::string::npos) << pay->body;
    EXPECT_NE(pay->body.find("1767225600"), std::string::npos) << pay->body;
    EXPECT_EQ(pay->body.find("abcdef1234"), std::string::npos) << pay->body;

    const httplib::Result terms = http.Get("/license/%E7%94%A8%E6%88%B7%E5%8D%8F%E8%AE%AE.txt");
    ASSERT_TRUE(terms);
    EXPECT_EQ(terms->status, 200);
    EXPECT_EQ(terms->get_header_value("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_NE(terms->body.find("用户协议"), std::string::npos) << terms->body;

    const httplib::Result privacy = http.Get("/license/%E9%9A%90%E7%A7%81%E5%8D%8F%E8%AE%AE.txt");
    ASSERT_TRUE(privacy);
    EXPECT_EQ(privacy->status, 200);
    EXPECT_NE(privacy->body.find("隐私协议"), std::string::npos) << privacy->body;

    const httplib::Result chat = http.Get("/service/chat.html");
    ASSERT_TRUE(chat);
    EXPECT_EQ(chat->status, 200);
    EXPECT_EQ(chat->get_header_value("Content-Type"), "text/html; charset=utf-8");

    const httplib::Result missing = http.Get("/license/other.txt");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
}
