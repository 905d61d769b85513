#include "api/DataResponse.h"
#include "api/SessionManager.h"

#include "TemporaryHome.h"

#include <gtest/gtest.h>

namespace {

// depth times open, then inner, then depth times close.
std::string nested(std::size_t depth,
                   const std::string &open,
                   const std::string &close,
                   const std::string &inner = {})
{
    std::string text;
    for (std::size_t i = 0; i < depth; ++i)
        text += open;
    text += inner;
    for (std::size_t i = 0; i < depth; ++i)
        text += close;
    return text;
}

// What the request layer makes of an answer: "value:<JSON>" or "error:<description>".
std::string serialized(long status, const std::string &body)
{
    const auto result = DataResponse::serializeJSON(status, body);
    if (const auto *value = std::get_if<nlohmann::json>(&result))
        return "value:" + value->dump();
    return "error:" + localizedDescription(std::get<ResponseError>(result));
}

struct Serialization
{
    const char *name;
    long status;
    std::string body;
    std::string result;
};

void PrintTo(const Serialization &serialization, std::ostream *out)
{
    *out << serialization.name;
}

const std::string unreadable = "error:JSON could not be serialized because of error:\n"
                               "未能读取数据，因为它的格式不正确。";
const std::size_t limit = DataResponse::maximumJSONDepth;

const Serialization serializations[] = {
    {"NoContent", 204, "{not json", "value:null"},
    {"ResetContent", 205, "", "value:null"},
    {"Empty", 200, "", "error:Response could not be serialized, input data was nil or zero length."},
    {"Fragment", 200, " 5 ", "value:5"},
    {"TrailingText", 200, "{} {}", unreadable},
    {"ArraysToTheLimit", 200, nested(limit, "[", "]"), "value:" + nested(limit, "[", "]")},
    {"ArraysBeyondTheLimit", 200, nested(limit + 1, "[", "]"), unreadable},
    {"DictionariesToTheLimit",
     200,
     nested(limit, R"({"a":)", "}", "1"),
     "value:" + nested(limit, R"({"a":)", "}", "1")},
    {"DictionariesBeyondTheLimit", 200, nested(limit + 1, R"({"a":)", "}", "1"), unreadable},
    {"MixedBeyondTheLimit", 200, nested(limit / 2 + 1, R"([{"a":)", "}]", "1"), unreadable},
    {"DeepAfterAWellFormedStart",
     200,
     R"({"code": 0, "data": )" + nested(100'000, "[", "]") + "}",
     unreadable},
    {"DeepAndCutShort", 200, std::string(100'000, '['), unreadable},
    {"InvalidUtf8", 200, "[\"\xff\"]", unreadable},
};

class SerializationTest : public testing::TestWithParam<Serialization>
{ };

struct Timeout
{
    const char *name;
    std::optional<std::string> variable;
    std::chrono::milliseconds requestTimeout;
};

void PrintTo(const Timeout &timeout, std::ostream *out)
{
    *out << timeout.name;
}

const Timeout timeouts[] = {
    {"Unset", std::nullopt, std::chrono::milliseconds(30'000)},
    {"Milliseconds", "1500", std::chrono::milliseconds(1500)},
    {"Empty", "", std::chrono::milliseconds(30'000)},
    {"Zero", "0", std::chrono::milliseconds(30'000)},
    {"Negative", "-5", std::chrono::milliseconds(30'000)},
    {"NotANumber", "soon", std::chrono::milliseconds(30'000)},
    {"TrailingText", "1500ms", std::chrono::milliseconds(30'000)},
    {"OutOfRange", "99999999999999999999", std::chrono::milliseconds(30'000)},
};

class TimeoutTest : public testing::TestWithParam<Timeout>
{ };

} // namespace

TEST_P(SerializationTest, ReadsBodiesUpToTheDepthLimit)
{
    EXPECT_EQ(serialized(GetParam().status, GetParam().body), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Bodies,
                         SerializationTest,
                         testing::ValuesIn(serializations),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(TimeoutTest, TheStandardSessionTakesItsTimeOutFromTheEnvironment)
{
    TemporaryHome home;
    home.setVariable("ORVANE_REQUEST_TIMEOUT_MS", GetParam().variable);
    const auto configuration = SessionManager::Configuration::standard();
    EXPECT_EQ(configuration.requestTimeout, GetParam().requestTimeout);
    EXPECT_EQ(configuration.connectTimeout, std::chrono::milliseconds(10'000));
}

INSTANTIATE_TEST_SUITE_P(Variable, TimeoutTest, testing::ValuesIn(timeouts), [](const auto &info) {
    return std::string(info.param.name);
});
