#include "HostileTest.h"

#include "api/UserInfo.h"

#include <ctime>

namespace {

// A membership expiry as a user-info reply gives it, and how the stored record shows it (in UTC).
// Any date of the years 1 to 9999 is shown and counted, "never" (9999-12-31) included.
struct Expiry
{
    const char *name;
    const char *text;
    const char *display;
    bool counted; // whether it has a day count
};

void PrintTo(const Expiry &expiry, std::ostream *out)
{
    *out << expiry.text;
}

const Expiry expiries[] = {
    {"Usual", "2027-01-06T15:04:05+08:00", "2027-01-06 07:04:05", true},
    {"PastTheNanosecondClock", "2262-04-12T00:00:00Z", "2262-04-12 00:00:00", true},
    {"Never", "9999-12-31T23:59:59Z", "9999-12-31 23:59:59", true},
    {"BeforeTheNanosecondClock", "1677-09-20T00:00:00Z", "1677-09-20 00:00:00", true},
    {"YearOne", "0001-01-01T00:00:00Z", "0001-01-01 00:00:00", true},
    // Shown as ISO 8601 writes the year before year 0; the day count reads four-digit years only.
    {"YearZero", "0000-01-01T00:00:00+14:00", "-0001-12-31 10:00:00", false},
    {"BeyondAnyCalendar", "999999999-12-31T23:59:59Z", "", false},
};

class ExpiryTest
    : public HostileTest
    , public testing::WithParamInterface<Expiry>
{ };

} // namespace

TEST_P(ExpiryTest, IsShownWhenItIsADate)
{
    home.setVariable("TZ", "UTC");
    ::tzset();
    nlohmann::json user = validData(Endpoint::userInfo);
    user["member_expiry_at"] = GetParam().text;
    server.answer(path(Endpoint::userInfo), envelope(user));
    ASSERT_EQ(calls.run(Endpoint::userInfo), "succeeded");

    const auto record = UserInfo::stored();
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)["member_expiry_at"], GetParam().text);
    const auto expiry = UserInfo::expiry(*record);
    ASSERT_TRUE(expiry);
    EXPECT_EQ(expiry->display, GetParam().display);
    EXPECT_EQ(expiry->days.has_value(), GetParam().counted);
}

INSTANTIATE_TEST_SUITE_P(Replies, ExpiryTest, testing::ValuesIn(expiries), [](const auto &info) {
    return std::string(info.param.name);
});
