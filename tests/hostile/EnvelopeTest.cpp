#include "HostileTest.h"

#include "api/UserDefaultsCacheKeys.h"

#include <array>

using Platform::PropertyValue;

namespace {

constexpr const char noService[] = "failed:未找到订阅服务，请前往订阅";

// What the nine callers hear, in the order of allEndpoints. Whatever the data, the four calls of
// the sign-in panel and the user's record succeed when the envelope does.
std::array<std::string, 9> heard(const char *publicSetting,
                                 const char *serviceList,
                                 const char *nodeNames,
                                 const char *subscription)
{
    return {"succeeded",
            "succeeded",
            "succeeded",
            "succeeded",
            "succeeded",
            publicSetting,
            serviceList,
            nodeNames,
            subscription};
}

// A successful envelope whose "data" has the wrong shape for some calls, and what each caller
// hears. Nothing is stored, unless changes says otherwise.
struct DataShape
{
    const char *name;
    std::optional<PropertyValue> data; // nothing: no "data" at all
    std::array<std::string, 9> reports;
    Changes (*changes)(Endpoint endpoint) = [](Endpoint) {
        return Changes{};
    };
};

void PrintTo(const DataShape &shape, std::ostream *out)
{
    *out << shape.name;
}

const DataShape dataShapes[] = {
    {"Missing", std::nullopt, heard("ignored", noService, "ignored", "ignored")},
    {"Null", nullptr, heard("ignored", noService, "ignored", "ignored")},
    {"Boolean", false, heard("ignored", noService, "ignored", "ignored")},
    {"Integer", 5, heard("ignored", noService, "ignored", "ignored")},
    {"Real", 4.5, heard("ignored", noService, "ignored", "ignored")},
    {"Text", "text", heard("ignored", noService, "ignored", "ignored")},
    {"EmptyList", PropertyValue::array(), heard("ignored", noService, "names:[]", "names:[]")},
    {"ListOfNumbers",
     PropertyValue::array({1, 2}),
     heard("ignored", noService, "ignored", "names:[]")},
    // A dictionary without one expected member: the user's record becomes an empty one.
    {"EmptyDictionary",
     PropertyValue::object(),
     heard("succeeded", noService, "ignored", "ignored"),
     [](Endpoint endpoint) {
         return endpoint == Endpoint::userInfo
                    ? Changes{{{UserDefaultsCacheKeys::userInfo, PropertyValue::object()}}, {}}
                    : Changes{};
     }},
};

class DataShapeTest
    : public HostileTest
    , public testing::WithParamInterface<DataShape>
{ };

// Values of every JSON type but an integer, and no value at all.
std::vector<std::optional<PropertyValue>> notIntegers()
{
    return {std::nullopt,
            nullptr,
            false,
            0.0,
            "0",
            PropertyValue::array({0}),
            PropertyValue({{"code", 0}})};
}

std::vector<std::optional<PropertyValue>> notTexts()
{
    return {std::nullopt,
            nullptr,
            true,
            7,
            4.5,
            PropertyValue::array({"text"}),
            PropertyValue({{"msg", "text"}})};
}

std::string reply(const std::optional<PropertyValue> &code,
                  const std::optional<PropertyValue> &message,
                  const PropertyValue &data)
{
    PropertyValue body = {{"data", data}};
    if (code)
        body["code"] = *code;
    if (message)
        body["msg"] = *message;
    return body.dump();
}

using EnvelopeTest = HostileTest;

} // namespace

TEST_P(DataShapeTest, EveryCallFinishesAndStoresNothingUnexpected)
{
    const DataShape &shape = GetParam();
    for (std::size_t i = 0; i < allEndpoints.size(); ++i) {
        const Endpoint endpoint = allEndpoints[i];
        SCOPED_TRACE(name(endpoint));
        startOver(server.origin());
        PropertyValue body = {{"code", 0}, {"msg", ""}};
        if (shape.data)
            body["data"] = *shape.data;
        server.answer(path(endpoint), body.dump());

        EXPECT_EQ(calls.run(endpoint), shape.reports[i]);
        expectStored(shape.changes(endpoint));
    }
}

INSTANTIATE_TEST_SUITE_P(Data, DataShapeTest, testing::ValuesIn(dataShapes), [](const auto &info) {
    return std::string(info.param.name);
});

TEST_F(EnvelopeTest, ACodeThatIsNoIntegerIsAFailureWithTheMessage)
{
    for (const Endpoint endpoint : allEndpoints) {
        for (const auto &code : notIntegers()) {
            SCOPED_TRACE(name(endpoint) + " code " + (code ? code->dump() : "missing"));
            startOver(server.origin());
            server.answer(path(endpoint), reply(code, "bad code", validData(endpoint)));

            EXPECT_EQ(calls.run(endpoint), "failed:bad code");
            expectStored();
        }
    }
}

TEST_F(EnvelopeTest, AMessageThatIsNoTextIsReadAsAnEmptyOne)
{
    for (const Endpoint endpoint : allEndpoints) {
        for (const auto &message : notTexts()) {
            SCOPED_TRACE(name(endpoint) + " msg " + (message ? message->dump() : "missing"));
            startOver(server.origin());
            server.answer(path(endpoint), reply(10001, message, validData(endpoint)));
            EXPECT_EQ(calls.run(endpoint), "failed:");
            expectStored();

            // On success the message is not read at all.
            startOver(server.origin());
            server.answer(path(endpoint), reply(0, message, validData(endpoint)));
            EXPECT_EQ(calls.run(endpoint), validReport(endpoint));
            expectStored(validEffect(endpoint));
        }
    }
}

TEST_F(EnvelopeTest, AnExpiredSessionWithAMessageOfAnotherTypeStillEndsTheSession)
{
    for (const Endpoint endpoint : allEndpoints) {
        for (const auto &message : notTexts()) {
            SCOPED_TRACE(name(endpoint) + " msg " + (message ? message->dump() : "missing"));
            startOver(server.origin());
            server.answer(path(endpoint), reply(40101, message, validData(endpoint)));

            EXPECT_EQ(calls.run(endpoint), "failed:[40101]");
            expectStored(sessionCleared());
        }
    }
}

// A message that itself begins like an expired sign-in's report still ends each call once.
TEST_F(EnvelopeTest, AnExpiredSessionWhoseMessageLooksLikeOneCompletesOnce)
{
    for (const Endpoint endpoint : allEndpoints) {
        SCOPED_TRACE(name(endpoint));
        startOver(server.origin());
        server.answer(path(endpoint), reply(40101, "[40101]x", validData(endpoint)));
        EXPECT_EQ(calls.run(endpoint), "failed:[40101][40101]x");
        expectStored(sessionCleared());
    }
}

TEST_F(EnvelopeTest, ABodyThatIsNoDictionaryCannotBeRead)
{
    for (const Endpoint endpoint : allEndpoints) {
        for (const std::string body : {"null", "true", "0", "\"text\"", "[]", "[{\"code\": 0}]"}) {
            SCOPED_TRACE(name(endpoint) + " " + body);
            startOver(server.origin());
            server.answer(path(endpoint), body);

            const std::string report = calls.run(endpoint);
            EXPECT_EQ(report,
                      endpoint == Endpoint::serviceList ? "failed:数据有误:数据解析失败"
                                                        : "failed:数据解析失败");
            expectStored();
        }
    }
}
