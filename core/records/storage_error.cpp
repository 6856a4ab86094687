#include "core/records/storage_error.h"

namespace tarnby {

namespace {

std::string describe(StorageError::Code code, std::string payload) {
    switch (code) {
        case StorageError::Code::command: return payload;
        case StorageError::Code::unsafePath: return "This path is no longer a recognized cleanup target. Scan again.";
        case StorageError::Code::changed: return "This item changed after the scan. Scan again before cleaning it.";
        case StorageError::Code::incomplete: return "This item could not be fully inspected. It has been kept.";
        case StorageError::Code::cancelled: return "The operation was stopped.";
        case StorageError::Code::simulatorUnavailable:
            return "The simulator inventory is unavailable. Nothing was deleted.";
        case StorageError::Code::simulatorRunning:
            return "This simulator is running or its state is unknown. It has been kept.";
    }
    return {};
}

}  // namespace

StorageError::StorageError(Code code, std::string payload)
    : m_code(code), m_description(describe(code, std::move(payload))) {}

}  // namespace tarnby
