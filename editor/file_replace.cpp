#include "editor/file_replace.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace qova {
namespace {

// One rename; on a target without write permission (the read-only mark on
// Windows, which refuses the replacement) the mark is lifted for the attempt
// and put back when it fails.
bool renameOver(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (!ec) return true;
  fs::file_status status = fs::status(to, ec);
  if (ec || !fs::is_regular_file(status) ||
      (status.permissions() & fs::perms::owner_write) != fs::perms::none) {
    return false;
  }
  fs::permissions(to, fs::perms::owner_write, fs::perm_options::add, ec);
  if (ec) return false;
  fs::rename(from, to, ec);
  if (!ec) return true;
  fs::permissions(to, status.permissions(), fs::perm_options::replace, ec);
  return false;
}

}  // namespace

bool replaceFile(const std::string& temp, const std::string& target) {
  fs::path from(temp);
  fs::path to(target);
  if (renameOver(from, to)) return true;

  // Different volumes cannot be renamed across: copy next to the target
  // first, so that the replacement itself is still a single rename.
  std::error_code ec;
  fs::path beside = fs::absolute(to, ec).parent_path() / from.filename();
  if (ec || sameFile(beside.string(), temp) || sameFile(beside.string(), target)) return false;
  if (!fs::copy_file(from, beside, fs::copy_options::overwrite_existing, ec) || ec) {
    fs::remove(beside, ec);
    return false;
  }
  if (!renameOver(beside, to)) {
    fs::remove(beside, ec);
    return false;
  }
  fs::remove(from, ec);
  return true;
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  bool same = fs::equivalent(a, b, ec);
  return !ec && same;
}

}  // namespace qova
