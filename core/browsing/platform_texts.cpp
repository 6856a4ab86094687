#include "core/browsing/platform_texts.h"

namespace tarnby::browsing {

namespace {

constexpr PlatformTexts kMac{
    "On this Mac",
    "Scans stay on your Mac. No telemetry or background cleanup.",
    "Reveal in Finder",
    "The Finder could not be asked to show this item.",
    "Changed items are kept. Close builds and development servers first. Disk-space estimates can differ because "
    "of shared APFS blocks and hard links.",
    "through hard links or APFS clones",
};

// File systems here share blocks too (reflinks on Btrfs and XFS), just not under APFS's name.
constexpr PlatformTexts kFreedesktop{
    "On this computer",
    "Scans stay on this computer. No telemetry or background cleanup.",
    "Open in File Manager",
    "No file manager answered, so nothing was opened.",
    "Changed items are kept. Close builds and development servers first. Disk-space estimates can differ because "
    "of shared file-system blocks and hard links.",
    // Reflinks are not seen here, so only hard links are named.
    "through hard links",
};

}  // namespace

const PlatformTexts& platformTexts(Desktop desktop) { return desktop == Desktop::mac ? kMac : kFreedesktop; }

const PlatformTexts& platformTexts() {
#ifdef __APPLE__
    return platformTexts(Desktop::mac);
#else
    return platformTexts(Desktop::freedesktop);
#endif
}

}  // namespace tarnby::browsing
