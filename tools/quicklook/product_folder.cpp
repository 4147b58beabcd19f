#include "product_folder.hpp"

#include <fcntl.h>  // AT_FDCWD
#include <stdio.h>  // renameat2

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "kit/error.hpp"

namespace quicklook {

namespace {

namespace fs = std::filesystem;

std::string errno_text() {
  return std::strerror(errno);
}

// `dir` and the folders above it that do not exist yet, the deepest first.
std::vector<fs::path> missing_folders(const fs::path& dir) {
  std::vector<fs::path> missing;
  std::error_code ec;
  for (fs::path p = dir; p.has_relative_path() && !fs::exists(p, ec); p = p.parent_path())
    missing.push_back(p);
  return missing;
}

// Puts `from` in the place of `to`. A file replaces its namesake at once; a folder trades
// places with its namesake (rename() cannot replace a folder that holds files), which is left
// where `from` was, to go with the work folder.
void move_into_place(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  const int moved = fs::is_directory(from, ec) && fs::exists(to, ec)
                        ? renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE)
                        : std::rename(from.c_str(), to.c_str());
  if (moved != 0)
    throw kit::ToolError("cannot move " + from.string() + " to " + to.string() + ": " +
                         errno_text());
}

}  // namespace

ProductFolder::ProductFolder(fs::path out) : out_(std::move(out)) {
  // Absolute and without a trailing "/" or ".", so that the folder has a name and a parent.
  fs::path target = fs::absolute(out_).lexically_normal();
  if (!target.has_filename()) target = target.parent_path();
  target_ = target;
  std::error_code ec;
  if (fs::exists(target_, ec) && !fs::is_directory(target_, ec))
    throw kit::ToolError(out_.string() + " is not a folder");
  const fs::path parent = target_.parent_path();
  made_parents_ = missing_folders(parent);
  fs::create_directories(parent, ec);
  if (ec) throw kit::ToolError("cannot create " + parent.string() + ": " + ec.message());
  std::string leaf = ".";  // hidden, and named after the folder it becomes
  leaf += target_.filename().string();
  leaf += ".making-XXXXXX";
  std::string name = (parent / leaf).string();
  if (mkdtemp(name.data()) == nullptr) {
    const std::string why = errno_text();
    remove_made_parents();
    throw kit::ToolError("cannot create a folder in " + parent.string() + ": " + why);
  }
  work_ = name;
}

void ProductFolder::remove_made_parents() {
  std::error_code ec;
  for (const fs::path& p : made_parents_)
    fs::remove(p, ec);  // only when empty: nothing that another program put there
}

ProductFolder::~ProductFolder() {
  std::error_code ec;
  fs::remove_all(work_, ec);
  if (!committed_) remove_made_parents();
}

void ProductFolder::commit(std::initializer_list<std::string_view> every_product) {
  std::error_code ec;
  if (!fs::exists(target_, ec)) {
    if (std::rename(work_.c_str(), target_.c_str()) != 0)
      throw kit::ToolError("cannot rename " + work_.string() + " to " + out_.string() + ": " +
                           errno_text());
    committed_ = true;
    return;
  }
  std::set<std::string> made;
  for (const fs::directory_entry& e : fs::directory_iterator(work_))
    made.insert(e.path().filename().string());
  for (const std::string& name : made)
    move_into_place(work_ / name, target_ / name);
  for (std::string_view name : every_product)
    if (!made.contains(std::string(name))) fs::remove_all(target_ / name, ec);
  committed_ = true;
}

}  // namespace quicklook
