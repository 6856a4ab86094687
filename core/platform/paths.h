#pragma once

#include <optional>
#include <string>
#include <string_view>

// Path text handling. Paths are compared as text: nothing here follows links unless
// its name says so.
namespace tarnby::paths {

// "." and ".." removed, repeated separators collapsed, no trailing separator ("/" stays "/").
// ".." above the root stays at the root. Links are not resolved; the disk is not read.
std::string standardized(std::string_view path);

// Appends each "/"-separated component of `relative` in turn.
std::string appending(std::string_view path, std::string_view relative);

// The path with its last component removed; the parent of "/" is "/".
std::string parent(std::string_view path);

// The last component; "/" for "/".
std::string lastComponent(std::string_view path);

// True when `path` begins with `folder` followed by "/" (a folder does not lie inside itself).
bool liesInside(std::string_view path, std::string_view folder);

// The path as every view shows it: `home` + "/" at the start becomes "~/"; nothing else
// changes (not home itself, nor a later occurrence, nor a sibling like home + "g").
std::string abbreviatingHome(std::string_view path, std::string_view home);

// True when any component is exactly "." or "..".
bool hasDotComponent(std::string_view path);

// Every symbolic link resolved (realpath); nothing when that fails.
std::optional<std::string> resolvingSymlinks(const std::string& path);

}  // namespace tarnby::paths
