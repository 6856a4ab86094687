#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

// The only state that outlives the program: the project roots to scan and the paths the user
// kept out of cleanup, in one compact JSON file under the home folder. Plain C++, shared by the
// window's model and the command line. Synchronous; callers need no lock as long as one thread
// saves at a time (each save replaces the whole file, the last one wins).
namespace tarnby {

struct SavedPreferences {
    std::vector<std::string> roots;  // absolute paths, in the order the caller holds them
    std::set<std::string> kept;      // item paths (StorageItem::id)
};

// home + "/Library/Application Support/Tarnby/preferences.json".
std::string preferencesPath(const std::string& home);

// The stored roots and kept paths. When the file is absent, unreadable or not an object with
// "roots" and "kept" arrays of strings, the defaults: the suggested project folders of `home`
// and nothing kept. Reports nothing and never writes. An empty stored "roots" stays empty.
SavedPreferences loadPreferences(const std::string& home);

// Roots as they are saved after the user replaced them: each with symbolic links resolved
// (as given, standardized, when it cannot be resolved), duplicates removed, sorted by code
// point and case-sensitively ("/A" before "/a"). Reads the disk; never throws but bad_alloc.
std::vector<std::string> normalizedRoots(const std::vector<std::string>& roots);

// Writes `{"roots":[…],"kept":[…]}` compactly (roots in the given order, kept sorted), creating
// the folder with its missing parents, through a temporary file renamed into place, so a reader
// sees the old file or the new one, never a part. Nothing on success, else the note to show:
// "Could not save settings: " and the reason.
std::optional<std::string> savePreferences(const std::string& home, const SavedPreferences& preferences);

}  // namespace tarnby
