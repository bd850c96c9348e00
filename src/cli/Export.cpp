// trd export --lang CODE [--state untranslated|translated|unreviewed|approved|all]
//            [--program CODE...] [--format po|xliff] [--per-key] [-o FILE]
//            [--server URL | --db URL]
//
// Writes the texts of one language for translators (docs/exchange.md):
//   - per text (default): one unit per distinct source text of the language,
//     listing every record that holds it, in the order a translator reads
//     them (by the first key holding each text); the state filter and
//     --program apply to those records. A text whose records are all
//     translated alike goes out translated; one with translated and
//     untranslated records goes out with the translation as a suggestion to
//     confirm (fuzzy), so that importing an untouched file changes nothing;
//     one translated several ways offers every translation, the most held
//     first; one without translation gets the translation memory's best
//     suggestion (GetSugestoes; not with --no-suggestions);
//   - --per-key: one unit per record (GetRegistros), its key as the context.
// Memory stays bounded: a page of records and the records of its texts at
// a time, and 16 bytes per text seen (per text). -o FILE is written whole or not at all (a FILE.part renamed at the
// end); without -o the file goes to standard output. The summary goes to
// standard error. The default state is untranslated: what is left to do.
// unreviewed takes the translated texts some reviewer has still to approve
// (never reviewed, sent back, or changed since), approved those approved in
// every record; an approved unit carries who approved it when (XLIFF
// state "signed-off" and approved="yes", PO a translator comment); a
// translation a reviewer sent back goes out to be reviewed again (XLIFF
// "needs-review-translation", PO fuzzy) with who sent it back when. A
// fuzzy PO entry is what every PO editor lists as work and msgfmt leaves
// out of a compiled catalogue; an untouched file imports nothing of it.
// Exit status: 0 written, 1 failure (unknown language, server, output).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "Commands.h"
#include "ExchangeClient.h"
#include "ExchangeRows.h"
#include "exchange/Exchange.h"
#include "platform/Errors.h"
#include "platform/Text.h"

namespace trd::cli {

std::vector<std::string> ProgramCodes(const std::vector<std::string>& given) {
  std::vector<std::string> codes;
  for (const auto& g : given)
    for (std::size_t start = 0; start <= g.size();) {
      std::size_t comma = std::min(g.find(',', start), g.size());
      std::string_view code = text::Trim(std::string_view(g).substr(start, comma - start));
      if (!code.empty()) codes.push_back(text::UpperAscii(code));
      start = comma + 1;
    }
  return codes;
}

namespace {

using namespace protocol;

struct ExportOptions {
  ServerOptions servers;
  std::string language;
  std::string state = "untranslated";
  std::vector<std::string> programs;
  std::string format;
  bool per_key = false;
  bool suggestions = true;
  std::string output;
};

exchange::Format FormatOf(const ExportOptions& o) {
  std::string f = text::UpperAscii(o.format);
  if (f.empty()) {
    std::string ext = text::UpperAscii(std::filesystem::path(o.output).extension().string());
    f = ext == ".XLF" || ext == ".XLIFF" ? "XLIFF" : "PO";
  }
  if (f == "PO") return exchange::Format::Po;
  if (f == "XLIFF" || f == "XLF") return exchange::Format::Xliff;
  throw Error("--format \"" + o.format + "\" is neither po nor xliff");
}

// The reviewer's verdict on a translated record row of a listing that
// answers the review state (protocol::ReviewedRecordFields()); none for a
// record never reviewed, or a row of a server that answers no review state.
std::optional<exchange::Review> ReviewOf(const Row& r) {
  if (!IsTranslated(r) || r.size() <= std::size_t(kRevWhen)) return std::nullopt;
  const auto* state = std::get_if<std::string>(&r[kRevState]);
  if (!state || (*state != kReviewApproved && *state != kReviewSentBack)) return std::nullopt;
  const auto* when = std::get_if<DateTime>(&r[kRevWhen]);
  const auto* by = std::get_if<std::string>(&r[kRevBy]);
  return exchange::Review{*state == kReviewApproved ? exchange::Verdict::Approved : exchange::Verdict::SentBack,
                          by ? *by : std::string(), when ? *when : DateTime{}};
}

// The later of two verdicts of the same kind.
void KeepLatest(std::optional<exchange::Review>& latest, const exchange::Review& r) {
  if (!latest || latest->when < r.when) latest = r;
}

// Whether a text whose records are all translated, `approved` of them
// approved, passes the state filter.
bool Passes(StateFilter state, bool untranslated, bool all_approved) {
  switch (state) {
    case StateFilter::All: return true;
    case StateFilter::Translated: return !untranslated;
    case StateFilter::Untranslated: return untranslated;
    case StateFilter::Unreviewed: return !untranslated && !all_approved;
    case StateFilter::Approved: return !untranslated && all_approved;
  }
  return false;
}

// The unit of one source text from its records, when the text matches the
// state filter (untranslated: some record still waits for a translation;
// unreviewed: all are translated, some not approved; approved: all are
// approved). Its distinct translations go most held first; a text approved
// in every record carries the latest approval, one a reviewer sent back in
// any record the latest send-back (it is to be reviewed again).
std::optional<exchange::Unit> TextUnit(const std::string& source, const std::vector<Row>& rows, StateFilter state) {
  std::vector<RecordKey> keys;
  exchange::AlternativeCount translations;
  bool untranslated = false, all_approved = true;
  std::optional<exchange::Review> approved, sent_back;
  for (const Row& r : rows) {
    keys.push_back(KeyOfRecord(r));
    if (IsTranslated(r))
      translations.Add(RowText(r, kStValorProp));
    else
      untranslated = true;
    const auto review = ReviewOf(r);
    const bool approval = review && review->verdict == exchange::Verdict::Approved;
    all_approved = all_approved && approval;
    if (review) KeepLatest(approval ? approved : sent_back, *review);
  }
  if (keys.empty()) return std::nullopt;
  if (!Passes(state, untranslated, all_approved)) return std::nullopt;
  exchange::Unit u = exchange::UnitForTranslations(source, std::move(keys), translations.Take());
  if (all_approved && approved) exchange::SetReview(u, *approved);
  if (sent_back) exchange::SetReview(u, *sent_back);
  // Some records still wait for the translation the others hold: it is
  // offered for confirmation, never applied by an untouched file.
  if (untranslated && u.translation) u.state = exchange::State::NeedsReview;
  return u;
}

// Gives the units without a translation the server's suggestions.
void AddSuggestions(ExchangeClient& client, const std::string& language, std::vector<exchange::Unit>& units) {
  std::vector<std::size_t> asked;
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < units.size(); ++i)
    if (!units[i].translation && !units[i].source.empty()) {
      asked.push_back(i);
      texts.push_back(units[i].source);
    }
  if (texts.empty()) return;
  const std::vector<Row> rows = client.Suggestions(language, texts);
  for (std::size_t k = 0; k < asked.size(); ++k) {
    const Row& r = rows[k];
    const auto* source = std::get_if<std::string>(&r.at(kSugSource));
    const auto* translation = std::get_if<std::string>(&r.at(kSugTranslation));
    const auto* similarity = std::get_if<double>(&r.at(kSugSimilarity));
    if (source && translation && similarity)
      units[asked[k]].suggestion = exchange::Suggestion{*source, *translation, int(*similarity)};
  }
}

// The output: standard output, or FILE.part renamed to FILE by Commit.
class Output {
 public:
  explicit Output(const std::string& path) : path_(path) {
    if (path_.empty()) return;
    part_ = path_ + ".part";
    file_.open(part_, std::ios::binary | std::ios::trunc);
    if (!file_) throw Error(path_ + ": cannot write: " + std::strerror(errno));
  }
  ~Output() {
    if (!part_.empty() && !committed_) {
      file_.close();
      std::remove(part_.c_str());
    }
  }
  std::ostream& Stream() { return path_.empty() ? std::cout : file_; }
  std::string Name() const { return path_.empty() ? "standard output" : path_; }
  void Commit() {
    if (path_.empty()) return;
    file_.close();
    if (!file_) throw Error(path_ + ": cannot write");
    std::error_code ec;
    std::filesystem::rename(part_, path_, ec);
    if (ec) throw Error(path_ + ": cannot write: " + ec.message());
    committed_ = true;
  }

 private:
  std::string path_, part_;
  std::ofstream file_;
  bool committed_ = false;
};

int RunExport(const ExportOptions& o) {
  const exchange::Format format = FormatOf(o);
  const auto state = ParseStateFilter(o.state);
  if (!state)
    throw Error("--state \"" + o.state + "\" is none of untranslated, translated, unreviewed, approved, all");
  const ServerChoice server(o.servers);
  ExchangeClient client(server);
  const std::string language = client.KnownLanguage(o.language);
  const std::vector<std::string> programs = ProgramCodes(o.programs);

  Output output(o.output);
  auto writer = exchange::MakeWriter(format, output.Stream(), exchange::FileHeader{language}, output.Name());
  std::size_t records = 0;
  if (o.per_key) {
    client.ForEachRecord({language, *state, programs}, [&](const Row& r) {
      ++records;
      std::optional<std::string> translation;
      if (IsTranslated(r)) translation = RowText(r, kStValorProp);
      exchange::Unit u = exchange::UnitForRecord(KeyOfRecord(r), RowText(r, kStAgrValProp), std::move(translation));
      if (auto review = ReviewOf(r)) exchange::SetReview(u, std::move(*review));
      writer->Add(u);
    });
  } else {
    client.ForEachTextInKeyOrder(language, programs, [&](std::vector<ExchangeClient::TextRecords>& batch) {
      std::vector<exchange::Unit> units;
      for (const auto& t : batch)
        if (auto u = TextUnit(t.source, t.records, *state)) {
          records += u->keys.size();
          units.push_back(std::move(*u));
        }
      if (o.suggestions) AddSuggestions(client, language, units);
      for (const auto& u : units) writer->Add(u);
    });
  }
  const exchange::WriteSummary s = writer->Finish();
  output.Commit();

  std::cerr << "trd export: " << s.written << " unit" << (s.written == 1 ? "" : "s") << " (" << records
            << " record" << (records == 1 ? "" : "s") << ") of " << language << " written to " << output.Name()
            << " (" << exchange::FormatName(format) << ")\n";
  if (s.empty_sources) std::cerr << "  " << s.empty_sources << " with an empty source text: nothing to translate\n";
  for (const auto& l : s.left_out) std::cerr << "  left out " << l.id << ": " << l.reason << "\n";
  return 0;
}

}  // namespace

void AddExport(CLI::App& app, int& exit_code) {
  auto o = std::make_shared<ExportOptions>();
  CLI::App* cmd = app.add_subcommand("export", "write the texts of a language to a PO or XLIFF file for translators");
  cmd->add_option("--lang", o->language, "language code, such as ENG")->required();
  cmd->add_option("--state", o->state,
                  "untranslated (default), translated, unreviewed (translated, not approved), approved or all");
  cmd->add_option("--program", o->programs, "only the records of these program codes")->expected(1, -1);
  cmd->add_option("--format", o->format, "po (default) or xliff; -o FILE.xlf/.xliff picks xliff");
  cmd->add_flag("--per-key", o->per_key, "one unit per record instead of one per distinct source text");
  cmd->add_flag("--no-suggestions{false}", o->suggestions,
                "no suggestions from the translation memory for texts without a translation");
  cmd->add_option("-o,--output", o->output, "the file to write (default: standard output)");
  AddServerOptions(cmd, o->servers);
  cmd->footer("Without --server or --db: TRD_SERVER when set, else --db var/trd.sqlite. Exit status: 0 written, 1 "
              "failure.");
  cmd->callback([o, &exit_code] {
    try {
      exit_code = RunExport(*o);
    } catch (const std::exception& e) {
      std::cerr << "trd export: " << e.what() << "\n";
      exit_code = 1;
    }
  });
}

}  // namespace trd::cli
