#include "core/platform/plist.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>

#include "core/platform/file_system.h"

namespace tarnby::plist {

namespace {
// Property-list dates count from 2001-01-01 00:00 UTC.
constexpr std::int64_t kReferenceDateOffset = 978307200;
// Device property lists are small; anything this large is not one.
constexpr std::size_t kMaximumSize = 16 * 1024 * 1024;
}  // namespace

std::optional<TimePoint> dateValue(const std::string& path, std::string_view key) {
    auto data = fs::readFile(path, kMaximumSize);
    if (!data || data->empty()) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(data->data(), static_cast<uint32_t>(data->size()), &root);
    if (root == nullptr) return std::nullopt;
    std::optional<TimePoint> result;
    if (plist_get_node_type(root) == PLIST_DICT && plist_dict_get_size(root) > 0) {
        const std::string keyText(key);
        plist_t node = plist_dict_get_item(root, keyText.c_str());
        if (node != nullptr && plist_get_node_type(node) == PLIST_DATE) {
            int32_t seconds = 0;
            int32_t microseconds = 0;
            plist_get_date_val(node, &seconds, &microseconds);
            const auto since1970 =
                std::chrono::seconds(kReferenceDateOffset + seconds) + std::chrono::microseconds(microseconds);
            result = TimePoint(std::chrono::duration_cast<TimePoint::duration>(since1970));
        }
    }
    plist_free(root);
    return result;
}

std::optional<std::string> stringValue(std::string_view data, std::string_view key) {
    if (data.empty() || data.size() > kMaximumSize) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    if (root == nullptr) return std::nullopt;
    std::optional<std::string> result;
    if (plist_get_node_type(root) == PLIST_DICT) {
        const std::string keyText(key);
        plist_t node = plist_dict_get_item(root, keyText.c_str());
        if (node != nullptr && plist_get_node_type(node) == PLIST_STRING) {
            // plist_get_string_val asserts (ends the process) on a string holding a NUL; a
            // value like that is no setting of ours either.
            uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            if (text != nullptr && std::string_view(text, length).find('\0') == std::string_view::npos) {
                result = std::string(text, length);
            }
        }
    }
    plist_free(root);
    return result;
}

}  // namespace tarnby::plist
