// trd status [--lang CODE] [--json]   how far each language (or, with
//                                     --lang, each program of it) is
// trd check --lang CODE [--json]      the translation checks of a language
// (both with [--server URL | --db URL])
//
// status: counts from GetCobertura: translatable records, translated ("T"),
// untranslated, the share translated, and apart the records no translator
// can be given (an empty source, or a text no exchange file carries:
// protocol/Translatable.h), as a table; the share is rounded down, so 100%
// means every translatable record. Exit status 0, 1 on failure.
//
// check: the checks of exchange/Checks.h over every source text of the
// language and its translated records (read by text, one text's records
// held at a time). Errors and notices are listed with the records
// concerned; exit status 1 when an error is found, 0 when none is (notices,
// such as a translation identical to its source, are listed only), 1 also
// on failure.
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Commands.h"
#include "ExchangeClient.h"
#include "ExchangeRows.h"
#include "exchange/Checks.h"
#include "exchange/KeyText.h"
#include "platform/Errors.h"
#include "platform/Text.h"

namespace trd::cli {
namespace {

using namespace protocol;

struct ReportOptions {
  ServerOptions servers;
  std::string language;
  bool json = false;
};

std::string Dump(const nlohmann::ordered_json& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// The share translated in tenths of a percent, rounded down: "99.9%" while
// one record of a thousand is left, "100.0%" only when none is.
std::string Share(double translated, double total) {
  if (total <= 0) return "-";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.1f%%", std::floor(translated * 1000 / total) / 10);
  return buf;
}

int RunStatus(const ReportOptions& o) {
  const ServerChoice server(o.servers);
  ExchangeClient client(server);
  const std::string language = o.language.empty() ? std::string() : client.KnownLanguage(o.language);
  const Packet p = client.Coverage(language);
  const bool per_program = !language.empty();

  struct Line {
    std::string name;
    double total, translated, untranslated, untranslatable;
  };
  std::vector<Line> lines;
  double total = 0, translated = 0, untranslatable = 0;
  for (const Row& r : p.rows) {
    auto count = [&](int f) {
      const auto* d = std::get_if<double>(&r.at(std::size_t(f)));
      return d ? *d : 0.0;
    };
    const auto* name = std::get_if<std::string>(&r.at(per_program ? kCovProgram : kCovLanguage));
    lines.push_back({name ? *name : std::string(), count(kCovTotal), count(kCovTranslated), count(kCovUntranslated),
                     count(kCovUntranslatable)});
    total += count(kCovTotal);
    translated += count(kCovTranslated);
    untranslatable += count(kCovUntranslatable);
  }

  if (o.json) {
    nlohmann::ordered_json j;
    if (per_program) j["language"] = language;
    auto rows = nlohmann::ordered_json::array();
    for (const Line& l : lines) {
      nlohmann::ordered_json x;
      x[per_program ? "program" : "language"] = l.name;
      x["records"] = std::int64_t(l.total);
      x["translated"] = std::int64_t(l.translated);
      x["untranslated"] = std::int64_t(l.untranslated);
      x["not_translatable"] = std::int64_t(l.untranslatable);
      x["share_translated"] = l.total > 0 ? nlohmann::ordered_json(l.translated / l.total) : nullptr;
      rows.push_back(std::move(x));
    }
    j[per_program ? "programs" : "languages"] = std::move(rows);
    if (per_program) {
      j["records"] = std::int64_t(total);
      j["translated"] = std::int64_t(translated);
      j["untranslated"] = std::int64_t(total - translated);
      j["not_translatable"] = std::int64_t(untranslatable);
    }
    std::cout << Dump(j) << std::endl;
    return 0;
  }

  std::size_t width = per_program ? 8 : 8;
  for (const Line& l : lines) width = std::max(width, text::Length(l.name));
  auto row = [&](const std::string& name, const std::string& a, const std::string& b, const std::string& c,
                 const std::string& d, const std::string& e) {
    std::cout << name << std::string(width - std::min(width, text::Length(name)), ' ') << std::right
              << std::setw(10) << a << std::setw(12) << b << std::setw(14) << c << std::setw(9) << d
              << std::setw(18) << e << "\n";
  };
  auto n = [](double d) { return std::to_string(std::int64_t(d)); };
  if (per_program) std::cout << "Language " << language << "\n";
  row(per_program ? "Program" : "Language", "Records", "Translated", "Untranslated", "Done", "Not translatable");
  for (const Line& l : lines)
    row(l.name, n(l.total), n(l.translated), n(l.untranslated), Share(l.translated, l.total), n(l.untranslatable));
  if (per_program)
    row("Total", n(total), n(translated), n(total - translated), Share(translated, total), n(untranslatable));
  std::cout.flush();
  return 0;
}

std::string Quoted(const std::string& s) {
  nlohmann::json j = s;  // escapes line breaks and tabs, so a finding stays on its line
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Calls visit(translation, first key, end of its keys) for each translation
// of a finding: the keys of a finding are those of each translation in turn.
template <class Visit>
void ForEachHeld(const exchange::Finding& f, Visit visit) {
  auto k = f.keys.begin();
  for (std::size_t i = 0; i < f.translations.size(); ++i) {
    const std::size_t n = i < f.held.size() ? f.held[i] : std::size_t(f.keys.end() - k);
    const auto end = k + std::ptrdiff_t(std::min(n, std::size_t(f.keys.end() - k)));
    visit(f.translations[i], k, end);
    k = end;
  }
}

int RunCheck(const ReportOptions& o) {
  const ServerChoice server(o.servers);
  ExchangeClient client(server);
  const std::string language = client.KnownLanguage(o.language);
  // The findings of every source text of the language, text by text.
  std::vector<exchange::Finding> findings;
  client.ForEachText(language, [&](const std::string& source, const std::vector<Row>& rows) {
    std::vector<exchange::TranslatedRecord> translated;
    for (const Row& r : rows)
      if (IsTranslated(r)) translated.push_back({KeyOfRecord(r), RowText(r, kStValorProp)});
    if (translated.empty()) return;
    auto f = exchange::CheckSourceText(source, translated);
    findings.insert(findings.end(), std::make_move_iterator(f.begin()), std::make_move_iterator(f.end()));
  });

  std::size_t errors = 0, notices = 0;
  for (const auto& f : findings) ++(exchange::SeverityOf(f.kind) == exchange::Severity::Error ? errors : notices);
  if (o.json) {
    nlohmann::ordered_json j;
    j["language"] = language;
    j["errors"] = errors;
    j["notices"] = notices;
    auto list = nlohmann::ordered_json::array();
    for (const auto& f : findings) {
      nlohmann::ordered_json x;
      x["check"] = exchange::CheckName(f.kind);
      x["severity"] = exchange::SeverityOf(f.kind) == exchange::Severity::Error ? "error" : "notice";
      x["source"] = f.source;
      x["translations"] = f.translations;
      auto keys = nlohmann::ordered_json::array();
      for (const auto& k : f.keys) keys.push_back(exchange::KeyText(k));
      x["keys"] = std::move(keys);
      // Which records hold which translation.
      auto held = nlohmann::ordered_json::array();
      ForEachHeld(f, [&](const std::string& translation, auto first, auto last) {
        nlohmann::ordered_json h;
        h["translation"] = translation;
        h["keys"] = nlohmann::ordered_json::array();
        for (auto k = first; k != last; ++k) h["keys"].push_back(exchange::KeyText(*k));
        held.push_back(std::move(h));
      });
      x["held"] = std::move(held);
      x["detail"] = f.detail;
      list.push_back(std::move(x));
    }
    j["findings"] = std::move(list);
    std::cout << Dump(j) << std::endl;
  } else {
    for (const auto& f : findings) {
      const bool error = exchange::SeverityOf(f.kind) == exchange::Severity::Error;
      std::cout << (error ? "error  " : "notice ") << exchange::CheckName(f.kind) << ": " << Quoted(f.source);
      for (const auto& t : f.translations) std::cout << " -> " << Quoted(t);
      std::cout << "\n  " << f.detail << "\n";
      ForEachHeld(f, [&](const std::string& translation, auto first, auto last) {
        const std::string indent = f.translations.size() > 1 ? "    " : "  ";
        if (f.translations.size() > 1) std::cout << "  " << Quoted(translation) << ":\n";
        for (auto k = first; k != last; ++k) std::cout << indent << exchange::KeyText(*k) << "\n";
      });
    }
    std::cout << language << ": " << errors << " error" << (errors == 1 ? "" : "s") << ", " << notices << " notice"
              << (notices == 1 ? "" : "s") << "\n";
    std::cout.flush();
  }
  return exchange::HasErrors(findings) ? 1 : 0;
}

template <class Run>
void AddReport(CLI::App& app, int& exit_code, const char* name, const char* what, bool language_required,
               const char* footer, Run run) {
  auto o = std::make_shared<ReportOptions>();
  CLI::App* cmd = app.add_subcommand(name, what);
  auto* lang = cmd->add_option("--lang", o->language, "language code, such as ENG");
  if (language_required) lang->required();
  cmd->add_flag("--json", o->json, "print one JSON object");
  AddServerOptions(cmd, o->servers);
  cmd->footer(footer);
  cmd->callback([o, &exit_code, name, run] {
    try {
      exit_code = run(*o);
    } catch (const std::exception& e) {
      std::cerr << "trd " << name << ": " << e.what() << "\n";
      exit_code = 1;
    }
  });
}

}  // namespace

void AddStatus(CLI::App& app, int& exit_code) {
  AddReport(app, exit_code, "status", "how far each language (or each program of one) is translated", false,
            "Without --lang: one line per language; with it: one per program of that language. Without --server or "
            "--db: TRD_SERVER when set, else --db var/trd.sqlite.",
            RunStatus);
}

void AddCheck(CLI::App& app, int& exit_code) {
  AddReport(app, exit_code, "check", "check the translations of a language (placeholders, accelerators, ...)", true,
            "Checks: inconsistent, identical (a notice), placeholders, accelerators, blanks, line-breaks. Exit "
            "status: 0 no error found (notices may be listed), 1 an error found, or a failure.",
            RunCheck);
}

}  // namespace trd::cli
