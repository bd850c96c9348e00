// trd history KEY [--json]                  the changes of one record
// trd history --text TEXT --lang CODE [--json]
//                                           the changes of the records of a
//                                           language that held the text
// (both with [--server URL | --db URL])
//
// KEY is the record key's text form (exchange/KeyText.h), as `trd check` and
// the exchange files print it. Oldest change first, one line each:
//   WHEN  WHO  HOW  KEY  STATE  TEXT  TRANSLATION  REVIEW
// where REVIEW is the review state (A approved, D sent back, - unreviewed;
// protocol/Exchange.h), and a value that changed reads "before -> after", a missing one "-"
// (before a creation, after a deletion), WHO "-" for the holder of the
// server's token. Exit status 0 (also when there is no change), 1 on failure.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "ExchangeClient.h"
#include "exchange/KeyText.h"
#include "platform/Errors.h"

namespace trd::cli {
namespace {

struct HistoryOptions {
  ServerOptions servers;
  std::string key;
  std::string text;
  std::string language;
  bool json = false;
};

// Positions in the history packet (server/History.h): the six key fields,
// then the text, translation and state before and after, who, when, how,
// the review state before and after (absent from an older server's).
enum : std::size_t {
  kKeyEnd = 6,
  kTextBefore = 6,
  kText,
  kTranslationBefore,
  kTranslation,
  kStateBefore,
  kState,
  kWho,
  kWhen,
  kHow,
  kReviewBefore,
  kReview,
  kHistoryFields
};

nlohmann::ordered_json Json(const FieldValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* t = std::get_if<DateTime>(&v)) return t->ToIso();
  return nullptr;
}

std::string Shown(const FieldValue& v) {
  if (std::holds_alternative<std::monostate>(v)) return "-";
  return Json(v).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string Plain(const FieldValue& v) {
  const auto* s = std::get_if<std::string>(&v);
  return s ? *s : "-";
}

std::string Change(const FieldValue& before, const FieldValue& after, std::string (*show)(const FieldValue&)) {
  return before == after ? show(after) : show(before) + " -> " + show(after);
}

std::string KeyOf(const Row& r) {
  protocol::RecordKey k;
  k.program = Plain(r[0]);
  k.form = Plain(r[1]);
  k.component = Plain(r[2]);
  k.property = Plain(r[3]);
  const auto* n = std::get_if<double>(&r[4]);
  k.number = n ? *n : 0;
  k.language = Plain(r[5]);
  return exchange::KeyText(k);
}

int Run(const HistoryOptions& o) {
  if (o.key.empty() == o.text.empty()) throw Error("give a record key or --text (not both)");
  const ServerChoice server(o.servers);
  ExchangeClient client(server);
  Packet p;
  if (!o.key.empty()) {
    const auto key = exchange::ParseKeyText(o.key);
    if (!key) throw Error("\"" + o.key + "\" is no record key (PROGRAM/FORM/COMPONENT/PROPERTY/NUMBER/LANGUAGE)");
    p = client.HistoryOfKey(*key);
  } else {
    if (o.language.empty()) throw Error("--text needs --lang");
    p = client.HistoryOfText(client.KnownLanguage(o.language), o.text);
  }
  if (p.fields.size() != kHistoryFields && p.fields.size() != kReviewBefore)
    throw ProtocolError("the history answered an unexpected packet");
  auto review = [&](const Row& r, std::size_t at) { return at < r.size() ? r[at] : FieldValue{}; };

  if (o.json) {
    auto changes = nlohmann::ordered_json::array();
    for (const Row& r : p.rows) {
      nlohmann::ordered_json c;
      c["key"] = KeyOf(r);
      c["when"] = Json(r[kWhen]);
      c["who"] = Json(r[kWho]);
      c["how"] = Json(r[kHow]);
      c["state_before"] = Json(r[kStateBefore]);
      c["state"] = Json(r[kState]);
      c["text_before"] = Json(r[kTextBefore]);
      c["text"] = Json(r[kText]);
      c["translation_before"] = Json(r[kTranslationBefore]);
      c["translation"] = Json(r[kTranslation]);
      c["review_before"] = Json(review(r, kReviewBefore));
      c["review"] = Json(review(r, kReview));
      changes.push_back(std::move(c));
    }
    nlohmann::ordered_json j;
    j["changes"] = std::move(changes);
    std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << std::endl;
    return 0;
  }
  for (const Row& r : p.rows)
    std::cout << Plain(Json(r[kWhen]).is_string() ? FieldValue{Json(r[kWhen]).get<std::string>()} : FieldValue{}) << "\t" << Plain(r[kWho]) << "\t" << Plain(r[kHow]) << "\t" << KeyOf(r) << "\t"
              << Change(r[kStateBefore], r[kState], Plain) << "\t" << Change(r[kTextBefore], r[kText], Shown) << "\t"
              << Change(r[kTranslationBefore], r[kTranslation], Shown) << "\t"
              << Change(review(r, kReviewBefore), review(r, kReview), Plain) << "\n";
  std::cout.flush();
  return 0;
}

}  // namespace

void AddHistory(CLI::App& app, int& exit_code) {
  auto o = std::make_shared<HistoryOptions>();
  CLI::App* cmd = app.add_subcommand("history", "the changes of a record, or of the records of a source text");
  cmd->add_option("key", o->key, "record key: PROGRAM/FORM/COMPONENT/PROPERTY/NUMBER/LANGUAGE");
  cmd->add_option("--text", o->text, "source text: the changes of every record that held it");
  cmd->add_option("--lang", o->language, "language code of --text, such as ENG");
  cmd->add_flag("--json", o->json, "print one JSON object");
  AddServerOptions(cmd, o->servers);
  cmd->footer(
      "Oldest change first: when, who (- for the server's token), how (colheita, reuso, importacao, pagina, "
      "chamada, retirada, revisao, registro), key, state, text, translation, review (A approved, D sent back, - unreviewed); \"before -> after\" where it "
      "changed.");
  cmd->callback([o, &exit_code] {
    try {
      exit_code = Run(*o);
    } catch (const std::exception& e) {
      std::cerr << "trd history: " << e.what() << "\n";
      exit_code = 1;
    }
  });
}

}  // namespace trd::cli
