// Paths as text: the separator is "/" on this system and "\" in the paths of
// the client's own platform; both separate here.
#pragma once

#include <string_view>

namespace trd {

// The part of `path` after its last separator (the whole path when it has
// none): "C:\Fontes\Cadastro.dfm" and "/src/Cadastro.dfm" give Cadastro.dfm.
std::string_view FileName(std::string_view path);
// The part before its last separator (empty when it has none).
std::string_view DirectoryOf(std::string_view path);

}  // namespace trd
