// The quick look's products are made in a work folder beside the output folder and moved into
// it only once every one of them is made: a quick look that fails leaves the output folder as
// it was (an earlier quick look in it untouched) and nothing of its own behind.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace quicklook {

class ProductFolder {
 public:
  // `out`: the output folder, made at the end when it does not exist. Its parent folders are
  // made now (the work folder lies among them) and removed again if the quick look fails.
  // Throws kit::ToolError when `out` is a file or no folder can be made beside it.
  explicit ProductFolder(std::filesystem::path out);
  ~ProductFolder();  // removes the work folder, and unless committed the parents it made
  ProductFolder(const ProductFolder&) = delete;
  ProductFolder& operator=(const ProductFolder&) = delete;

  const std::filesystem::path& work() const { return work_; }

  // Moves what the work folder holds into the output folder, each product replacing its
  // namesake; a product of `every_product` that this quick look did not make is removed from
  // the output folder, so that it never mixes two quick looks. Anything else there is left.
  void commit(std::initializer_list<std::string_view> every_product);

 private:
  void remove_made_parents();

  std::filesystem::path out_;     // as given, for messages
  std::filesystem::path target_;  // the same, absolute
  std::filesystem::path work_;
  std::vector<std::filesystem::path> made_parents_;  // the deepest first
  bool committed_ = false;
};

}  // namespace quicklook
