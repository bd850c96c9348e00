// trd import FILE --lang CODE [--dry-run] [--json] [--server URL | --db URL]
//
// Stores the translations of a PO or XLIFF file (told apart by content) as
// a translator sends it back (docs/exchange.md, "What import applies"):
//   - the whole file is read and checked first: a malformed file, a file of
//     another language, a per-key unit naming a record of another language
//     end the command (status 1) before anything is written;
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
#include "server/Records.h"

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

struct ImportCounts {
  std::size_t units = 0;
  std::size_t skipped = 0;
  std::size_t repeated = 0;
  std::size_t units_translated = 0;
  std::size_t units_already = 0;
  std::size_t records_translated = 0;
  std::size_t records_already = 0;
  std::vector<Named> stale;
  std::vector<Named> refused;    // not applied: too long
  std::vector<Named> conflicts;  // repeats with another translation
};

struct Pending {
  Row change;
  std::size_t unit;  // index in the file, for the report
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

void PrintNamed(std::ostream& out, const char* title, const std::vector<Named>& list) {
  if (list.empty()) return;
  out << title << ":\n";
  for (const Named& n : list)
    out << "  " << n.id << (n.key.empty() ? "" : " " + n.key) << " \"" << text::Left(n.source, 60)
        << (text::Length(n.source) > 60 ? "...\"" : "\"") << (n.why.empty() ? "" : ": " + n.why) << "\n";
}

nlohmann::ordered_json JsonList(const std::vector<Named>& list) {
  auto a = nlohmann::ordered_json::array();
  for (const Named& n : list) {
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
    j["units_stale"] = c.stale.size();
    j["units_skipped"] = c.skipped;
    j["units_repeated"] = c.repeated;
    j["units_refused"] = c.refused.size();
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
            << "  units stale         " << c.stale.size() << "\n"
            << "  units skipped       " << c.skipped << " (no translation, or marked for review)\n"
            << "  units repeated      " << c.repeated << "\n";
  if (!c.refused.empty()) std::cout << "  units refused       " << c.refused.size() << "\n";
  PrintNamed(std::cout, "Stale (the source text changed or is gone; not applied)", c.stale);
  PrintNamed(std::cout, "Refused", c.refused);
  PrintNamed(std::cout, "Repeated with another translation (the first one counts)", c.conflicts);
  std::cout.flush();
}

int RunImport(const ImportOptions& o) {
  // The whole file first: nothing is written for a malformed one.
  exchange::ExchangeFile file = exchange::ReadFile(o.file);
  const ServerChoice server(o.servers);
  ExchangeClient client(server);
  const std::string language = client.KnownLanguage(o.language);
  const std::string where = text::PathText(o.file);
  if (file.info.language && *file.info.language != language)
    throw Error(where + " is a file for language " + *file.info.language + " (" + file.info.language_tag +
                "), not " + language + "; import it with --lang " + *file.info.language);

  ImportCounts c;
  c.units = file.units.size();
  std::vector<Pending> pending;
  // A unit's identity: its record (per key) or its source text (per text).
  std::unordered_map<std::string, std::size_t> first;
  const FieldDef& value_field = RecordFields()[kStValorProp];
  for (std::size_t i = 0; i < file.units.size(); ++i) {
    const exchange::Unit& u = file.units[i];
    if (u.context && u.context->language != language)
      throw Error(where + ": unit " + exchange::IdOf(u) + " names a record of language " + u.context->language +
                  " (" + exchange::KeyText(*u.context) + "); the file is imported into " + language);
    if (!exchange::Importable(u)) {
      ++c.skipped;
      continue;
    }
    const std::string identity = (u.context ? "k" + exchange::KeyText(*u.context) : "t") + '\n' + u.source;
    auto [it, fresh] = first.emplace(identity, i);
    if (!fresh) {
      ++c.repeated;
      if (file.units[it->second].translation != u.translation)
        c.conflicts.push_back(NameOf(u, "translated \"" + *u.translation + "\" here, \"" +
                                            *file.units[it->second].translation + "\" first"));
      continue;
    }
    if (!server::Fits(value_field, *u.translation)) {
      c.refused.push_back(NameOf(u, "the translation has " + std::to_string(text::Length(*u.translation)) +
                                        " characters; STVALORPROP holds " + std::to_string(value_field.size)));
      continue;
    }
    pending.push_back({ChangeOf(u), i});
  }

  const SetMode mode = o.dry_run ? SetMode::DryRun : SetMode::Apply;
  auto send = [&](std::size_t from, std::size_t to) {
    Packet batch{TranslationChangeFields(), {}};
    batch.rows.reserve(to - from);
    for (std::size_t i = from; i < to; ++i) batch.rows.push_back(pending[i].change);
    Packet out = client.SetTranslations(language, std::move(batch), mode);
    for (std::size_t i = from; i < to; ++i) {
      const Row& r = out.rows[i - from];
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
          c.stale.push_back(NameOf(file.units[pending[i].unit], pending[i].change[kChgProgram].index() == 0
                                                                  ? "no record holds this source text any more"
                                                                  : "the record holds another source text now"));
          break;
        case SetOutcome::Missing:
          c.stale.push_back(NameOf(file.units[pending[i].unit], "the record is gone"));
          break;
      }
    }
  };
  std::size_t from = 0, bytes = 0;
  for (std::size_t i = 0; i < pending.size(); ++i) {
    const std::size_t size = std::get<std::string>(pending[i].change[kChgSource]).size() +
                             std::get<std::string>(pending[i].change[kChgTranslation]).size() + 200;
    if (i > from && (i - from == kMaxTranslationChanges || bytes + size > ExchangeClient::kBatchBytes)) {
      send(from, i);
      from = i;
      bytes = 0;
    }
    bytes += size;
  }
  if (from < pending.size()) send(from, pending.size());

  PrintSummary(o, file.info, language, c);
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
