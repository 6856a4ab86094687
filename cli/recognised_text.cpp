#include "cli/recognised_text.h"

#include <string_view>
#include <vector>

#include "core/scanning/target_catalogue.h"

namespace quillet::cli {

namespace {

namespace catalogue = tarnby::TargetCatalogue;

constexpr std::size_t kWidth = 79;

// One table row: `first` and `second` in columns, then `words` filled to kWidth under the
// third column. A word never breaks, so a path with blanks stays whole.
void appendRow(std::string& text, std::string_view first, std::size_t firstWidth, std::string_view second,
               std::size_t secondWidth, const std::vector<std::string>& words) {
    std::string line = "  " + std::string(first);
    line.resize(2 + firstWidth, ' ');
    line += second;
    const std::size_t indent = 2 + firstWidth + secondWidth;
    line.resize(indent, ' ');
    bool lineHasWord = false;
    for (const auto& word : words) {
        if (lineHasWord && line.size() + 1 + word.size() > kWidth) {
            text += line + "\n";
            line.assign(indent, ' ');
            lineHasWord = false;
        }
        if (lineHasWord) line += ' ';
        line += word;
        lineHasWord = true;
    }
    text += line + "\n";
}

// "a, b, c or d", each name one word.
void appendChoice(std::vector<std::string>& words, const std::vector<std::string_view>& names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string word(names[i]);
        if (i + 2 < names.size()) word += ",";
        words.push_back(std::move(word));
        if (i + 2 == names.size()) words.emplace_back("or");
    }
}

std::string homePath(std::string_view relative) { return "~/" + std::string(relative); }

std::string linuxPath(const catalogue::Place& place) {
    switch (place.base) {
        case catalogue::Base::xdgCache: return "~/.cache/" + std::string(place.path);
        case catalogue::Base::xdgData: return "~/.local/share/" + std::string(place.path);
        case catalogue::Base::home: break;
    }
    return homePath(place.path);
}

}  // namespace

std::string recognisedText() {
    std::string text =
        "What a scan recognises\n\nIn project folders, a folder beside its marker, titled \"project / folder\":\n";
    for (const auto& row : catalogue::kWalkedTargets) {
        std::vector<std::string> words;
        words.emplace_back(row.place == catalogue::MarkerPlace::inside ? "holding" : "beside");
        std::vector<std::string_view> markers;
        for (const auto marker : row.markers) {
            if (!marker.empty()) markers.push_back(marker);
        }
        appendChoice(words, markers);
        appendRow(text, row.name, 15, tarnby::rawValue(row.kind), 14, words);
    }

    text +=
        "\nCaches in the home folder: the first location on every system, the one after\n"
        "\"Linux:\" only on Linux. There ~/.cache and ~/.local/share stand for\n"
        "$XDG_CACHE_HOME and $XDG_DATA_HOME; these and the variables that move a cache\n"
        "count for your own home only.\n";
    for (const auto& row : catalogue::kHomeCaches) {
        std::vector<std::string> words;
        const bool linuxOnly = row.macOS.empty();
        if (!linuxOnly) words.push_back(homePath(row.macOS) + ";");
        if (!row.linuxPlace.path.empty()) words.push_back("Linux: " + linuxPath(row.linuxPlace) + ";");
        std::vector<std::string> moved;
        for (const auto& variable : row.movedBy) {
            if (variable.name.empty()) continue;
            moved.push_back("$" + std::string(variable.name));
            if (!variable.below.empty()) moved.back() += "/" + std::string(variable.below);
        }
        if (moved.empty()) {
            words.back().pop_back();  // the ";" only separates the locations from the variables
        } else {
            words.emplace_back("moved");
            words.emplace_back("by");
            appendChoice(words, std::vector<std::string_view>(moved.begin(), moved.end()));
        }
        const std::string place = linuxOnly ? linuxPath(row.linuxPlace) : homePath(row.macOS);
        appendRow(text, catalogue::located(row, place).title, 24, "", 0, words);
    }

    text +=
        "\nXcode: each folder of ~/Library/Developer/Xcode/DerivedData (builds) and each\n"
        "device folder of ~/Library/Developer/CoreSimulator/Devices (simulators).\n";
    return text;
}

}  // namespace quillet::cli
