// The translation server's interface as client and server name it: its four
// data modules and their methods (the fourteen of the three modules the
// screen and `trd harvest` use, and those of the exchange module that
// `trd export`, `trd import`, `trd status`, `trd check`, `trd retire`,
// `trd history` and the progress page use). Names are compared ignoring ASCII case by the server. Arguments and
// results: docs/server.md ("Methods").
#pragma once

#include <string_view>

namespace trd::protocol {

// ---- Data modules ----------------------------------------------------------

// Form records, the language list and the version record (connection L).
inline constexpr std::string_view kModuleForms = "Trd00200.rdmLeituraDfm";
// Report records (connection R).
inline constexpr std::string_view kModuleReports = "Trd00900.rdmLeituraRel";
// Translations of a source text (connection U).
inline constexpr std::string_view kModuleTranslations = "Trd00500.rdmLeDfmRel";

// Listing, coverage and conditional translation for the translators' loop
// (protocol/Exchange.h holds its packets, filters and cursor).
inline constexpr std::string_view kModuleExchange = "Trd01100.rdmExpImpTrad";

// ---- Methods of kModuleForms -----------------------------------------------

inline constexpr std::string_view kGetIdiLeDfm = "GetIdiLeDfm";  // the languages
inline constexpr std::string_view kGetVersao = "GetVersao";      // the version record
inline constexpr std::string_view kGetPropried = "GetPropried";  // records of key + value
inline constexpr std::string_view kGetVerProp = "GetVerProp";    // records of key
inline constexpr std::string_view kSetVersao = "SetVersao";      // change set of the version
inline constexpr std::string_view kSetVerProp = "SetVerProp";    // change set: deleted records
inline constexpr std::string_view kSetPropried = "SetPropried";  // change set: new records
// One file's texts through the record rule in one transaction, an outcome
// per text (protocol/RecordBatch.h); for form and report files alike.
inline constexpr std::string_view kSetPropriedArq = "SetPropriedArq";

// ---- Methods of kModuleReports: the record methods for report files -------

inline constexpr std::string_view kGetPropriedRel = "GetPropriedRel";
inline constexpr std::string_view kGetVerPropRel = "GetVerPropRel";
inline constexpr std::string_view kSetVerPropRel = "SetVerPropRel";
inline constexpr std::string_view kSetPropriedRel = "SetPropriedRel";

// ---- Methods of kModuleTranslations ----------------------------------------

inline constexpr std::string_view kGetUpdRelDfm = "GetUpdRelDfm";  // translations of a source text
inline constexpr std::string_view kUpdateRelDfm = "UpdateRelDfm";  // stores one into a record

// ---- Methods of kModuleExchange -------------------------------------------

inline constexpr std::string_view kGetRegistros = "GetRegistros";  // a page of a language's records
inline constexpr std::string_view kGetCobertura = "GetCobertura";  // counts per program or language
inline constexpr std::string_view kGetTextos = "GetTextos";        // a page of records by source text
inline constexpr std::string_view kSetTraducoes = "SetTraducoes";  // conditional translations
inline constexpr std::string_view kGetRegTextos = "GetRegTextos";  // the records of given source texts
inline constexpr std::string_view kGetSugestoes = "GetSugestoes";  // suggestions from the translation memory
inline constexpr std::string_view kRetRegistros = "RetRegistros";  // removes records gone from the sources
inline constexpr std::string_view kGetHistorico = "GetHistorico";  // the changes of a record or of a source text
inline constexpr std::string_view kSetRevisao = "SetRevisao";      // approves records or sends them back

}  // namespace trd::protocol
