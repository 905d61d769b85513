#include "RequestParameters.h"

#include <nlohmann/json.hpp>

namespace Dev {

std::optional<Parameters> parametersOf(const std::string &body)
{
    const nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
    if (!document.is_object())
        return std::nullopt;
    Parameters parameters;
    for (const auto &[name, value] : document.items()) {
        if (!value.is_string())
            return std::nullopt;
        parameters[name] = value.get<std::string>();
    }
    return parameters;
}

bool hasAll(const Parameters &parameters, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        if (!parameters.contains(name))
            return false;
    }
    return true;
}

} // namespace Dev
