#include "Uuid.h"

#include <cstdio>
#include <random>

namespace Platform {

std::string makeUuid()
{
    std::random_device random;
    std::uniform_int_distribution<unsigned> byte(0, 255);
    unsigned char bytes[16];
    for (auto &value : bytes)
        value = static_cast<unsigned char>(byte(random));
    bytes[6] = (bytes[6] & 0x0f) | 0x40; // version 4
    bytes[8] = (bytes[8] & 0x3f) | 0x80; // RFC 4122 variant
    char text[37];
    std::snprintf(text,
                  sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  bytes[0],
                  bytes[1],
                  bytes[2],
                  bytes[3],
                  bytes[4],
                  bytes[5],
                  bytes[6],
                  bytes[7],
                  bytes[8],
                  bytes[9],
                  bytes[10],
                  bytes[11],
                  bytes[12],
                  bytes[13],
                  bytes[14],
                  bytes[15]);
    return text;
}

} // namespace Platform
