// Names of the translation server's data modules and methods.
#pragma once

namespace trd::store {

inline constexpr const char* kModuleLeituraDfm = "Trd00200.rdmLeituraDfm";  // NetTradRelDfm
inline constexpr const char* kModuleLeituraRel = "Trd00900.rdmLeituraRel";  // netImportRel
inline constexpr const char* kModuleLeDfmRel = "Trd00500.rdmLeDfmRel";      // netUpdRelDfm

}  // namespace trd::store
