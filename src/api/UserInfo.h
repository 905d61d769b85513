#pragma once

#include "platform/PropertyValue.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

// The stored record of the signed-in user, under "key.qaro.user.info": its presence is what
// being signed in means. Only these members are kept, each only with its type:
// "id" (integer), "user_name", "avatar", "member_expiry_at" (text), "member_level" (integer), and
// "invitation_code", which sign-in replies carry as text and user-info replies as a number.
struct UserInfo
{
    enum class Source { signInReply, userInfoReply };

    static Platform::PropertyValue fromServerUser(const nlohmann::json &user, Source source);

    // Replaces the stored record, and stores its "user_name" as the account name.
    static void store(const Platform::PropertyValue &record);

    // The stored record; a stored value that is not a dictionary counts as none.
    static std::optional<Platform::PropertyValue> stored();

    // The membership expiry as shown ("yyyy-MM-dd HH:mm:ss", local time) and the whole days
    // from today to it. Nothing when the record has no expiry text; an expiry that does not
    // parse gives an empty display and no day count.
    struct Expiry
    {
        std::string display;
        std::optional<int> days;
    };
    static std::optional<Expiry> expiry(const Platform::PropertyValue &record);
};
