// Putting a completely written file in the place of another, so that a
// failure at any point leaves the original as it was.
#pragma once

#include <string>

namespace qova {

// Moves `temp` over `target` in one rename, replacing a target marked
// read-only too. When the two lie on different volumes, `temp` is first
// copied beside the target under its own file name and renamed from there.
// True on success (`temp` is then gone). On failure the target is untouched
// and `temp` is left for the caller to remove.
bool replaceFile(const std::string& temp, const std::string& target);

// True when both paths name one existing file.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace qova
