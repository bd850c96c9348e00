#include "FileDiscovery.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/Text.h"

namespace trd::run {
namespace fs = std::filesystem;
namespace {

struct Entry {
  std::string name;
  bool is_directory = false;  // a real directory, not a link to one
  bool is_file = false;       // a regular file, or a link to one: reading a FIFO, a device or a
                              // socket would block or never end
};

// Reads a directory's entries; an unreadable directory has none.
std::vector<Entry> ReadEntries(const std::string& dir) {
  std::vector<Entry> out;
  std::error_code ec;
  fs::directory_iterator it(fs::path(dir), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    Entry e;
    e.name = it->path().filename().string();
    std::error_code ec_type;
    fs::file_status own = it->symlink_status(ec_type);
    fs::file_status target = it->status(ec_type);
    e.is_directory = fs::is_directory(own);
    e.is_file = fs::is_regular_file(target);
    out.push_back(std::move(e));
  }
  return out;
}

bool EndsWithKind(std::string_view name, std::string_view kind) {
  if (name.size() < kind.size() + 1) return false;
  std::string_view tail = name.substr(name.size() - kind.size() - 1);
  return tail[0] == '.' && text::EqualsIgnoreCase(tail.substr(1), kind);
}

WalkControl Yield(const ListingSink& sink) {
  return sink.yield ? sink.yield() : WalkControl::Continue;
}

std::string WithoutTrailingSeparator(std::string_view dir) {
  while (dir.size() > 1 && dir.back() == kSeparator) dir.remove_suffix(1);
  return std::string(dir);
}

}  // namespace

const std::array<SourceSubtree, 6>& SourceSubtrees() {
  static const std::array<SourceSubtree, 6> table = {{
      {"/Cli/Src", "dfm"},
      {"/Rel", "qr2"},
      {"/Cli/Std/Ger", "dfm"},
      {"/Cli/Std/Lib", "dfm"},
      {"/Cli/Std/Frm", "dfm"},
      {"/cli/clientes", "dfm"},
  }};
  return table;
}

namespace {

// Resolves components[i..] below `current`: the exact spelling first, then
// every other spelling in name order, so that a spelling leading nowhere
// ("CLI" without "Src" below it) does not hide one that resolves ("cli/src").
std::optional<std::string> ResolveFrom(const std::string& current,
                                       const std::vector<std::string_view>& components, std::size_t i) {
  if (i == components.size()) return current;
  std::string prefix = current;
  if (prefix.empty() || prefix.back() != kSeparator) prefix += kSeparator;
  std::vector<std::string> candidates{prefix + std::string(components[i])};
  std::vector<std::string> others;
  for (const Entry& e : ReadEntries(prefix))
    if (e.name != components[i] && text::EqualsIgnoreCase(e.name, components[i])) others.push_back(e.name);
  std::sort(others.begin(), others.end());
  for (const std::string& name : others) candidates.push_back(prefix + name);
  for (const std::string& candidate : candidates) {
    std::error_code ec;
    if (!fs::is_directory(fs::path(candidate), ec)) continue;
    if (auto resolved = ResolveFrom(candidate, components, i + 1)) return resolved;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ResolveSubtree(std::string_view directory, std::string_view suffix) {
  std::vector<std::string_view> components;
  std::size_t pos = 0;
  while (pos <= suffix.size()) {
    std::size_t end = suffix.find(kSeparator, pos);
    if (end == std::string_view::npos) end = suffix.size();
    if (end > pos) components.push_back(suffix.substr(pos, end - pos));
    pos = end + 1;
  }
  return ResolveFrom(WithoutTrailingSeparator(directory), components, 0);
}

WalkControl ListaArquivos(std::string_view directory, std::string_view kind, const ListingSink& sink) {
  std::string d(directory);
  if (d.empty() || d.back() != kSeparator) d += kSeparator;
  const std::vector<Entry> entries = ReadEntries(d);

  for (const Entry& e : entries) {
    if (e.name.starts_with('.')) continue;  // hidden: not part of the search
    if (e.name != "Cli" && e.is_directory) {
      if (ListaArquivos(d + e.name, kind, sink) == WalkControl::Stop) return WalkControl::Stop;
    }
    if (Yield(sink) == WalkControl::Stop) return WalkControl::Stop;
  }

  if (kind != "dfm" && kind != "qr2") return WalkControl::Continue;
  for (const Entry& e : entries) {
    if (!e.is_file || !EndsWithKind(e.name, kind)) continue;
    if (sink.found) sink.found(d + e.name);
    if (Yield(sink) == WalkControl::Stop) return WalkControl::Stop;
  }
  return WalkControl::Continue;
}

WalkControl ListSourceTree(std::string_view directory, const ListingSink& sink) {
  for (const SourceSubtree& s : SourceSubtrees()) {
    std::optional<std::string> root = ResolveSubtree(directory, s.suffix);
    if (!root) continue;
    if (ListaArquivos(*root, s.kind, sink) == WalkControl::Stop) return WalkControl::Stop;
  }
  return WalkControl::Continue;
}

}  // namespace trd::run
