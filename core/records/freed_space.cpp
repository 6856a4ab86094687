#include "core/records/freed_space.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace tarnby {

namespace {

bool liesWithin(std::string_view path, std::string_view folder) {
    return path == folder || (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/');
}

}  // namespace

FreedSpace freedTogether(std::span<const StorageItem* const> items) {
    // Shortest paths first, so an item is met after any item holding it.
    std::vector<const StorageItem*> outermost(items.begin(), items.end());
    std::sort(outermost.begin(), outermost.end(),
              [](const StorageItem* a, const StorageItem* b) { return a->url.size() < b->url.size(); });
    std::vector<const StorageItem*> kept;
    for (const StorageItem* item : outermost) {
        const auto holds = [item](const StorageItem* other) { return liesWithin(item->url, other->url); };
        if (std::none_of(kept.begin(), kept.end(), holds)) kept.push_back(item);
    }

    FreedSpace freed;
    std::vector<SharedLink> shared;
    for (const StorageItem* item : kept) {
        freed.bytes += item->measurement.freedBytes;
        freed.estimate = freed.estimate || item->measurement.sharedLinksCut;
        shared.insert(shared.end(), item->measurement.sharedLinks.begin(), item->measurement.sharedLinks.end());
    }
    const auto identity = [](const SharedLink& link) { return std::pair(link.device, link.inode); };
    std::sort(shared.begin(), shared.end(),
              [&](const SharedLink& a, const SharedLink& b) { return identity(a) < identity(b); });
    for (auto first = shared.begin(); first != shared.end();) {
        const auto last = std::find_if(first, shared.end(),
                                       [&](const SharedLink& link) { return identity(link) != identity(*first); });
        std::uint64_t inside = 0;
        std::uint32_t links = 0;
        for (auto link = first; link != last; ++link) {
            inside += link->linksInside;
            links = std::max(links, link->links);
        }
        if (inside >= links) freed.bytes += 512 * first->blocks;
        first = last;
    }
    return freed;
}

FreedSpace freedTogether(std::span<const StorageItem> items) {
    std::vector<const StorageItem*> pointers;
    pointers.reserve(items.size());
    for (const StorageItem& item : items) pointers.push_back(&item);
    return freedTogether(pointers);
}

}  // namespace tarnby
