// The command line's client of the exchange module (docs/server.md, "The
// exchange module"): whole listings read page by page, so that memory stays
// bounded whatever the table's size, coverage, and conditional translations
// sent in batches that fit the server's request limit.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ServerChoice.h"
#include "platform/Connection.h"
#include "protocol/Exchange.h"

namespace trd::cli {

class ExchangeClient {
 public:
  explicit ExchangeClient(const ServerChoice& server);

  // The language codes the server knows (GetIdiLeDfm), in its order.
  std::vector<std::string> Languages();
  // `code` upper-cased when the server knows it; throws Error listing the
  // known codes otherwise.
  std::string KnownLanguage(const std::string& code);

  struct RecordFilter {
    std::string language;
    protocol::StateFilter state = protocol::StateFilter::All;
    std::vector<std::string> programs;  // empty: every program
  };
  // Every record of the filter in key order (GetRegistros), one page held at
  // a time.
  void ForEachRecord(const RecordFilter& filter, const std::function<void(const Row&)>& visit);

  // Every source text of `language` with the records that hold it (GetTextos
  // order), one text and one page held at a time.
  void ForEachText(const std::string& language,
                   const std::function<void(const std::string& source, const std::vector<Row>& records)>& visit);

  // A source text with its records (of the programs asked for), in key order.
  struct TextRecords {
    std::string source;
    std::vector<Row> records;
  };
  // Every source text of `language` (of the records of `programs`; every
  // program when empty) in the order a translator reads them: by the first
  // key that holds each text (program, form, component, property, number),
  // given to `visit` a batch of texts at a time. The records are read in key
  // order (GetRegistros) and the texts met for the first time on a page are
  // asked for with all their records (GetRegTextos): memory holds a page, its
  // texts' records and 16 bytes per text seen.
  void ForEachTextInKeyOrder(const std::string& language, const std::vector<std::string>& programs,
                             const std::function<void(std::vector<TextRecords>&)>& visit);

  // GetSugestoes for `texts`, in batches the server takes: one row per text
  // (protocol::SuggestionFields()).
  std::vector<Row> Suggestions(const std::string& language, const std::vector<std::string>& texts);

  // GetCobertura: of `programs` of `language` (at most
  // protocol::kMaxProgramsAsked), or of every program when empty. A server
  // that takes no programs (older than the argument) is asked the whole
  // language, and its rows of `programs` are answered.
  Packet Coverage(const std::string& language, const std::vector<std::string>& programs = {});

  // GetHistorico: the changes of the record of `key`, or of the records of a
  // language that held `source`; oldest first.
  Packet HistoryOfKey(const protocol::RecordKey& key);
  Packet HistoryOfText(const std::string& language, const std::string& source);
  // (Followed page by page; the one packet holds the history fields alone.)

  // SetTraducoes of one batch (at most kMaxTranslationChanges rows, a body
  // well within the request limit: see kBatchBytes).
  Packet SetTranslations(const std::string& language, Packet changes, protocol::SetMode mode);

  // RetRegistros of `records` (protocol::RetireFields()), all in one
  // request and so in one transaction: one outcome row per record.
  Packet Retire(const std::string& language, Packet records);

  // SetRevisao of one batch (protocol::ReviewListFields(), at most
  // kMaxTranslationChanges rows): one outcome row per entry.
  Packet Review(const std::string& language, protocol::ReviewAction action, Packet records);

  // The bytes of texts one SetTraducoes batch carries at most, a quarter of
  // the server's default request limit (8 MiB), whatever the escaping.
  static constexpr std::size_t kBatchBytes = std::size_t(1) << 20;

 private:
  Value Call(Connection& c, std::string_view method, std::vector<Value> args);
  Packet Page(std::string_view method, std::vector<Value> args);
  Packet HistoryPages(std::vector<Value> args);
  // The records of `texts` (GetRegTextos, as many calls as it takes), by text.
  std::vector<TextRecords> RecordsOfTexts(const std::string& language, const std::string& programs,
                                          const std::vector<std::string>& texts);
  // Calls `ask` with consecutive slices [first, last) of `texts` that one
  // request carries (kMaxTextsAsked texts, about kBatchBytes of text).
  static void InBatches(const std::vector<std::string>& texts,
                        const std::function<void(std::size_t first, std::size_t last)>& ask);

  Connection exchange_;
  Connection forms_;
  bool whole_coverage_only_ = false;  // the server takes no programs argument to GetCobertura
};

}  // namespace trd::cli
