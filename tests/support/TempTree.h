// A private temporary directory, removed with everything in it when the
// object goes. Write() creates the missing directories of a file.
//
//   TempTree dir("trd-fault");          // /tmp/trd-fault-XXXXXX
//   std::string form = dir.Write("Cli/Src/a.dfm", text);
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace trd::test {

class TempTree {
 public:
  explicit TempTree(const std::string& prefix = "trd") {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory " + pattern);
    dir_ = pattern;
  }
  ~TempTree() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // Writes `bytes` to the file `relative` and returns its path.
  std::string Write(const std::string& relative, const std::string& bytes) const {
    auto p = dir_ / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
  std::string Path(const std::string& relative = "") const { return (dir_ / relative).string(); }
  const std::filesystem::path& Dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

}  // namespace trd::test
