#include "core/scanning/walk_tally.h"

#include <algorithm>

namespace tarnby::walk {

namespace {

constexpr std::size_t kLargestChildren = 10;

void keepLargest(std::vector<SharedLink>& shared, std::size_t limit, bool& cut) {
    const auto identity = [](const SharedLink& link) { return std::pair(link.device, link.inode); };
    cut = shared.size() > limit;
    if (cut) {
        // The largest decide a figure most; by identity among equals, so every run keeps the same.
        const auto larger = [&](const SharedLink& a, const SharedLink& b) {
            return a.blocks != b.blocks ? a.blocks > b.blocks : identity(a) < identity(b);
        };
        std::nth_element(shared.begin(), shared.begin() + static_cast<std::ptrdiff_t>(limit), shared.end(), larger);
        shared.resize(limit);
    }
    shared.shrink_to_fit();  // kept with the item for as long as the scan's result lives
    std::sort(shared.begin(), shared.end(),
              [&](const SharedLink& a, const SharedLink& b) { return identity(a) < identity(b); });
}

std::vector<ChildBytes> largestChildren(const Folder& root, const std::vector<std::int64_t>& childBytes) {
    std::vector<std::uint32_t> order;
    for (std::uint32_t i = 0; i < childBytes.size(); ++i) {
        if (childBytes[i] > 0) order.push_back(i);
    }
    const auto larger = [&](std::uint32_t a, std::uint32_t b) {
        if (childBytes[a] != childBytes[b]) return childBytes[a] > childBytes[b];
        return root.childName(root.children[a]) < root.childName(root.children[b]);
    };
    const auto end = order.begin() + static_cast<std::ptrdiff_t>(std::min(order.size(), kLargestChildren));
    std::partial_sort(order.begin(), end, order.end(), larger);
    std::vector<ChildBytes> largest;
    for (auto i = order.begin(); i != end; ++i) {
        largest.push_back({std::string(root.childName(root.children[*i])), childBytes[*i]});
    }
    return largest;
}

}  // namespace

void Tally::noteModified(const EntryStat& entry) {
    const TimePoint when = timePointSince1970(entry.modifiedSeconds, entry.modifiedNanoseconds);
    if (!modified || *modified < when) modified = when;
}

void Tally::addSingle(std::int64_t blocks, std::int64_t freedBytes) {
    files += 1;
    bytes += 512 * blocks;
    freed += freedBytes;
}

void Tally::addLinked(const Identity& identity, std::int64_t blocks, std::uint32_t links, std::uint32_t top) {
    const auto [file, added] = linked.try_emplace(identity, LinkedFile{blocks, links, 0, top});
    file->second.seen += 1;
    file->second.links = std::max(file->second.links, links);
    if (!added && file->second.top != top) otherTops.emplace_back(identity, top);
}

void Tally::combine(Tally& part) {
    bytes += part.bytes;
    files += part.files;
    freed += part.freed;
    if (part.modified && (!modified || *modified < *part.modified)) modified = part.modified;
    complete = complete && part.complete;
    for (const auto& [identity, met] : part.linked) {
        const auto [file, added] = linked.try_emplace(identity, met);
        if (added) continue;
        // Another link to a file another thread met too.
        file->second.seen += met.seen;
        file->second.links = std::max(file->second.links, met.links);
        if (file->second.top != met.top) otherTops.emplace_back(identity, met.top);
    }
    otherTops.insert(otherTops.end(), part.otherTops.begin(), part.otherTops.end());
    part.linked.clear();
    part.otherTops.clear();
}

void settle(Tally& total, const Folder& root, std::vector<std::int64_t>& childBytes, std::size_t sharedLimit,
            Measurement& result) {
    result.bytes = total.bytes;
    result.files = total.files;
    result.freedBytes = total.freed;
    std::vector<SharedLink> shared;
    for (const auto& [identity, file] : total.linked) {
        const std::int64_t bytes = 512 * file.blocks;
        result.files += 1;
        result.bytes += bytes;
        if (file.seen >= file.links) {
            result.freedBytes += bytes;
        } else {
            shared.push_back({identity.first, identity.second, file.blocks, file.links, file.seen});
        }
        if (file.top < childBytes.size()) childBytes[file.top] += bytes;
    }
    // A child holding several links to one file counts it once, as the folder does.
    // Plain algorithms: clang 14 cannot build libstdc++ 12's ranges::unique.
    std::sort(total.otherTops.begin(), total.otherTops.end());
    total.otherTops.erase(std::unique(total.otherTops.begin(), total.otherTops.end()), total.otherTops.end());
    for (const auto& [identity, top] : total.otherTops) {
        const LinkedFile& file = total.linked.at(identity);
        if (top != file.top && top < childBytes.size()) childBytes[top] += 512 * file.blocks;
    }
    keepLargest(shared, sharedLimit, result.sharedLinksCut);
    result.sharedLinks = std::move(shared);
    result.largest = largestChildren(root, childBytes);
}

}  // namespace tarnby::walk
