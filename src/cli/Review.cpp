// trd review approve KEY... [--translation T] [--json]
// trd review approve --text TEXT --lang CODE [--translation T] [--json]
// trd review send-back (the same)
// (all with [--server URL | --db URL])
//
// Gives records a review state (SetRevisao, the review permission): approve
// marks their translation approved by the caller, send-back sends it back to
// the translators. KEY is a record key's text form (exchange/KeyText.h);
// --text takes every record of the language that holds the source text.
// Only translated records take it; with --translation only those that hold
// that translation (a translation changed since the reviewer read it is
// left unreviewed). The keys of one language go in one transaction.
//
// Output: one line per key or text, "WHAT<TAB>OUTCOME<TAB>RECORDS" (outcomes
// of protocol::ReviewOutcome), then "Revisados: N"; with --json one object
// {"action", "entries": [{"key" or "text", "outcome", "records"}],
// "reviewed"}.
// Exit status: 0 every entry reviewed or already so; 1 failure (no
// permission, the server, a malformed key); 2 some entry not reviewed
// (missing, changed, untranslated).
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "ExchangeClient.h"
#include "exchange/KeyText.h"
#include "platform/Errors.h"

namespace trd::cli {
namespace {

using namespace protocol;

struct ReviewOptions {
  ServerOptions servers;
  ReviewAction action = ReviewAction::Approve;
  std::vector<std::string> keys;
  std::string text;
  std::string language;
  std::string translation;
  bool translation_given = false;
  bool json = false;
};

struct Entry {
  std::string what;  // the key text, or the source text
  bool by_text = false;
  std::string outcome;
  double records = 0;
};

Row EntryRow(const std::optional<RecordKey>& key, const std::optional<std::string>& source,
             const std::optional<std::string>& translation) {
  auto text = [](const std::optional<std::string>& t) { return t ? FieldValue{*t} : FieldValue{}; };
  if (!key) return {{}, {}, {}, {}, {}, text(source), text(translation)};
  return {key->program, key->form, key->component, key->property, key->number, {}, text(translation)};
}

int Run(const ReviewOptions& o) {
  if (o.keys.empty() == o.text.empty()) throw Error("give record keys or --text (not both)");
  if (!o.text.empty() && o.language.empty()) throw Error("--text needs --lang");
  const ServerChoice server(o.servers);
  ExchangeClient client(server);
  const std::optional<std::string> translation =
      o.translation_given ? std::optional<std::string>(o.translation) : std::nullopt;

  // The entries per language, in the order given.
  std::map<std::string, std::vector<std::size_t>> by_language;
  std::vector<Entry> entries;
  std::vector<Row> rows;
  if (!o.text.empty()) {
    by_language[client.KnownLanguage(o.language)].push_back(0);
    entries.push_back(Entry{o.text, true, {}, 0});
    rows.push_back(EntryRow(std::nullopt, o.text, translation));
  }
  for (const std::string& k : o.keys) {
    const auto key = exchange::ParseKeyText(k);
    if (!key) throw Error("\"" + k + "\" is no record key (PROGRAM/FORM/COMPONENT/PROPERTY/NUMBER/LANGUAGE)");
    by_language[key->language].push_back(entries.size());
    entries.push_back(Entry{exchange::KeyText(*key), false, {}, 0});
    rows.push_back(EntryRow(key, std::nullopt, translation));
  }
  for (const auto& [language, at] : by_language)
    for (std::size_t first = 0; first < at.size(); first += kMaxTranslationChanges) {
      const std::size_t last = std::min(at.size(), first + kMaxTranslationChanges);
      Packet list{ReviewListFields(), {}};
      for (std::size_t i = first; i < last; ++i) list.rows.push_back(rows[at[i]]);
      const Packet outcomes = client.Review(language, o.action, std::move(list));
      for (std::size_t i = first; i < last; ++i) {
        const Row& r = outcomes.rows[i - first];
        Entry& e = entries[at[i]];
        const auto* outcome = std::get_if<std::string>(&r.at(kRvoOutcome));
        const auto* n = std::get_if<double>(&r.at(kRvoReviewed));
        e.outcome = outcome ? *outcome : "";
        e.records = n ? *n : 0;
      }
    }

  double reviewed = 0;
  bool all_taken = true;
  for (const Entry& e : entries) {
    reviewed += e.records;
    const auto outcome = ParseReviewOutcome(e.outcome);
    all_taken = all_taken && (outcome == ReviewOutcome::Reviewed || outcome == ReviewOutcome::Already);
  }
  if (o.json) {
    nlohmann::ordered_json j;
    j["action"] = ReviewActionName(o.action);
    j["entries"] = nlohmann::ordered_json::array();
    for (const Entry& e : entries) {
      nlohmann::ordered_json x;
      x[e.by_text ? "text" : "key"] = e.what;
      x["outcome"] = e.outcome;
      x["records"] = e.records;
      j["entries"].push_back(std::move(x));
    }
    j["reviewed"] = reviewed;
    std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << std::endl;
  } else {
    for (const Entry& e : entries) std::cout << e.what << "\t" << e.outcome << "\t" << e.records << "\n";
    std::cout << "Revisados: " << reviewed << std::endl;
  }
  return all_taken ? 0 : 2;
}

void AddAction(CLI::App* review, ReviewAction action, const char* help, int& exit_code) {
  auto o = std::make_shared<ReviewOptions>();
  o->action = action;
  CLI::App* cmd = review->add_subcommand(std::string(ReviewActionName(action)), help);
  cmd->add_option("keys", o->keys, "record keys: PROGRAM/FORM/COMPONENT/PROPERTY/NUMBER/LANGUAGE");
  cmd->add_option("--text", o->text, "source text: every record of --lang that holds it");
  cmd->add_option("--lang", o->language, "language code of --text, such as ENG");
  cmd->add_option("--translation", o->translation, "only the records that hold this translation")
      ->each([o](const std::string&) { o->translation_given = true; });
  cmd->add_flag("--json", o->json, "print one JSON object");
  AddServerOptions(cmd, o->servers);
  cmd->footer("Exit status: 0 every entry reviewed or already so; 1 failure; 2 some entry not reviewed (missing, "
              "changed, untranslated).");
  cmd->callback([o, &exit_code] {
    try {
      exit_code = Run(*o);
    } catch (const std::exception& e) {
      std::cerr << "trd review: " << e.what() << "\n";
      exit_code = 1;
    }
  });
}

}  // namespace

void AddReview(CLI::App& app, int& exit_code) {
  CLI::App* review = app.add_subcommand("review", "approve translations, or send them back to the translators");
  review->require_subcommand(1);
  AddAction(review, ReviewAction::Approve, "approve the translation of records", exit_code);
  AddAction(review, ReviewAction::SendBack, "send the translation of records back to the translators", exit_code);
}

}  // namespace trd::cli
