// trd import FILE --lang CODE [--dry-run] [--json] [--server URL | --db URL]
//
// Stores the translations of a PO or XLIFF file (told apart by content) as
// a translator sends it back (docs/exchange.md, "What import applies"):
//   - the whole file is read and checked first: a malformed file, a file of
//     another language, a per-key unit naming a record of another language
//     end the command (status 1) before anything is written; then it is read
//     again and its units go out as they come, so that memory holds one
//     batch and the identities of the units seen (not the file's texts);
//   - skipped and counted: units without a translation, fuzzy PO entries,
//     XLIFF units not in a translated state;
//   - a unit that appears more than once (same source, or same record for a
//     per-key unit) is applied once, the first time; the repeats are counted
//     and a repeat with another translation is named;
//   - a translation over 4000 characters is named and not applied;
//   - every other unit goes through SetTraducoes: a per-text unit into
//     every record of the language holding its source text, a per-key unit
//     into its record, each only where the source text is still the one
//     exported. Units whose source text is gone (or whose record is gone)
//     are stale: listed, never applied.
// Changes go in batches, each applied in one transaction: an import cut
// short leaves whole batches, and running it again applies the rest (what
// was applied counts as already there). --dry-run asks the same questions
// in the server's dry-run mode and writes nothing.
// Summary on standard output (text, or one JSON object with --json).
// Exit status: 0 imported (stale and skipped units included), 1 failure.
#include <cstdint>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_map>

#include "Commands.h"
#include "ExchangeClient.h"
#include "ExchangeRows.h"
#include "exchange/Exchange.h"
#include "exchange/KeyText.h"
#include "platform/Errors.h"
#include "platform/Text.h"
#include "protocol/Methods.h"

namespace trd::cli {
namespace {

using namespace protocol;

struct ImportOptions {
  ServerOptions servers;
  std::string file;
  std::string language;
  bool dry_run = false;
  bool json = false;
};

struct Named {
  std::string id;
  std::string source;
  std::string key;  // per-key units: the record's key text
  std::string why;
};

// Units the summary names: how many, and the first kListed of them with
// their sources. A file of a million stale units is reported in the memory
// of a hundred.
struct NamedList {
  static constexpr std::size_t kListed = 100;
  std::size_t count = 0;
  std::vector<Named> first;

  void Add(Named n) {
    if (first.size() < kListed) first.push_back(std::move(n));
    ++count;
  }
};

struct ImportCounts {
  std::size_t units = 0;
  std::size_t skipped = 0;
  std::size_t repeated = 0;
  std::size_t units_translated = 0;
  std::size_t units_already = 0;
  std::size_t records_translated = 0;
  std::size_t records_already = 0;
  NamedList stale;
  NamedList refused;    // not applied: too long
  NamedList conflicts;  // repeats with another translation
};

Row ChangeOf(const exchange::Unit& u) {
  if (u.context) {
    const RecordKey& k = *u.context;
    return {k.program, k.form, k.component, k.property, k.number, u.source, *u.translation};
  }
  return {std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}, u.source,
          *u.translation};
}

Named NameOf(const exchange::Unit& u, std::string why) {
  return Named{exchange::IdOf(u), u.source, u.context ? exchange::KeyText(*u.context) : std::string(), std::move(why)};
}

void PrintNamed(std::ostream& out, const char* title, const NamedList& list) {
  if (list.count == 0) return;
  out << title;
  if (list.count > list.first.size()) out << ", the first " << list.first.size() << " of " << list.count;
  out << ":\n";
  for (const Named& n : list.first)
    out << "  " << n.id << (n.key.empty() ? "" : " " + n.key) << " \"" << text::Left(n.source, 60)
        << (text::Length(n.source) > 60 ? "...\"" : "\"") << (n.why.empty() ? "" : ": " + n.why) << "\n";
}

nlohmann::ordered_json JsonList(const NamedList& list) {
  auto a = nlohmann::ordered_json::array();
  for (const Named& n : list.first) {
    nlohmann::ordered_json j;
    j["id"] = n.id;
    j["source"] = n.source;
    if (!n.key.empty()) j["key"] = n.key;
    if (!n.why.empty()) j["reason"] = n.why;
    a.push_back(std::move(j));
  }
  return a;
}

void PrintSummary(const ImportOptions& o, const exchange::FileInfo& info, const std::string& language,
                  const ImportCounts& c) {
  if (o.json) {
    nlohmann::ordered_json j;
    j["file"] = text::PathText(o.file);
    j["format"] = exchange::FormatName(info.format);
    j["language"] = language;
    j["dry_run"] = o.dry_run;
    j["units"] = c.units;
    j["records_translated"] = c.records_translated;
    j["records_already"] = c.records_already;
    j["units_translated"] = c.units_translated;
    j["units_already"] = c.units_already;
    j["units_stale"] = c.stale.count;
    j["units_skipped"] = c.skipped;
    j["units_repeated"] = c.repeated;
    j["units_conflicting"] = c.conflicts.count;
    j["units_refused"] = c.refused.count;
    j["stale"] = JsonList(c.stale);
    j["refused"] = JsonList(c.refused);
    j["conflicts"] = JsonList(c.conflicts);
    std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << std::endl;
    return;
  }
  std::cout << (o.dry_run ? "Dry run (nothing written): " : "") << text::PathText(o.file) << " ("
            << exchange::FormatName(info.format) << ") into " << language << "\n"
            << "  units read          " << c.units << "\n"
            << "  records translated  " << c.records_translated << " (" << c.units_translated << " units)\n"
            << "  records already so  " << c.records_already << " (" << c.units_already << " units)\n"
            << "  units stale         " << c.stale.count << "\n"
            << "  units skipped       " << c.skipped << " (no translation, or marked for review)\n"
            << "  units repeated      " << c.repeated << "\n";
  if (c.refused.count) std::cout << "  units refused       " << c.refused.count << "\n";
  PrintNamed(std::cout, "Stale (the source text changed or is gone; not applied)", c.stale);
  PrintNamed(std::cout, "Refused", c.refused);
  PrintNamed(std::cout, "Repeated with another translation (the first one counts)", c.conflicts);
  std::cout.flush();
}

int RunImport(const ImportOptions& o) {
  const std::string where = text::PathText(o.file);
  const ServerChoice server(o.servers);
  ExchangeClient client(server);
  const std::string language = client.KnownLanguage(o.language);
  // First pass: the whole file is read and checked, nothing kept, so that
  // nothing is written for a malformed file or one of another language.
  const exchange::FileInfo info = exchange::ReadUnits(o.file, [&](exchange::Unit&& u) {
    if (u.context && u.context->language != language)
      throw Error(where + ": unit " + exchange::IdOf(u) + " names a record of language " + u.context->language +
                  " (" + exchange::KeyText(*u.context) + "); the file is imported into " + language);
  });
  if (info.language && *info.language != language)
    throw Error(where + " is a file for language " + *info.language + " (" + info.language_tag + "), not " +
                language + "; import it with --lang " + *info.language);

  // Second pass: the units go out in batches as they are read. A unit's
  // identity is its stable id (its record for a per-key unit, its source text
  // otherwise); what is kept of each is a 64-bit hash of its identity and one
  // of its translation, for the repeats: some 40 bytes a unit.
  ImportCounts c;
  std::unordered_map<std::uint64_t, std::uint64_t> first;  // identity -> translation
  const SetMode mode = o.dry_run ? SetMode::DryRun : SetMode::Apply;
  Packet batch{TranslationChangeFields(), {}};
  std::vector<Named> names;  // per change of the batch, for the report
  std::size_t bytes = 0;
  auto send = [&] {
    if (batch.rows.empty()) return;
    const std::vector<Row> sent = batch.rows;
    Packet out = client.SetTranslations(language, std::move(batch), mode);
    for (std::size_t i = 0; i < out.rows.size(); ++i) {
      const Row& r = out.rows[i];
      const auto* name = std::get_if<std::string>(&r.at(kOutOutcome));
      const auto outcome = name ? ParseSetOutcome(*name) : std::nullopt;
      if (!outcome) throw ProtocolError(std::string(kSetTraducoes) + " answered an unknown outcome");
      const auto count = [&](int f) { return std::size_t(std::get<double>(r.at(std::size_t(f)))); };
      c.records_translated += count(kOutTranslated);
      c.records_already += count(kOutAlready);
      switch (*outcome) {
        case SetOutcome::Translated: ++c.units_translated; break;
        case SetOutcome::Already: ++c.units_already; break;
        case SetOutcome::Stale:
          names[i].why = sent[i][kChgProgram].index() == 0 ? "no record holds this source text any more"
                                                           : "the record holds another source text now";
          c.stale.Add(std::move(names[i]));
          break;
        case SetOutcome::Missing:
          names[i].why = "the record is gone";
          c.stale.Add(std::move(names[i]));
          break;
      }
    }
    batch = Packet{TranslationChangeFields(), {}};
    names.clear();
    bytes = 0;
  };
  exchange::ReadUnits(o.file, [&](exchange::Unit&& u) {
    ++c.units;
    if (!exchange::Importable(u)) {
      ++c.skipped;
      return;
    }
    const std::uint64_t translation_hash = std::hash<std::string>{}(*u.translation);
    auto [it, fresh] = first.emplace(std::hash<std::string>{}(exchange::StableId(u)), translation_hash);
    if (!fresh) {
      ++c.repeated;
      if (it->second != translation_hash)
        c.conflicts.Add(NameOf(u, "translated \"" + *u.translation + "\" here, otherwise before"));
      return;
    }
    if (const std::size_t length = text::Length(*u.translation); length > kMaxValueLength) {
      c.refused.Add(NameOf(u, "the translation has " + std::to_string(length) + " characters; STVALORPROP holds " +
                                        std::to_string(kMaxValueLength)));
      return;
    }
    const std::size_t size = u.source.size() + u.translation->size() + 200;
    if (batch.rows.size() == kMaxTranslationChanges || (bytes > 0 && bytes + size > ExchangeClient::kBatchBytes))
      send();
    bytes += size;
    batch.rows.push_back(ChangeOf(u));
    names.push_back(NameOf(u, ""));
  });
  send();

  PrintSummary(o, info, language, c);
  return 0;
}

}  // namespace

void AddImport(CLI::App& app, int& exit_code) {
  auto o = std::make_shared<ImportOptions>();
  CLI::App* cmd = app.add_subcommand("import", "store the translations of a PO or XLIFF file a translator sent back");
  cmd->add_option("FILE", o->file, "the PO or XLIFF file (told apart by content)")->required();
  cmd->add_option("--lang", o->language, "language code of the records, such as ENG")->required();
  cmd->add_flag("--dry-run", o->dry_run, "write nothing; print what an import would do");
  cmd->add_flag("--json", o->json, "print the summary as one JSON object");
  AddServerOptions(cmd, o->servers);
  cmd->footer("Without --server or --db: TRD_SERVER when set, else --db var/trd.sqlite. Exit status: 0 imported "
              "(stale and skipped units are reported, not failures), 1 failure: nothing of a malformed file is "
              "written.");
  cmd->callback([o, &exit_code] {
    try {
      exit_code = RunImport(*o);
    } catch (const std::exception& e) {
      std::cerr << "trd import: " << e.what() << "\n";
      exit_code = 1;
    }
  });
}

}  // namespace trd::cli
