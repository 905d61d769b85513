#pragma once

// The operating system the client is built for, as the service sees it: the prefix of the device
// identifier ("Linux-" + UUID) and the system in the User-Agent ("Linux 6.1.0"). A build for
// another system changes this one place.
namespace ClientPlatform {

inline constexpr const char *name = "Linux";

} // namespace ClientPlatform
