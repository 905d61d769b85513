#include "HostileTest.h"

#include "api/UserInfo.h"

#include <ctime>

namespace {

// A membership expiry as a user-info reply gives it, and how the stored record shows it (in UTC).
// The clock counts nanoseconds in 64 bits: it holds dates from 1677-09-21 to 2262-04-11 only.
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
    {"LastDayTheClockHolds", "2262-04-11T00:00:00Z", "2262-04-11 00:00:00", true},
    {"FirstDayBeyondTheClock", "2262-04-12T00:00:00Z", "", false},
    {"Never", "9999-12-31T23:59:59Z", "", false},
    {"FirstDayTheClockHolds", "1677-09-22T00:00:00Z", "1677-09-22 00:00:00", true},
    {"LastDayBeforeTheClock", "1677-09-20T00:00:00Z", "", false},
    {"YearZero", "0000-01-01T00:00:00+14:00", "", false},
};

class ExpiryTest
    : public HostileTest
    , public testing::WithParamInterface<Expiry>
{ };

} // namespace

TEST_P(ExpiryTest, IsShownOnlyWhenTheClockCanHoldIt)
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
