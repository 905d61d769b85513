#pragma once

#include <string>

namespace ReferenceProvider {

// The application group's preferences the provider reads at start (subscription uuid, node and
// routing mode), as JSON for the log with the uuid masked. Missing keys show as null.
std::string groupPreferencesForLog();

} // namespace ReferenceProvider
