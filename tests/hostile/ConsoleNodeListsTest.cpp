#include "HostileTest.h"

#include "api/UserDefaultsCacheKeys.h"

using Keys = UserDefaultsCacheKeys;
using Platform::PropertyValue;

namespace {

// A reply to one of the console's node-list calls, which have no completion, and what the
// console is left with.
struct ConsoleNodeList
{
    const char *name;
    Endpoint endpoint;
    std::string body;
    const char *report;
    Changes changes;
};

void PrintTo(const ConsoleNodeList &list, std::ostream *out)
{
    *out << list.name;
}

std::vector<ConsoleNodeList> consoleNodeLists()
{
    const std::string deep = R"({"code": 0, "data": )" + std::string(10'000, '[')
                             + std::string(10'000, ']') + "}";
    const std::string expired = R"({"code": 40101, "msg": null, "data": null})";
    return {
        {"Names",
         Endpoint::nodeNames,
         envelope(validData(Endpoint::nodeNames)),
         "finished",
         validEffect(Endpoint::nodeNames)},
        {"NamesNotAllTexts",
         Endpoint::nodeNames,
         envelope(PropertyValue::array({"香港 01", nullptr})),
         "finished",
         {}},
        {"NamesInADictionary",
         Endpoint::nodeNames,
         envelope(PropertyValue({{"0", "香港 01"}})),
         "finished",
         {}},
        {"NamesTooDeep",
         Endpoint::nodeNames,
         deep,
         "failed:JSON could not be serialized because of error:\n"
         "未能读取数据，因为它的格式不正确。",
         {}},
        {"NamesOfAnExpiredSession", Endpoint::nodeNames, expired, "failed:[40101]", sessionCleared()},
        {"Subscription",
         Endpoint::subscribeNodeList,
         envelope(validData(Endpoint::subscribeNodeList)),
         "finished",
         validEffect(Endpoint::subscribeNodeList)},
        {"SubscriptionWithStrangers",
         Endpoint::subscribeNodeList,
         envelope(PropertyValue::array(
             {"香港 01", {{"remarks", 5}}, {{"remarks", "日本 01"}}, PropertyValue::array()})),
         "finished",
         {{{Keys::subNodes, PropertyValue::array({"日本 01"})}}, {}}},
        {"SubscriptionWithoutRemarks",
         Endpoint::subscribeNodeList,
         envelope(PropertyValue::array({{{"name", "香港 01"}}})),
         "finished",
         {}},
        {"SubscriptionTooDeep",
         Endpoint::subscribeNodeList,
         deep,
         "failed:JSON could not be serialized because of error:\n"
         "未能读取数据，因为它的格式不正确。",
         {}},
        {"SubscriptionOfAnExpiredSession",
         Endpoint::subscribeNodeList,
         expired,
         "failed:[40101]",
         sessionCleared()},
    };
}

class ConsoleNodeListTest
    : public HostileTest
    , public testing::WithParamInterface<ConsoleNodeList>
{ };

} // namespace

TEST_P(ConsoleNodeListTest, FinishesAndStoresOnlyWhatHasTheExpectedShape)
{
    const ConsoleNodeList &list = GetParam();
    server.answer(path(list.endpoint), list.body);
    EXPECT_EQ(calls.runFromConsole(list.endpoint), list.report);
    expectStored(list.changes);
}

INSTANTIATE_TEST_SUITE_P(Replies,
                         ConsoleNodeListTest,
                         testing::ValuesIn(consoleNodeLists()),
                         [](const auto &info) { return std::string(info.param.name); });
