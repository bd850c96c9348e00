// Source file discovery: which form files (*.dfm) and report files (*.qr2)
// below a chosen directory are candidates for harvesting. Looks at names
// only; reads no file. Qt-free, so that the screen and the command line share
// it.
//
// Layout. Six subtrees of the chosen directory are searched, each for one
// kind of file, in this order: Cli/Src (dfm), Rel (qr2), Cli/Std/Ger (dfm),
// Cli/Std/Lib (dfm), Cli/Std/Frm (dfm), cli/clientes (dfm). A subtree's
// components are matched ignoring letter case, one by one, so "cli/src" on
// disk is found for Cli/Src; where several spellings exist the exact one is
// tried first, then the others in name order, and the first that resolves
// the whole subtree wins. A missing or unreadable subtree adds nothing.
//
// Walk (ListaArquivos). Within a directory the subdirectories are listed
// before the directory's own files, depth first. Skipped while descending:
// hidden entries (names beginning with "."), entries named exactly "Cli"
// (letter case compared: "cli" and "CLI" are entered) and links to
// directories (no loops). Files are taken when their name ends in "." + kind
// ignoring letter case, hidden ones included, when they are regular files or
// links to regular files; directories, dangling links, FIFOs, devices and
// sockets (and links to them) are not. Entries come in the order the file
// system returns them.
//
// Paths are built as: the directory, "/", the resolved subtree, "/", the
// subdirectories passed, each followed by "/", and the file name as the file
// system spells it.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace trd::run {

inline constexpr char kSeparator = '/';

struct SourceSubtree {
  std::string_view suffix;  // "/Cli/Src": components after the chosen directory
  std::string_view kind;    // "dfm" or "qr2"
};

// The six source subtrees in listing order.
const std::array<SourceSubtree, 6>& SourceSubtrees();

enum class WalkControl { Continue, Stop };

// What a walk reports to. `found` receives each listed path; `yield`, when
// set, is called after every directory entry and every listed file (the
// screen lets pending user-interface events run there) and stops the walk at
// once by returning Stop.
struct ListingSink {
  std::function<void(const std::string& path)> found;
  std::function<WalkControl()> yield;
};

// `directory` followed by `suffix`, each component of the suffix matched
// ignoring letter case; std::nullopt when one does not exist. A trailing "/"
// of `directory` is not doubled.
std::optional<std::string> ResolveSubtree(std::string_view directory, std::string_view suffix);

// Lists the files of `kind` ("dfm" or "qr2", compared exactly; any other kind
// lists no file, the subdirectories are still walked) in `directory` and its
// subdirectories. Returns Stop when the sink stopped the walk.
WalkControl ListaArquivos(std::string_view directory, std::string_view kind, const ListingSink& sink);

// Lists every source subtree of `directory` in order.
WalkControl ListSourceTree(std::string_view directory, const ListingSink& sink);

}  // namespace trd::run
