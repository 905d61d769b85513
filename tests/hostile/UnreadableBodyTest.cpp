#include "HostileTest.h"

#include "api/DataResponse.h"
#include "api/SessionManager.h"
#include "api/UserDefaultsCacheKeys.h"

#include <functional>

using Platform::PropertyValue;

namespace {

constexpr const char unreadable[] = "failed:JSON could not be serialized because of error:\n"
                                    "未能读取数据，因为它的格式不正确。";
constexpr const char tooLarge[] = "failed:资源超出最大大小。";

std::string nestedArrays(std::size_t depth)
{
    return std::string(depth, '[') + std::string(depth, ']');
}

std::string nestedObjects(std::size_t depth)
{
    std::string text;
    for (std::size_t i = 0; i < depth; ++i)
        text += R"({"a":)";
    return text + "null" + std::string(depth, '}');
}

std::string withData(const std::string &data)
{
    return R"({"code": 0, "msg": "", "data": )" + data + "}";
}

std::size_t maximumBodySize()
{
    return SessionManager::Configuration{}.maximumBodySize;
}

// The call's well-formed reply, padded with white space to the given size.
std::string paddedTo(Endpoint endpoint, std::size_t size)
{
    std::string body = envelope(validData(endpoint));
    return body + std::string(size - body.size(), ' ');
}

// The call's well-formed reply with the raw bytes in the text the call reads (in "msg" for
// the calls that read no data).
std::string withRawText(Endpoint endpoint, const std::string &bytes)
{
    static constexpr const char marker[] = "@@raw@@";
    PropertyValue data = validData(endpoint);
    std::string message;
    switch (endpoint) {
    case Endpoint::login:
    case Endpoint::registerAccount:
        data["user"]["user_name"] = marker;
        break;
    case Endpoint::resetPassword:
    case Endpoint::emailCode:
        message = marker;
        break;
    case Endpoint::userInfo:
        data["user_name"] = marker;
        break;
    case Endpoint::publicSetting:
        data["backend_url"] = marker;
        break;
    case Endpoint::serviceList:
        data[0]["sub_uuid"] = marker;
        break;
    case Endpoint::nodeNames:
        data[0] = marker;
        break;
    case Endpoint::subscribeNodeList:
        data[0]["remarks"] = marker;
        break;
    }
    std::string body = envelope(data, 0, message);
    return body.replace(body.find(marker), sizeof marker - 1, bytes);
}

struct Unreadable
{
    const char *name;
    std::function<std::string(Endpoint)> body;
    const char *report;
};

void PrintTo(const Unreadable &reply, std::ostream *out)
{
    *out << reply.name;
}

const Unreadable unreadableBodies[] = {
    {"TenThousandDeepArrays", [](Endpoint) { return nestedArrays(10'000); }, unreadable},
    {"TenThousandDeepArraysAsData",
     [](Endpoint) { return withData(nestedArrays(10'000)); },
     unreadable},
    {"TenThousandDeepDictionariesAsData",
     [](Endpoint) { return withData(nestedObjects(10'000)); },
     unreadable},
    // Well below the size cap, and deep enough to overflow the stack of any code that copies,
    // logs or compares it by recursion.
    {"MillionDeepArraysAsData",
     [](Endpoint) { return withData(nestedArrays(1'000'000)); },
     unreadable},
    {"OneByteOverTheSizeCap",
     [](Endpoint endpoint) { return paddedTo(endpoint, maximumBodySize() + 1); },
     tooLarge},
    {"StrayContinuationByte", [](Endpoint e) { return withRawText(e, "香港\x80"); }, unreadable},
    {"ByteFF", [](Endpoint e) { return withRawText(e, "\xff\xfe"); }, unreadable},
    {"OverlongSlash", [](Endpoint e) { return withRawText(e, "\xc0\xaf"); }, unreadable},
    {"EncodedSurrogate", [](Endpoint e) { return withRawText(e, "\xed\xa0\x80"); }, unreadable},
    {"TruncatedSequence", [](Endpoint e) { return withRawText(e, "\xe4\xb8"); }, unreadable},
    {"EscapedLoneHighSurrogate", [](Endpoint e) { return withRawText(e, "\\ud800"); }, unreadable},
    {"EscapedLoneLowSurrogate", [](Endpoint e) { return withRawText(e, "x\\udc00"); }, unreadable},
};

class UnreadableBodyTest
    : public HostileTest
    , public testing::WithParamInterface<Unreadable>
{ };

using BodyLimitTest = HostileTest;

} // namespace

TEST_P(UnreadableBodyTest, FailsEveryCallAndStoresNothing)
{
    const Unreadable &reply = GetParam();
    for (const Endpoint endpoint : allEndpoints) {
        SCOPED_TRACE(name(endpoint));
        startOver(server.origin());
        server.answer(path(endpoint), reply.body(endpoint));

        EXPECT_EQ(calls.run(endpoint), reply.report);
        expectStored();
    }
}

INSTANTIATE_TEST_SUITE_P(Bodies,
                         UnreadableBodyTest,
                         testing::ValuesIn(unreadableBodies),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(BodyLimitTest, ABodyOfExactlyTheSizeCapIsRead)
{
    server.answer(path(Endpoint::nodeNames), paddedTo(Endpoint::nodeNames, maximumBodySize()));
    EXPECT_EQ(calls.run(Endpoint::nodeNames), validReport(Endpoint::nodeNames));
    expectStored(validEffect(Endpoint::nodeNames));
}

TEST_F(BodyLimitTest, DataNestedToTheDepthLimitIsReadAndOneLevelMoreIsNot)
{
    // The envelope is the first level.
    const std::size_t deepest = DataResponse::maximumJSONDepth - 1;
    server.answer(path(Endpoint::nodeNames), withData(nestedArrays(deepest)));
    EXPECT_EQ(calls.run(Endpoint::nodeNames), "ignored");
    expectStored();

    server.answer(path(Endpoint::nodeNames), withData(nestedArrays(deepest + 1)));
    EXPECT_EQ(calls.run(Endpoint::nodeNames), unreadable);
    expectStored();
}
