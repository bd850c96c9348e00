// The progress page of `trd serve` as a browser shows it: a headless
// Chromium (tests/support/HeadlessChromium.h) loads the page of a server
// holding the harvested samples and reads what a user reads. Skipped, with
// the reason, where chromium is not installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <map>
#include <set>

#include "platform/Wire.h"
#include "protocol/Methods.h"
#include "protocol/Translatable.h"
#include "server/Database.h"
#include "server/Html.h"
#include "server/ProgressPage.h"
#include "support/ChildProcess.h"
#include "support/HeadlessChromium.h"
#include "support/PageChecks.h"
#include "support/ServerProcess.h"
#include "support/StoredRecords.h"
#include "support/TempTree.h"
#include "support/TestDatabase.h"

namespace trd::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using json = nlohmann::json;

const std::string kSamples = std::string(TRD_SOURCE_DIR) + "/samples";

// A text as the page's DOM holds it: HTML reads a CR LF as one LF.
std::string AsParsed(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

struct Counts {
  std::int64_t total = 0, translated = 0, untranslated = 0;
  bool operator==(const Counts&) const = default;
};

void PrintTo(const Counts& c, std::ostream* os) {
  *os << "{" << c.total << " records, " << c.translated << " translated, " << c.untranslated << " untranslated}";
}

std::int64_t CountOf(const json& cell) {
  std::string digits;
  for (char c : cell.get<std::string>())
    if (c >= '0' && c <= '9') digits += c;
  return digits.empty() ? -1 : std::stoll(digits);
}

// The rows of a table of counts on the page: the row's data-ATTRIBUTE value
// to its counts, in page order.
std::vector<std::pair<std::string, Counts>> CountRows(HeadlessChromium& browser, const std::string& section,
                                                      const std::string& attribute) {
  const json rows = browser.Evaluate(
      "Array.from(document.querySelectorAll('#" + section + " tbody tr[data-" + attribute + "]')).map(tr => [" +
      "tr.getAttribute('data-" + attribute + "'), tr.querySelector('.registros').textContent, " +
      "tr.querySelector('.traduzidos').textContent, tr.querySelector('.pendentes').textContent])");
  std::vector<std::pair<std::string, Counts>> out;
  for (const json& r : rows)
    out.emplace_back(r[0].get<std::string>(), Counts{CountOf(r[1]), CountOf(r[2]), CountOf(r[3])});
  return out;
}

// Per language and per language/program, counted from the table itself:
// the translatable records (the page shows the others apart).
struct Expected {
  std::map<std::string, Counts> languages;
  std::map<std::string, std::map<std::string, Counts>> programs;
};

Expected CountStored(const std::string& db) {
  Expected e;
  for (const StoredRecord& r : ReadRecords(db)) {
    if (!protocol::Translatable(r.source)) continue;
    const std::string program = r.key.substr(0, r.key.find('/'));
    for (Counts* c : {&e.languages[r.language], &e.programs[r.language][program]}) {
      ++c->total;
      ++(r.state == "T" ? c->translated : c->untranslated);
    }
  }
  return e;
}

// A database holding the samples harvested in POR and ENG, with some of the
// ENG records translated (more in some programs than in others).
class DashboardPage : public ::testing::Test {
 protected:
  void SetUp() override {
    browser_ = HeadlessChromium::Start();
    if (!browser_) GTEST_SKIP() << HeadlessChromium::kMissing;
  }

  void Harvest(const std::string& source, const std::string& language) {
    ChildProcess child({TRD_EXE, "harvest", source, "--lang", language, "--yes", "--db", db_}, {"TRD_SERVER="});
    ASSERT_EQ(child.Wait(), 0) << child.Err();
  }

  void HarvestSamples() {
    Harvest(kSamples, "POR");
    Harvest(kSamples, "ENG");
    auto db = server::OpenDatabase(db_);
    auto session = db->Acquire();
    // Harvested a while ago; translated since.
    session->Execute("UPDATE TRDPROPRIEDADE SET DTULTATUTRAD = '2026-11-01T09:00:00.000'");
    // Every other record of the first programs, and one record of another.
    session->Execute(
        "UPDATE TRDPROPRIEDADE SET IDSITTRADUCAO = 'T', STVALORPROP = 'EN ' || STAGRVALPROP, "
        "DTULTATUTRAD = '2026-12-01T10:00:00.000' WHERE IDIDIOMA = 'ENG' AND rowid % 2 = 0 AND CDPROGRAMA IN "
        "(SELECT DISTINCT CDPROGRAMA FROM TRDPROPRIEDADE ORDER BY CDPROGRAMA LIMIT 2)");
    session->Execute(
        "UPDATE TRDPROPRIEDADE SET IDSITTRADUCAO = 'T', STVALORPROP = 'Only one', "
        "DTULTATUTRAD = '2026-12-02T11:30:00.000' WHERE rowid = (SELECT MAX(rowid) FROM TRDPROPRIEDADE "
        "WHERE IDIDIOMA = 'ENG')");
  }

  std::string Url(const std::string& path = "/") { return server_->Url() + path; }

  void Serve(std::vector<std::string> extra = {}) {
    ServerProcessOptions options;
    options.db = db_;
    options.extra_args = std::move(extra);
    server_.emplace(options);
  }

  TempTree dir_{"trd-page"};
  std::string db_ = dir_.Path("trd.sqlite");
  std::unique_ptr<HeadlessChromium> browser_;
  std::optional<ServerProcess> server_;
};

TEST_F(DashboardPage, ShowsEveryLanguageAndProgramWithTheCountsOfTheTable) {
  HarvestSamples();
  const Expected expected = CountStored(db_);
  ASSERT_EQ(expected.languages.size(), 2u);
  Serve();
  HeadlessChromium& browser = *browser_;

  browser.Navigate(Url("/?idioma=ENG"));
  EXPECT_EQ(browser.Evaluate("document.title"), "Progresso das traduções");
  // The style sheet came from the server and applies.
  EXPECT_EQ(browser.Evaluate("getComputedStyle(document.querySelector('header')).display"), "flex");

  std::map<std::string, Counts> languages;
  for (const auto& [code, counts] : CountRows(browser, "idiomas", "idioma")) languages[code] = counts;
  for (const auto& [code, counts] : expected.languages) EXPECT_EQ(languages[code], counts) << code;
  EXPECT_EQ(languages["ESP"], Counts{}) << "a language without records shows zeros";
  // The share as a number and a bar.
  const json eng = browser.Evaluate(
      "(() => { const tr = document.querySelector('#idiomas tr[data-idioma=\"ENG\"]');"
      " return [tr.querySelector('.percentual').textContent, tr.querySelector('progress').value]; })()");
  const Counts& e = expected.languages.at("ENG");
  const long permille = std::lround(1000.0 * double(e.translated) / double(e.total));
  EXPECT_EQ(eng[1].get<long>(), permille);
  EXPECT_THAT(eng[0].get<std::string>(), HasSubstr(std::to_string(permille / 10) + ","));

  // Every program of the language, the least translated first.
  const auto programs = CountRows(browser, "programas", "programa");
  ASSERT_FALSE(programs.empty());
  std::map<std::string, Counts> shown(programs.begin(), programs.end());
  EXPECT_EQ(shown, expected.programs.at("ENG"));
  for (std::size_t i = 1; i < programs.size(); ++i) {
    const Counts& a = programs[i - 1].second;
    const Counts& b = programs[i].second;
    EXPECT_LE(a.translated * b.total, b.translated * a.total) << programs[i - 1].first << " before " << programs[i].first;
  }
  EXPECT_GT(programs.back().second.translated, 0) << "the most translated program comes last";

  // Sorted by name from the column's header link.
  browser.EvaluateAndWait(
      "Array.from(document.querySelectorAll('#programas th a')).find(a => a.textContent === 'Programa').click()");
  const auto by_name = CountRows(browser, "programas", "programa");
  ASSERT_EQ(by_name.size(), programs.size());
  EXPECT_TRUE(std::is_sorted(by_name.begin(), by_name.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; }));

  // Another language from its row.
  browser.EvaluateAndWait("document.querySelector('#idiomas tr[data-idioma=\"POR\"] a').click()");
  const auto por = CountRows(browser, "programas", "programa");
  const std::map<std::string, Counts> por_shown(por.begin(), por.end());
  EXPECT_EQ(por_shown, expected.programs.at("POR"));

  // The latest changes, newest first: the one record translated last.
  const json recent = browser.Evaluate(
      "Array.from(document.querySelectorAll('#recentes tbody tr')).map(tr => tr.innerText)");
  ASSERT_FALSE(recent.empty());
  EXPECT_THAT(recent[0].get<std::string>(), HasSubstr("Only one"));
  EXPECT_THAT(recent[0].get<std::string>(), HasSubstr("02/12/2026 11:30"));
}

TEST_F(DashboardPage, EveryColumnSortsBothWaysAndSaysWhichWay) {
  HarvestSamples();
  Serve();
  HeadlessChromium& browser = *browser_;
  // What the header cell of the sorted column says, and the column's counts.
  auto sorted = [&] {
    return browser.Evaluate(
        "Array.from(document.querySelectorAll('#programas th[aria-sort]')).map(th => th.textContent + ' ' + "
        "th.getAttribute('aria-sort')).concat(document.querySelectorAll('#programas [aria-sort]:not(th)').length)");
  };
  auto click = [&](const std::string& label) {
    browser.EvaluateAndWait("Array.from(document.querySelectorAll('#programas th a')).find(a => a.textContent === " +
                            json(label).dump() + ").click()");
  };
  auto untranslated = [&] {
    std::vector<std::int64_t> out;
    for (const auto& [program, counts] : CountRows(browser, "programas", "programa")) out.push_back(counts.untranslated);
    return out;
  };

  browser.Navigate(Url("/?idioma=ENG"));
  EXPECT_EQ(sorted(), json::parse(R"(["Traduzido ascending", 0])")) << "the least translated first";
  click("Sem tradução");
  EXPECT_EQ(sorted(), json::parse(R"(["Sem tradução descending", 0])"));
  std::vector<std::int64_t> counts = untranslated();
  ASSERT_GT(counts.size(), 1u);
  EXPECT_TRUE(std::is_sorted(counts.rbegin(), counts.rend())) << "the most untranslated first";
  EXPECT_NE(counts.front(), counts.back());
  click("Sem tradução");
  EXPECT_EQ(sorted(), json::parse(R"(["Sem tradução ascending", 0])"));
  counts = untranslated();
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end())) << "reversed by the same header";
  EXPECT_EQ(browser.Evaluate("getComputedStyle(document.querySelector('#programas th a.ativo'), '::after').content"),
            "\" ▲\"");
}

// The accessibility checker finds nothing on any page (a language chosen,
// its programs listed, a search shown; the token form; a path the server
// does not have; a program's untranslated texts and a text's view), and no
// page scrolls sideways on a phone or a laptop.
TEST_F(DashboardPage, EveryPageIsAccessibleAndFitsItsWindow) {
  HarvestSamples();
  const std::optional<Axe> axe = Axe::Load();
  const std::string token_file = dir_.Write("token", "segredo\n");
  std::filesystem::permissions(token_file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  for (const bool with_token : {false, true}) {
    Serve(with_token ? std::vector<std::string>{"--token-file", token_file} : std::vector<std::string>{});
    std::vector<std::string> paths{"/?idioma=ENG&busca=a", "/nada/aqui"};
    if (!with_token) {  // the workbench's list and text view, reached from a count
      auto first_link = [&](const std::string& prefix) {
        return browser_->Evaluate("document.querySelector('a[href^=\"" + prefix + "\"]').getAttribute('href')")
            .get<std::string>();
      };
      browser_->Navigate(Url("/?idioma=ENG"));
      paths.push_back(first_link("/textos?"));
      browser_->Navigate(Url(paths.back()));
      paths.push_back(first_link("/texto?"));
    }
    for (const std::string& path : paths) {
      SCOPED_TRACE(path + (with_token ? " (token form)" : ""));
      for (const int width : {390, 1280}) {
        browser_->Resize(width, 900);
        browser_->Navigate(Url(path));
        EXPECT_EQ(SidewaysOverflow(*browser_), 0) << width << " px wide";
      }
      if (axe) {
        EXPECT_THAT(AxeViolations(*browser_, *axe), ::testing::IsEmpty());
      }
    }
  }
  if (!axe) GTEST_SKIP() << Axe::kMissing;
}

TEST_F(DashboardPage, ShowsTheLastHarvestAndTheChangesPerUserOfTheLastThirtyDays) {
  HarvestSamples();
  const std::size_t records = ReadRecords(db_).size();
  {
    auto db = server::OpenDatabase(db_);
    auto session = db->Acquire();
    session->Execute("UPDATE TRDVERSAO SET DTGERARQTRAD = '2026-12-05T08:15:00.000'");
    session->Execute("UPDATE TRDHISTORICO SET NMUSUARIO = 'ana' WHERE NRHISTORICO <= 3");
    session->Execute("UPDATE TRDHISTORICO SET NMUSUARIO = 'velho', DTALTERACAO = '2020-01-01T00:00:00.000' "
                     "WHERE NRHISTORICO = 4");
  }
  Serve();
  browser_->Navigate(Url("/"));
  EXPECT_THAT(browser_->Evaluate("document.querySelector('#atividade .colheita').textContent").get<std::string>(),
              HasSubstr("05/12/2026 08:15"));
  const json rows = browser_->Evaluate(
      "Array.from(document.querySelectorAll('#atividade tbody tr')).map(tr => Array.from(tr.cells).map(td => "
      "td.textContent))");
  EXPECT_EQ(rows, json::array({json::array({std::string(server::html::kUnnamedAuthor), server::FormatCount(std::int64_t(records) - 4)}),
                               json::array({"ana", "3"})}));
}

// A path the page does not have: a page in Portuguese with 404, HEAD alike;
// the data routes answer in the wire format still.
TEST_F(DashboardPage, AnUnknownPathAnswersThePagesNotFound) {
  Serve();
  httplib::Client client(server_->Host(), server_->Port());
  auto missing = client.Get("/progresso?idioma=ENG");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  EXPECT_THAT(missing->get_header_value("Content-Type"), HasSubstr("text/html"));
  EXPECT_THAT(missing->body, HasSubstr("Página não encontrada"));
  EXPECT_THAT(missing->body, HasSubstr("<code>/progresso</code>"));
  auto head = client.Head("/progresso");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 404);
  EXPECT_TRUE(head->body.empty());
  EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(missing->body.size()));
}

TEST_F(DashboardPage, SearchFindsATextIgnoringCaseWithItsKeysAndTranslations) {
  HarvestSamples();
  // A text held by more than one record: its keys in both languages.
  const std::vector<StoredRecord> stored = ReadRecords(db_);
  std::map<std::string, std::vector<const StoredRecord*>> by_source;
  for (const StoredRecord& r : stored) by_source[r.source].push_back(&r);
  const StoredRecord* pick = nullptr;
  for (const StoredRecord& r : stored)
    if (r.language == "ENG" && r.state == "T" && r.source.size() >= 6 && r.source.find('\n') == std::string::npos &&
        by_source[r.source].size() >= 2 && r.source.find_first_of("<>&'\"") == std::string::npos)
      pick = &r;
  ASSERT_NE(pick, nullptr);
  std::string needle = pick->source.substr(1, 5);
  for (char& c : needle) c = (c >= 'a' && c <= 'z') ? char(c - 32) : (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
  Serve();
  HeadlessChromium& browser = *browser_;

  browser.Navigate(Url("/"));
  browser.EvaluateAndWait("document.querySelector('#busca input[name=busca]').value = " + json(needle).dump() +
                          "; document.querySelector('#busca form').submit()");
  const json texts = browser.Evaluate(
      "Array.from(document.querySelectorAll('#busca article')).map(a => [a.querySelector('h3').textContent, "
      "Array.from(a.querySelectorAll('tbody tr')).map(tr => Array.from(tr.cells).map(td => td.textContent))])");
  ASSERT_FALSE(texts.empty()) << browser.Text();
  bool found = false;
  for (const json& t : texts) {
    std::string lower = t[0].get<std::string>();
    for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
    std::string lower_needle = needle;
    for (char& c : lower_needle) c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
    EXPECT_THAT(lower, HasSubstr(lower_needle)) << "every text found contains the needle";
    if (t[0] != pick->source) continue;
    found = true;
    // Language, program, form, component, property, number, translation, state.
    std::set<std::string> keys, expected_keys;
    for (const json& cells : t[1]) {
      keys.insert(cells[0].get<std::string>() + ":" + cells[1].get<std::string>() + "/" +
                  cells[2].get<std::string>() + "/" + cells[3].get<std::string>() + "/" +
                  cells[4].get<std::string>() + "/" + cells[5].get<std::string>() + "=" +
                  cells[6].get<std::string>() + " (" + cells[7].get<std::string>() + ")");
    }
    for (const StoredRecord* r : by_source[pick->source])
      expected_keys.insert(r->language + ":" + r->key + "=" + (r->state == "T" ? r->translation : "") + " (" +
                           (r->state == "T" ? "traduzido" : "sem tradução") + ")");
    EXPECT_EQ(keys, expected_keys);
  }
  EXPECT_TRUE(found) << pick->source << " not among the texts found for " << needle;

  // A text nobody holds.
  browser.Navigate(Url("/?busca=" + std::string("zz%C3%A7qx")));
  EXPECT_THAT(browser.Text(), HasSubstr("Nenhum texto contém “zzçqx”"));
}

TEST_F(DashboardPage, SearchResultsArePagedWithoutRepeatsOrGaps) {
  HarvestSamples();
  std::set<std::string> sources;
  for (const StoredRecord& r : ReadRecords(db_))
    if (r.source.find('e') != std::string::npos || r.source.find('E') != std::string::npos)
      sources.insert(AsParsed(r.source));
  Serve();
  HeadlessChromium& browser = *browser_;

  browser.Navigate(Url("/?busca=e"));
  std::multiset<std::string> seen;
  int pages = 1;
  while (true) {
    const json texts = browser.Evaluate(
        "Array.from(document.querySelectorAll('#busca article h3')).map(h => h.textContent)");
    for (const json& t : texts) seen.insert(t.get<std::string>());
    if (!browser.Evaluate("!!document.querySelector('#busca a.proxima')").get<bool>()) break;
    browser.EvaluateAndWait("document.querySelector('#busca a.proxima').click()");
    ASSERT_LT(++pages, 100);
  }
  EXPECT_GT(pages, 1) << "the samples fill more than one page";
  // A text cut by a page boundary shows on both pages; nothing is missing.
  EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()), sources);
  EXPECT_LE(seen.size(), sources.size() + std::size_t(pages - 1));

  // A cursor edited by hand: the first page again, and why.
  browser.Navigate(Url("/?busca=e&pagina=3&depois=%7Bnada"));
  EXPECT_THAT(browser.Text(), HasSubstr("a busca recomeça da primeira página"));
  EXPECT_GT(browser.Evaluate("document.querySelectorAll('#busca article').length").get<int>(), 0);
}

TEST_F(DashboardPage, AScriptCaptionIsShownAsTextAndDoesNotRun) {
  const std::string script = "<script>document.title='executado';alert(1)</script>";
  const std::string image = "<img src=x onerror=\"document.title='imagem'\">";
  // Quotes doubled, as a form file writes them.
  auto quoted = [](std::string text) {
    for (std::size_t at = 0; (at = text.find('\'', at)) != std::string::npos; at += 2) text.insert(at, "'");
    return "'" + text + "'";
  };
  TempTree source("trd-page-src");
  source.Write("Cli/Src/Ataque.dfm", "object frmAtaque: TForm\n  Caption = " + quoted(script) +
                                         "\n  object lbl: TLabel\n    Caption = " + quoted(image) + "\n  end\nend\n");
  Harvest(source.Path(""), "POR");
  Serve();
  HeadlessChromium& browser = *browser_;

  browser.Navigate(Url("/?busca=%3Cscript"));
  const std::string text = browser.Text();
  EXPECT_THAT(text, HasSubstr(script));
  EXPECT_EQ(browser.Evaluate("document.title"), "Progresso das traduções");
  EXPECT_EQ(browser.Evaluate("document.querySelectorAll('script').length"), 0);
  browser.Navigate(Url("/?busca=onerror"));
  EXPECT_THAT(browser.Text(), HasSubstr(image));
  EXPECT_EQ(browser.Evaluate("document.querySelectorAll('main img').length"), 0);
  EXPECT_EQ(browser.Evaluate("document.title"), "Progresso das traduções");
  EXPECT_FALSE(browser.DialogOpened());

  // The policy forbids inline scripts whatever the page holds.
  httplib::Client client(server_->Host(), server_->Port());
  auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_THAT(page->get_header_value("Content-Security-Policy"), HasSubstr("script-src 'self'"));
  EXPECT_THAT(page->get_header_value("Content-Security-Policy"), Not(HasSubstr("unsafe-inline")));
}

TEST_F(DashboardPage, WithATokenTheTableShowsOnlyAfterTheForm) {
  HarvestSamples();
  const std::string token = "s3gredo da equipe+;=";
  const std::string token_file = dir_.Write("token", token + "\n");
  std::filesystem::permissions(token_file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  Serve({"--token-file", token_file});
  HeadlessChromium& browser = *browser_;
  const std::string program = ReadRecords(db_).front().key.substr(0, ReadRecords(db_).front().key.find('/'));

  browser.Navigate(Url("/?idioma=POR"));
  EXPECT_EQ(browser.Evaluate("document.querySelectorAll('table').length"), 0);
  EXPECT_EQ(browser.Evaluate("!!document.querySelector('input[name=token]')"), true);
  EXPECT_THAT(browser.Text(), Not(HasSubstr(program)));
  browser.Navigate(Url("/?busca=a"));
  EXPECT_EQ(browser.Evaluate("document.querySelectorAll('table, article').length"), 0);

  // A wrong token: the form again, with the reason.
  browser.EvaluateAndWait("document.querySelector('input[name=token]').value = 'errado';"
                          "document.querySelector('form').submit()");
  EXPECT_THAT(browser.Text(), HasSubstr("Token incorreto"));
  EXPECT_EQ(browser.Evaluate("document.querySelectorAll('table').length"), 0);

  browser.EvaluateAndWait("document.querySelector('input[name=token]').value = " + json(token).dump() +
                          "; document.querySelector('form').submit()");
  EXPECT_EQ(browser.Evaluate("location.pathname"), "/");
  EXPECT_THAT(CountRows(browser, "programas", "programa"), Not(::testing::IsEmpty()));
  EXPECT_THAT(browser.Text(), HasSubstr(program));
  EXPECT_EQ(browser.Evaluate("document.cookie"), "") << "the session cookie is HttpOnly";

  // Signing out forgets it.
  browser.EvaluateAndWait("document.querySelector('form.sair').submit()");
  EXPECT_EQ(browser.Evaluate("document.querySelectorAll('table').length"), 0);
}

// Without a browser: the cookie the form sets, as the JSON methods take it.
TEST(DashboardSession, TheSessionCookieAlsoOpensTheMethodsAndNeverHoldsTheToken) {
  TempTree dir("trd-session");
  const std::string token = "outro-segredo";
  const std::string token_file = dir.Write("token", token + "\n");
  std::filesystem::permissions(token_file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  ServerProcessOptions options;
  options.extra_args = {"--token-file", token_file};
  ServerProcess server(options);
  httplib::Client client(server.Host(), server.Port());
  const std::string languages =
      wire::EncodeRequest({std::string(protocol::kModuleForms), std::string(protocol::kGetIdiLeDfm), {}});

  auto refused = client.Post("/call", languages, "application/json");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 403);

  // The form's anti-forgery key comes with the page, as a cookie and in the
  // form; the right token without it signs nobody in.
  auto page = client.Get("/");
  ASSERT_TRUE(page);
  const std::string form_cookie = page->get_header_value("Set-Cookie");
  ASSERT_THAT(form_cookie, HasSubstr("trd_form="));
  const std::string form_pair = form_cookie.substr(0, form_cookie.find(';'));
  const std::string form_key = "chave_form=" + form_pair.substr(form_pair.find('=') + 1) + "&";
  const httplib::Headers form_headers{{"Cookie", form_pair}};
  EXPECT_THAT(page->body, HasSubstr(form_pair.substr(form_pair.find('=') + 1)));
  for (const auto& [headers, body] : std::vector<std::pair<httplib::Headers, std::string>>{
           {{}, "token=" + token}, {form_headers, "token=" + token}, {{}, form_key + "token=" + token}}) {
    auto forged_form = client.Post("/entrar", headers, body, "application/x-www-form-urlencoded");
    ASSERT_TRUE(forged_form);
    EXPECT_EQ(forged_form->status, 403) << body;
    EXPECT_THAT(forged_form->get_header_value("Set-Cookie"), Not(HasSubstr("trd_sessao")));
  }

  auto wrong = client.Post("/entrar", form_headers, form_key + "token=nope", "application/x-www-form-urlencoded");
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->status, 403);
  EXPECT_FALSE(wrong->has_header("Set-Cookie"));

  auto signed_in =
      client.Post("/entrar", form_headers, form_key + "token=" + token, "application/x-www-form-urlencoded");
  ASSERT_TRUE(signed_in);
  EXPECT_EQ(signed_in->status, 303);
  const std::string cookie = signed_in->get_header_value("Set-Cookie");
  EXPECT_THAT(cookie, HasSubstr("HttpOnly"));
  EXPECT_THAT(cookie, HasSubstr("SameSite=Strict"));
  EXPECT_THAT(cookie, Not(HasSubstr(token)));
  const std::string pair = cookie.substr(0, cookie.find(';'));

  auto with_cookie = client.Post("/call", {{"Cookie", "other=1; " + pair}}, languages, "application/json");
  ASSERT_TRUE(with_cookie);
  EXPECT_EQ(with_cookie->status, 200);
  EXPECT_TRUE(std::holds_alternative<Packet>(wire::DecodeResponse(with_cookie->body)));

  auto forged = client.Post("/call", {{"Cookie", "trd_sessao=" + token}}, languages, "application/json");
  ASSERT_TRUE(forged);
  EXPECT_EQ(forged->status, 403);

  // Only the page's routes are open without the token; the form takes a
  // small body only.
  auto elsewhere = client.Get("/nada");
  ASSERT_TRUE(elsewhere);
  EXPECT_EQ(elsewhere->status, 404);
  EXPECT_THAT(elsewhere->body, Not(HasSubstr("<table")));
  httplib::Client again(server.Host(), server.Port());
  auto flood = again.Post("/entrar", "token=" + std::string(5000, 'x'), "application/x-www-form-urlencoded");
  ASSERT_TRUE(flood);
  EXPECT_EQ(flood->status, 413);
}

// A browser's session as the page opens it: its cookie pair, and the
// form's anti-forgery cookie and field.
struct SignedIn {
  std::string session;   // "trd_sessao=..."
  std::string form;      // "trd_form=..."
  std::string form_key;  // "chave_form=...&"
};

SignedIn SignIn(const ServerProcess& server, const std::string& token) {
  httplib::Client client(server.Host(), server.Port());
  auto page = client.Get("/");
  if (!page) throw std::runtime_error("GET / failed");
  const std::string form_cookie = page->get_header_value("Set-Cookie");
  SignedIn s;
  s.form = form_cookie.substr(0, form_cookie.find(';'));
  s.form_key = "chave_form=" + s.form.substr(s.form.find('=') + 1) + "&";
  auto in = client.Post("/entrar", {{"Cookie", s.form}}, s.form_key + "token=" + token,
                        "application/x-www-form-urlencoded");
  if (!in || in->status != 303) throw std::runtime_error("POST /entrar was not answered with 303");
  const std::string cookie = in->get_header_value("Set-Cookie");
  s.session = cookie.substr(0, cookie.find(';'));
  return s;
}

// The status a look-up gets with the session's cookie alone.
int CallWith(const ServerProcess& server, const SignedIn& s) {
  httplib::Client client(server.Host(), server.Port());
  const std::string languages =
      wire::EncodeRequest({std::string(protocol::kModuleForms), std::string(protocol::kGetIdiLeDfm), {}});
  auto res = client.Post("/call", {{"Cookie", s.session}}, languages, "application/json");
  return res ? res->status : -1;
}

// Sessions live in the database: every server on it honours them, a
// restart keeps them, and they end by "Sair", by an administrator, or
// unused for the idle time.
TEST(DashboardSession, SessionsLiveInTheDatabaseUntilSignedOutEndedOrIdle) {
  TempTree dir("trd-sessions");
  const std::string token = "segredo-comum";
  const std::string token_file = dir.Write("token", token + "\n");
  std::filesystem::permissions(token_file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  ServerProcessOptions options;
  options.db = dir.Path("trd.sqlite");
  options.extra_args = {"--token-file", token_file};
  std::optional<ServerProcess> server(std::in_place, options);
  ServerProcess other(options);

  const SignedIn first = SignIn(*server, token);
  EXPECT_EQ(CallWith(*server, first), 200);
  EXPECT_EQ(CallWith(other, first), 200) << "another server on the same database";
  server.reset();
  server.emplace(options);
  EXPECT_EQ(CallWith(*server, first), 200) << "after a restart";

  // "Sair" ends it everywhere.
  httplib::Client client(server->Host(), server->Port());
  auto out = client.Post("/sair", {{"Cookie", first.session + "; " + first.form}}, first.form_key,
                         "application/x-www-form-urlencoded");
  ASSERT_TRUE(out);
  EXPECT_EQ(out->status, 303);
  EXPECT_EQ(CallWith(*server, first), 403);
  EXPECT_EQ(CallWith(other, first), 403);

  // An administrator ends one by the name `trd session list` shows.
  const SignedIn second = SignIn(*server, token);
  ChildProcess list({TRD_EXE, "session", "list", "--db", options.db});
  ASSERT_EQ(list.Wait(), 0) << list.Err();
  EXPECT_THAT(list.Out(), HasSubstr("(token)"));
  EXPECT_THAT(list.Out(), Not(HasSubstr(second.session.substr(second.session.find('=') + 1))));
  const std::string listed = list.Out().substr(list.Out().find('\n') + 1);
  ChildProcess end({TRD_EXE, "session", "end", "--db", options.db, listed.substr(0, listed.find(' '))});
  ASSERT_EQ(end.Wait(), 0) << end.Err();
  EXPECT_EQ(CallWith(*server, second), 403);

  // Unused for longer than the idle time, a session is over.
  const SignedIn third = SignIn(*server, token);
  EXPECT_EQ(CallWith(*server, third), 200);
  {
    auto db = server::OpenDatabase(options.db);
    const FieldValue long_ago[] = {DateTime{DateTime::Now().ms - 13 * 3600 * 1000}};
    db->Acquire()->Execute("UPDATE TRDSESSAO SET DTULTUSO = ?", long_ago);
  }
  EXPECT_EQ(CallWith(*server, third), 403);
  EXPECT_EQ(CallWith(other, third), 403);
}

// Several servers on one database keep nothing another needs: harvests sent
// to two at once store what one harvest stores, and a session opened on one
// opens the page on the other (every backend a team may share).
TEST(DashboardSession, TwoServersOnOneDatabaseServeTheSameHarvestsAndSessions) {
  std::vector<TestBackend> backends{TestBackend::Sqlite};
  if (TestDatabase::Available(TestBackend::Postgres)) backends.push_back(TestBackend::Postgres);
  for (TestBackend backend : backends) {
    SCOPED_TRACE(backend == TestBackend::Sqlite ? "SQLite" : "PostgreSQL");
    TestDatabase db(backend, TestDatabase::Storage::File);
    TempTree dir("trd-two-servers");
    const std::string token = "segredo-comum";
    const std::string token_file = dir.Write("token", token + "\n");
    std::filesystem::permissions(token_file,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ServerProcessOptions options;
    options.db = db.Url();
    options.extra_args = {"--token-file", token_file};
    ServerProcess one(options), two(options);

    auto harvest = [&](const ServerProcess& server) {
      return std::make_unique<ChildProcess>(
          std::vector<std::string>{TRD_EXE, "harvest", kSamples, "--lang", "POR", "--yes", "--json", "--server",
                                   server.Url()},
          std::vector<std::string>{"TRD_SERVER=", "TRD_TOKEN_FILE=" + token_file});
    };
    auto a = harvest(one), b = harvest(two);
    ASSERT_EQ(a->Wait(), 0) << a->Err();
    ASSERT_EQ(b->Wait(), 0) << b->Err();
    const auto stored = ReadRecords(db.Url());
    ASSERT_FALSE(stored.empty());
    std::set<std::string> keys;
    for (const auto& r : stored) keys.insert(r.key);
    EXPECT_EQ(keys.size(), stored.size()) << "no key stored twice";
    auto again = harvest(two);
    ASSERT_EQ(again->Wait(), 0) << again->Err();
    EXPECT_EQ(json::parse(again->Out())["new"], 0);
    EXPECT_EQ(ReadRecords(db.Url()).size(), stored.size());

    const SignedIn session = SignIn(one, token);
    httplib::Client client(two.Host(), two.Port());
    auto page = client.Get("/?idioma=POR", {{"Cookie", session.session}});
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_THAT(page->body, HasSubstr(stored.front().key.substr(0, stored.front().key.find('/'))));
    EXPECT_THAT(page->body, Not(HasSubstr("name=\"token\"")));
  }
}

}  // namespace
}  // namespace trd::test
