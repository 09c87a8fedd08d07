#include "support/TreeSnapshot.h"

#include <algorithm>
#include <cstdint>
#include <system_error>

#include "support/TempDir.h"

namespace fs = std::filesystem;

TreeSnapshot SnapshotTree(const fs::path& root) {
    TreeSnapshot tree;
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& p = it->path();
        const std::string rel = p.lexically_relative(root).string();
        std::error_code typeEc;
        const fs::file_status status = fs::symlink_status(p, typeEc);
        if (status.type() == fs::file_type::symlink) {
            tree[rel] = "link -> " + fs::read_symlink(p, typeEc).string();
        } else if (status.type() == fs::file_type::directory) {
            tree[rel] = "dir";
        } else {
            const std::string bytes = ReadFileBytes(p);
            if (bytes.size() <= 512) {
                tree[rel] = "file " + bytes;
            } else {
                // Videos: a size and a hash keep a failure message readable.
                uint64_t hash = 1469598103934665603ull;
                for (char c : bytes) {
                    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
                }
                tree[rel] = "file of " + std::to_string(bytes.size()) + " bytes, FNV-1a " +
                            std::to_string(hash);
            }
        }
    }
    if (ec) {
        tree["<listing failed>"] = ec.message();
    }
    return tree;
}

std::vector<std::string> ListFolderNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}
