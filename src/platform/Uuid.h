#pragma once

#include <string>

namespace Platform {

// A fresh random (version 4) UUID in its canonical upper-case text form.
std::string makeUuid();

} // namespace Platform
