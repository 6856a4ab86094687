#pragma once

#include <string>
#include <string_view>

namespace tarnby::uuid {

// Canonical 8-4-4-4-12 hexadecimal text, either letter case.
bool isUUID(std::string_view text);

// A new random (version 4) UUID in upper-case canonical text.
std::string makeRandom();

}  // namespace tarnby::uuid
