#include "HostileTest.h"

#include "api/QaroShared.h"
#include "api/UserDefaultsCacheKeys.h"

#include <algorithm>

using Keys = UserDefaultsCacheKeys;
using Platform::PropertyValue;

namespace {

enum class Type { integer, text, boolean, dictionary };

// Values of every JSON type but the given one.
std::vector<PropertyValue> valuesOtherThan(Type type)
{
    switch (type) {
    case Type::integer:
        return {nullptr,
                true,
                42.0,
                "42",
                PropertyValue::array({42}),
                PropertyValue({{"value", 42}})};
    case Type::text:
        return {nullptr,
                true,
                42,
                4.5,
                PropertyValue::array({"text"}),
                PropertyValue({{"value", "text"}})};
    case Type::boolean:
        return {nullptr,
                0,
                1,
                4.5,
                "false",
                PropertyValue::array({false}),
                PropertyValue({{"value", false}})};
    case Type::dictionary:
        return {nullptr, true, 42, 4.5, "text", PropertyValue::array({PropertyValue::object()})};
    }
    return {};
}

// One member a call reads, the type it reads it as, and what the client does when the member has
// another type or, inside a dictionary, is missing.
struct Member
{
    Endpoint endpoint;
    std::string pointer;
    Type type;
    Changes changes;
    std::string report;
};

void PrintTo(const Member &member, std::ostream *out)
{
    *out << name(member.endpoint) << member.pointer;
}

Changes validWithout(Endpoint endpoint, const std::string &key)
{
    Changes changes = validEffect(endpoint);
    changes.user.erase(key);
    changes.group.erase(key);
    return changes;
}

// The record is stored without the member; the account name stays the one from before when the
// record has none.
Changes recordWithout(Endpoint endpoint, const std::string &member)
{
    Changes changes = validEffect(endpoint);
    changes.user[Keys::userInfo]->erase(member);
    if (member == "user_name")
        changes.user.erase(Keys::userAccount);
    return changes;
}

std::vector<Member> members()
{
    std::vector<Member> members;
    const auto add =
        [&](Endpoint endpoint, std::string pointer, Type type, Changes changes, std::string report) {
            members.push_back({endpoint, std::move(pointer), type, std::move(changes), report});
        };
    const std::pair<const char *, Type> userMembers[] = {{"id", Type::integer},
                                                         {"user_name", Type::text},
                                                         {"avatar", Type::text},
                                                         {"member_expiry_at", Type::text},
                                                         {"member_level", Type::integer}};

    for (const Endpoint signIn : {Endpoint::login, Endpoint::registerAccount}) {
        add(signIn, "/token", Type::text, validWithout(signIn, Keys::apiToken), "succeeded");
        add(signIn, "/user", Type::dictionary, {{{Keys::apiToken, "token-after"}}, {}}, "succeeded");
        for (const auto &[member, type] : userMembers)
            add(signIn,
                "/user/" + std::string(member),
                type,
                recordWithout(signIn, member),
                "succeeded");
        // Sign-in replies carry the invitation code as text.
        add(signIn,
            "/user/invitation_code",
            Type::text,
            recordWithout(signIn, "invitation_code"),
            "succeeded");
    }

    for (const auto &[member, type] : userMembers)
        add(Endpoint::userInfo,
            "/" + std::string(member),
            type,
            recordWithout(Endpoint::userInfo, member),
            "succeeded");
    // User-info replies carry the invitation code as a number.
    add(Endpoint::userInfo,
        "/invitation_code",
        Type::integer,
        recordWithout(Endpoint::userInfo, "invitation_code"),
        "succeeded");

    add(Endpoint::publicSetting, "/backend_url", Type::text, {}, "succeeded");

    // Only the first service counts: when it is no dictionary, nothing is stored.
    add(Endpoint::serviceList, "/0", Type::dictionary, {}, "failed:未找到订阅服务，请前往订阅");
    add(Endpoint::serviceList,
        "/0/id",
        Type::integer,
        validWithout(Endpoint::serviceList, Keys::serverId),
        "succeeded");
    for (const char *traffic : {"/0/total_bandwidth", "/0/used_up", "/0/used_down"})
        add(Endpoint::serviceList,
            traffic,
            Type::integer,
            validWithout(Endpoint::serviceList, Keys::lastAmount),
            "succeeded");
    // Only false stops the service; anything else lets it through.
    for (const char *status : {"/0/service_status", "/0/sub_status"})
        add(Endpoint::serviceList,
            status,
            Type::boolean,
            validEffect(Endpoint::serviceList),
            "succeeded");
    add(Endpoint::serviceList,
        "/0/sub_uuid",
        Type::text,
        validWithout(Endpoint::serviceList, QaroShared::subUuidKey),
        "failed:subuuid.is.null");

    // Node names that are not all texts store nothing.
    add(Endpoint::nodeNames, "/1", Type::text, {}, "ignored");

    // Of the subscription's nodes, those that are no dictionary or have no text remarks are
    // passed over.
    const Changes firstNodeOnly = {{{Keys::subNodes, PropertyValue::array({"香港 01"})}}, {}};
    add(Endpoint::subscribeNodeList, "/1", Type::dictionary, firstNodeOnly, R"(names:["香港 01"])");
    add(Endpoint::subscribeNodeList, "/1/remarks", Type::text, firstNodeOnly, R"(names:["香港 01"])");
    return members;
}

class MemberTypesTest
    : public HostileTest
    , public testing::WithParamInterface<Member>
{ };

using WellFormedReplyTest = HostileTest;

} // namespace

TEST_P(MemberTypesTest, AMemberOfAnotherTypeIsPassedOverAndTheRestKept)
{
    const Member &member = GetParam();
    const nlohmann::json::json_pointer pointer(member.pointer);
    const auto others = valuesOtherThan(member.type);
    std::vector<std::optional<PropertyValue>> variants(others.begin(), others.end());
    if (validData(member.endpoint)[pointer.parent_pointer()].is_object())
        variants.push_back(std::nullopt); // missing altogether

    for (const auto &variant : variants) {
        SCOPED_TRACE(variant ? variant->dump() : "missing");
        startOver(server.origin());
        PropertyValue data = validData(member.endpoint);
        if (variant)
            data[pointer] = *variant;
        else
            data[pointer.parent_pointer()].erase(pointer.back());
        server.answer(path(member.endpoint), envelope(data));

        EXPECT_EQ(calls.run(member.endpoint), member.report);
        expectStored(member.changes);
    }
}

INSTANTIATE_TEST_SUITE_P(Replies,
                         MemberTypesTest,
                         testing::ValuesIn(members()),
                         [](const auto &info) {
                             std::string text = name(info.param.endpoint) + info.param.pointer;
                             std::replace(text.begin(), text.end(), '/', '_');
                             return text;
                         });

TEST_F(WellFormedReplyTest, IsStoredWhole)
{
    for (const Endpoint endpoint : allEndpoints) {
        SCOPED_TRACE(name(endpoint));
        startOver(server.origin());
        server.answer(path(endpoint), envelope(validData(endpoint)));

        EXPECT_EQ(calls.run(endpoint), validReport(endpoint));
        expectStored(validEffect(endpoint));
    }
}
