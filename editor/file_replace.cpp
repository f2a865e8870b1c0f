#include "editor/file_replace.h"

#include <system_error>

namespace fs = std::filesystem;

namespace qova {
namespace {

bool isReadOnly(const fs::file_status& status) {
  return fs::is_regular_file(status) &&
         (status.permissions() & fs::perms::owner_write) == fs::perms::none;
}

// One rename. A target without write permission (the read-only mark on
// Windows) is refused unless `replaceReadOnly`; then the mark is lifted for
// the attempt (Windows refuses to rename over it) and put back when it fails.
bool renameOver(const fs::path& from, const fs::path& to, bool replaceReadOnly) {
  std::error_code ec;
  fs::file_status status = fs::status(to, ec);
  bool readOnly = !ec && isReadOnly(status);
  if (readOnly && !replaceReadOnly) return false;
  fs::rename(from, to, ec);
  if (!ec) return true;
  if (!readOnly) return false;
  fs::permissions(to, fs::perms::owner_write, fs::perm_options::add, ec);
  if (ec) return false;
  fs::rename(from, to, ec);
  if (!ec) return true;
  fs::permissions(to, status.permissions(), fs::perm_options::replace, ec);
  return false;
}

}  // namespace

bool replaceFile(const fs::path& temp, const fs::path& target, bool replaceReadOnly) {
  if (renameOver(temp, target, replaceReadOnly)) return true;
  std::error_code ec;
  if (!replaceReadOnly && isReadOnlyFile(target)) return false;

  // Different volumes cannot be renamed across: copy next to the target
  // first, so that the replacement itself is still a single rename.
  fs::path absolute = fs::absolute(target, ec);
  if (ec) return false;
  fs::path beside = absolute.parent_path() / temp.filename();
  if (sameFile(beside, temp) || sameFile(beside, target)) return false;
  if (!fs::copy_file(temp, beside, fs::copy_options::overwrite_existing, ec) || ec) {
    removeQuietly(beside);
    return false;
  }
  if (!renameOver(beside, target, replaceReadOnly)) {
    removeQuietly(beside);
    return false;
  }
  removeQuietly(temp);
  return true;
}

fs::path besideOf(const fs::path& target, const char* name) {
  return target.parent_path() / fs::path(name);
}

bool isReadOnlyFile(const fs::path& path) {
  std::error_code ec;
  fs::file_status status = fs::status(path, ec);
  return !ec && isReadOnly(status);
}

bool sameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  bool same = fs::equivalent(a, b, ec);
  return !ec && same;
}

void removeQuietly(const fs::path& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

}  // namespace qova
