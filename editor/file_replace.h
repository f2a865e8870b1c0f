// Putting a completely written file in the place of another, so that a
// failure at any point leaves the original as it was.
#pragma once

#include <filesystem>

namespace qova {

// Moves `temp` over `target` in one rename. A target marked read-only (no
// owner write permission) is replaced only when `replaceReadOnly`: the mark
// is lifted for the rename and put back if it fails; otherwise such a target
// is refused. When the two lie on different volumes, `temp` is first copied
// beside the target under its own file name and renamed from there. True on
// success (`temp` is then gone). On failure the target is untouched and
// `temp` is left for the caller to remove.
bool replaceFile(const std::filesystem::path& temp, const std::filesystem::path& target,
                 bool replaceReadOnly);

// The file `name` in the folder of `target` (the working folder when the
// target names no folder).
std::filesystem::path besideOf(const std::filesystem::path& target, const char* name);

// True when `path` is a file marked read-only (no owner write permission).
bool isReadOnlyFile(const std::filesystem::path& path);

// True when both paths name one existing file.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Removes `path` if it is there; failures are ignored.
void removeQuietly(const std::filesystem::path& path);

}  // namespace qova
