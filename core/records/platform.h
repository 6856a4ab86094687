#pragma once

namespace tarnby {

// Whose conventions a home folder follows. The host decides by default; tests pass the other
// one so that both behaviours are checked on one machine.
enum class Platform { macOS, linuxDesktop };

#ifdef __linux__
inline constexpr Platform kHostPlatform = Platform::linuxDesktop;
#else
inline constexpr Platform kHostPlatform = Platform::macOS;
#endif

}  // namespace tarnby
