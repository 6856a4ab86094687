#include "core/records/storage_kind.h"

namespace tarnby {

std::string_view rawValue(StorageKind kind) {
    switch (kind) {
        case StorageKind::dependencies: return "dependencies";
        case StorageKind::builds: return "builds";
        case StorageKind::caches: return "caches";
        case StorageKind::simulators: return "simulators";
    }
    return "";
}

std::string_view title(StorageKind kind) {
    switch (kind) {
        case StorageKind::dependencies: return "Dependencies";
        case StorageKind::builds: return "Build outputs";
        case StorageKind::caches: return "Package caches";
        case StorageKind::simulators: return "Simulators";
    }
    return "";
}

std::string_view symbol(StorageKind kind) {
    switch (kind) {
        case StorageKind::dependencies: return "shippingbox";
        case StorageKind::builds: return "hammer";
        case StorageKind::caches: return "externaldrive";
        case StorageKind::simulators: return "iphone";
    }
    return "";
}

std::optional<StorageKind> storageKindFromRawValue(std::string_view raw) {
    for (StorageKind kind : kAllStorageKinds) {
        if (rawValue(kind) == raw) return kind;
    }
    return std::nullopt;
}

}  // namespace tarnby
