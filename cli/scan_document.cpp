#include "cli/scan_document.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "core/platform/hex.h"
#include "core/platform/json_text.h"
#include "core/platform/utf8.h"
#include "core/records/storage_error.h"

namespace quillet::cli {

namespace {

using tarnby::json::Value;
using Json = nlohmann::json;

std::string bytesFromHex(std::string_view text) {
    auto bytes = tarnby::hex::decoded(text);
    if (!bytes) throw tarnby::DecodingError("\"pathBytes\" is not hexadecimal");
    return std::move(*bytes);
}

// Seconds since 1970 with the nanoseconds as an exact decimal fraction.
Value timeValue(const std::optional<tarnby::TimePoint>& when) {
    if (!when) return Value();
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(when->time_since_epoch()).count();
    // Sign and magnitude: "-1.25" is 1.25 s before 1970.
    const std::uint64_t magnitude = nanos < 0 ? 0 - static_cast<std::uint64_t>(nanos) : nanos;
    std::string digits = std::to_string(magnitude % 1'000'000'000);
    digits.insert(0, 9 - digits.size(), '0');
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    return Value::number((nanos < 0 ? "-" : "") + std::to_string(magnitude / 1'000'000'000) + "." + digits);
}

Value optionalText(const std::optional<std::string>& text) { return text ? Value(validUtf8(*text)) : Value(); }

Value itemValue(const tarnby::StorageItem& item) {
    Value value = Value::object();
    value.set("path", validUtf8(item.url));
    if (!tarnby::utf8::isValid(item.url)) value.set("pathBytes", tarnby::hex::encoded(item.url));
    value.set("kind", std::string(tarnby::rawValue(item.kind)));
    value.set("title", validUtf8(item.title));
    value.set("explanation", validUtf8(item.explanation));
    value.set("rebuild", validUtf8(item.rebuild));
    value.set("bytes", item.measurement.bytes);
    value.set("files", item.measurement.files);
    value.set("modified", timeValue(item.measurement.modified));
    value.set("fingerprint", item.measurement.fingerprint);
    value.set("complete", item.measurement.complete);
    value.set("freedBytes", item.measurement.freedBytes);
    Value largest = Value::array();
    for (const tarnby::ChildBytes& child : item.measurement.largest) {
        Value entry = Value::object();
        entry.set("name", validUtf8(child.name));
        entry.set("bytes", child.bytes);
        largest.append(std::move(entry));
    }
    value.set("largest", std::move(largest));
    value.set("selectable", item.selectable());
    value.set("deviceID", optionalText(item.deviceID));
    value.set("lastBoot", timeValue(item.lastBoot));
    value.set("protection", optionalText(item.protection));
    return value;
}

Value textArray(const auto& texts) {
    Value array = Value::array();
    for (const std::string& text : texts) array.append(validUtf8(text));
    return array;
}

const Json& member(const Json& object, const char* key, const char* where) {
    const auto found = object.find(key);
    if (found == object.end()) {
        throw tarnby::DecodingError(std::string(where) + " has no \"" + key + "\"");
    }
    return *found;
}

std::string text(const Json& object, const char* key, const char* where) {
    const Json& value = member(object, key, where);
    if (!value.is_string()) throw tarnby::DecodingError(std::string("\"") + key + "\" is not a string");
    return value.get<std::string>();
}

std::optional<std::string> optionalText(const Json& object, const char* key, const char* where) {
    const Json& value = member(object, key, where);
    if (value.is_null()) return std::nullopt;
    if (!value.is_string()) throw tarnby::DecodingError(std::string("\"") + key + "\" is not a string or null");
    return value.get<std::string>();
}

std::int64_t integer(const Json& object, const char* key, const char* where) {
    const Json& value = member(object, key, where);
    if (value.is_number_integer() && !(value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX)) {
        return value.get<std::int64_t>();
    }
    throw tarnby::DecodingError(std::string("\"") + key + "\" is not a 64-bit integer");
}

bool boolean(const Json& object, const char* key, const char* where) {
    const Json& value = member(object, key, where);
    if (!value.is_boolean()) throw tarnby::DecodingError(std::string("\"") + key + "\" is not true or false");
    return value.get<bool>();
}

std::optional<tarnby::TimePoint> time(const Json& object, const char* key, const char* where) {
    const Json& value = member(object, key, where);
    if (value.is_null()) return std::nullopt;
    if (!value.is_number()) throw tarnby::DecodingError(std::string("\"") + key + "\" is not a number or null");
    const double seconds = value.get<double>();
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e11) {
        throw tarnby::DecodingError(std::string("\"") + key + "\" is out of range");
    }
    // Beyond what a time point holds (a file dated past 2262): held at the end, as the scan did.
    constexpr auto kLimit = tarnby::kTimePointSecondsLimit;
    if (std::fabs(seconds) >= static_cast<double>(kLimit)) {
        return tarnby::timePointSince1970(seconds > 0 ? kLimit + 1 : -kLimit - 1, 0);
    }
    return tarnby::TimePoint(
        std::chrono::duration_cast<tarnby::TimePoint::duration>(std::chrono::duration<double>(seconds)));
}

std::vector<std::string> texts(const Json& object, const char* key) {
    const Json& value = member(object, key, "the document");
    if (!value.is_array()) throw tarnby::DecodingError(std::string("\"") + key + "\" is not an array");
    std::vector<std::string> out;
    for (const Json& element : value) {
        if (!element.is_string()) throw tarnby::DecodingError(std::string("\"") + key + "\" holds a non-string");
        out.push_back(element.get<std::string>());
    }
    return out;
}

tarnby::StorageItem decodeItem(const Json& object) {
    constexpr const char* kWhere = "an item";
    if (!object.is_object()) throw tarnby::DecodingError("an item is not an object");
    tarnby::StorageItem item;
    item.url = text(object, "path", kWhere);
    if (const auto bytes = object.find("pathBytes"); bytes != object.end()) {
        if (!bytes->is_string()) throw tarnby::DecodingError("\"pathBytes\" is not a string");
        item.url = bytesFromHex(bytes->get<std::string>());
    }
    const std::string kind = text(object, "kind", kWhere);
    const auto parsedKind = tarnby::storageKindFromRawValue(kind);
    if (!parsedKind) throw tarnby::DecodingError("unknown kind \"" + kind + "\"");
    item.kind = *parsedKind;
    item.title = text(object, "title", kWhere);
    item.explanation = text(object, "explanation", kWhere);
    item.rebuild = text(object, "rebuild", kWhere);
    item.measurement.bytes = integer(object, "bytes", kWhere);
    item.measurement.files = integer(object, "files", kWhere);
    item.measurement.modified = time(object, "modified", kWhere);
    item.measurement.fingerprint = text(object, "fingerprint", kWhere);
    item.measurement.complete = boolean(object, "complete", kWhere);
    // Documents from before these keys still read: nothing was known then of sharing or children.
    if (object.contains("freedBytes")) item.measurement.freedBytes = integer(object, "freedBytes", kWhere);
    if (const auto largest = object.find("largest"); largest != object.end()) {
        if (!largest->is_array()) throw tarnby::DecodingError("\"largest\" is not an array");
        for (const Json& child : *largest) {
            if (!child.is_object()) throw tarnby::DecodingError("a child in \"largest\" is not an object");
            item.measurement.largest.push_back({text(child, "name", "a child"), integer(child, "bytes", "a child")});
        }
    }
    item.deviceID = optionalText(object, "deviceID", kWhere);
    item.lastBoot = time(object, "lastBoot", kWhere);
    item.protection = optionalText(object, "protection", kWhere);
    return item;
}

// Every text is made valid before it goes in, so the writer has nothing to refuse.
std::string compact(const Value& value) {
    return tarnby::json::write(value, tarnby::json::Layout::compact).value_or("{}");
}

Value documentValue(const ScanDocument& document) {
    Value root = Value::object();
    root.set("home", validUtf8(document.home));
    root.set("roots", textArray(document.roots));
    root.set("kept", textArray(document.kept));
    root.set("cancelled", document.result.cancelled);
    root.set("notes", textArray(document.result.notes));
    return root;
}

}  // namespace

std::string validUtf8(std::string_view input) {
    if (tarnby::utf8::isValid(input)) return std::string(input);
    std::string out;
    out.reserve(input.size() + 8);
    for (std::size_t offset = 0; offset < input.size();) {
        const tarnby::utf8::Decoded c = tarnby::utf8::decodeAt(input, offset);
        if (c.scalar < 0) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(input.substr(offset, c.length));
        }
        offset += c.length;
    }
    return out;
}

std::string encodeScanDocument(const ScanDocument& document) {
    Value items = Value::array();
    for (const auto& item : document.result.items) items.append(itemValue(item));
    Value root = documentValue(document);
    root.set("items", std::move(items));
    return compact(root);
}

std::string encodeStreamedItem(const tarnby::StorageItem& item) { return compact(itemValue(item)); }

std::string encodeStreamEnd(const ScanDocument& document) { return compact(documentValue(document)); }

ScanDocument decodeScanDocument(std::string_view json) {
    Json root;
    try {
        root = Json::parse(json.begin(), json.end());
    } catch (const Json::exception& error) {
        throw tarnby::DecodingError(std::string("not JSON (") + error.what() + ")");
    }
    if (!root.is_object()) throw tarnby::DecodingError("the document is not a JSON object");
    ScanDocument document;
    try {
        document.home = text(root, "home", "the document");
        document.roots = texts(root, "roots");
        for (auto& path : texts(root, "kept")) document.kept.insert(std::move(path));
        document.result.cancelled = boolean(root, "cancelled", "the document");
        document.result.notes = texts(root, "notes");
        const Json& items = member(root, "items", "the document");
        if (!items.is_array()) throw tarnby::DecodingError("\"items\" is not an array");
        for (const Json& item : items) document.result.items.push_back(decodeItem(item));
    } catch (const Json::exception& error) {
        throw tarnby::DecodingError(error.what());
    }
    return document;
}

}  // namespace quillet::cli
