// A source tree that meets every rule of the listing (run/FileDiscovery.h):
// the six subtrees in any letter case, each with its kind of file, hidden
// files, and what is not entered or not listed (a folder named Cli, a hidden
// folder, a link back to a parent, files outside the subtrees or of the
// other kind).
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "support/TempTree.h"

namespace trd::test {

// Builds the tree in `dir`; returns the paths a listing must find, in the
// order of the lists (ASCII case ignored).
inline std::vector<std::string> BuildListingTree(const TempTree& dir) {
  auto touch = [&dir](const std::string& relative) { return dir.Write(relative, "x"); };
  std::vector<std::string> listed = {
      touch("Cli/Src/Vendas/Pedido.dfm"),
      touch("Cli/Std/Lib/Util.DFM"),
      touch("Rel/cli/Extra.qr2"),  // only "Cli" exactly is skipped
      touch("Rel/Resumo.qr2"),
      touch("Cli/Src/.Oculto.dfm"),  // a hidden file is listed
      touch("Cli/Std/Ger/Menu.Principal.dfm"),
      touch("Cli/clientes/Cliente.dfm"),  // "cli/clientes" resolved ignoring case
      touch("Cli/Std/Frm/Base/Fundo.dfm"),
  };
  touch("Cli/Src/Relat.qr2");              // wrong kind for its subtree
  touch("Rel/Tela.dfm");                   // wrong kind for its subtree
  touch("Rel/Cli/Extra.qr2");              // "Cli" folder not entered
  touch("Cli/Src/Vendas/Cli/Dentro.dfm");  // not at any depth
  touch("Solto.dfm");                      // outside the subtrees
  touch("Cli/Std/Fora.dfm");               // outside the subtrees
  touch("Cli/Src/.oculta/Escondido.dfm");  // hidden directory not entered
  touch("Cli/Std/Frm/Notas.txt");
  std::filesystem::create_directory_symlink(dir.Dir(), dir.Dir() / "Cli/Src/volta");  // link to a parent
  std::sort(listed.begin(), listed.end(),
            [](const std::string& a, const std::string& b) { return text::CompareIgnoreCase(a, b) < 0; });
  return listed;
}

}  // namespace trd::test
