#include "core/preferences/saved_preferences.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "core/platform/file_system.h"
#include "core/platform/json_text.h"
#include "core/platform/paths.h"
#include "core/scanning/project_locations.h"

namespace tarnby {

namespace {

constexpr const char* kNotePrefix = "Could not save settings: ";

// Nothing unless `document` holds an array of strings under `key`.
std::optional<std::vector<std::string>> strings(const nlohmann::json& document, const char* key) {
    const auto found = document.find(key);
    if (found == document.end() || !found->is_array()) return std::nullopt;
    std::vector<std::string> result;
    result.reserve(found->size());
    for (const auto& element : *found) {
        if (!element.is_string()) return std::nullopt;
        result.push_back(element.get<std::string>());
    }
    return result;
}

std::optional<SavedPreferences> decode(const std::string& text) {
    try {
        const nlohmann::json document = nlohmann::json::parse(text);
        if (!document.is_object()) return std::nullopt;
        auto roots = strings(document, "roots");
        auto kept = strings(document, "kept");
        if (!roots || !kept) return std::nullopt;
        return SavedPreferences{std::move(*roots), std::set<std::string>(kept->begin(), kept->end())};
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::string sentence(std::string reason) {
    if (!reason.empty() && reason.back() != '.') reason += '.';
    return kNotePrefix + reason;
}

}  // namespace

std::string preferencesPath(const std::string& home) {
    return tarnby::paths::appending(home, "Library/Application Support/Tarnby/preferences.json");
}

SavedPreferences loadPreferences(const std::string& home) {
    if (const auto text = tarnby::fs::readFile(preferencesPath(home))) {
        if (auto stored = decode(*text)) return std::move(*stored);
    }
    return SavedPreferences{tarnby::ProjectLocations::suggested(home), {}};
}

std::vector<std::string> normalizedRoots(const std::vector<std::string>& roots) {
    std::vector<std::string> result;
    result.reserve(roots.size());
    for (const std::string& root : roots) {
        // A folder that is missing right now (an unplugged disk, a renamed checkout) has no
        // links to resolve, but the user still chose it: keep it rather than drop it silently.
        auto resolved = tarnby::paths::resolvingSymlinks(root);
        result.push_back(resolved ? std::move(*resolved) : tarnby::paths::standardized(root));
    }
    // std::string compares bytes, and UTF-8 byte order is code point order.
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

std::optional<std::string> savePreferences(const std::string& home, const SavedPreferences& preferences) {
    try {
        const std::string path = preferencesPath(home);
        if (std::string error = tarnby::fs::createDirectories(tarnby::paths::parent(path)); !error.empty()) {
            return sentence(std::move(error));
        }

        tarnby::json::Value roots = tarnby::json::Value::array();
        for (const std::string& root : preferences.roots) roots.append(root);
        tarnby::json::Value kept = tarnby::json::Value::array();
        for (const std::string& item : preferences.kept) kept.append(item);
        tarnby::json::Value document = tarnby::json::Value::object();
        document.set("roots", std::move(roots)).set("kept", std::move(kept));
        const auto text = tarnby::json::write(document, tarnby::json::Layout::compact);
        if (!text) return sentence("A folder or item path is not valid UTF-8 text.");

        if (std::string error = tarnby::fs::writeFileAtomically(path, *text); !error.empty()) {
            return sentence(std::move(error));
        }
        return std::nullopt;
    } catch (const std::exception&) {
        return sentence("There was not enough memory to write the file.");
    }
}

}  // namespace tarnby
