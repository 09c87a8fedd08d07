#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

// Everything under a folder, for tests that must show that an operation wrote nothing where it
// does not belong: relative path -> "dir", "link -> <target>" (links are never followed) or
// "file <bytes>" (larger files by size and hash). Compare two snapshots with EXPECT_EQ; a
// difference names the path.
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot SnapshotTree(const std::filesystem::path& root);

// The names directly inside a folder, sorted (empty when it cannot be listed).
std::vector<std::string> ListFolderNames(const std::filesystem::path& folder);
