// The workbench as its users meet it in a browser (headless Chromium, skipped
// with the reason where it is not installed), on every backend a team may
// share: a translator signs in with a password, follows an untranslated
// count, translates texts with the keyboard; a reviewer approves; a reader
// cannot save; a source text replaced while the view was open is refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "server/Database.h"
#include "server/Users.h"
#include "support/ChildProcess.h"
#include "support/HeadlessChromium.h"
#include "support/PageChecks.h"
#include "support/ServerProcess.h"
#include "support/TempTree.h"
#include "support/TestDatabase.h"

namespace trd::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using json = nlohmann::json;

const std::string kSamples = std::string(TRD_SOURCE_DIR) + "/samples";

std::int64_t Digits(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (c >= '0' && c <= '9') digits += c;
  return digits.empty() ? -1 : std::stoll(digits);
}

class Workbench {
 public:
  Workbench(HeadlessChromium& browser, const ServerProcess& server) : b_(browser), server_(server) {}

  void Go(const std::string& path) { b_.Navigate(server_.Url() + path); }

  void SignIn(const std::string& user, const std::string& password) {
    Go("/");
    if (b_.Evaluate("!!document.querySelector('form.sair')").get<bool>())
      b_.EvaluateAndWait("document.querySelector('form.sair').submit()");
    b_.EvaluateAndWait("document.getElementById('usuario').value = " + json(user).dump() +
                       "; document.getElementById('senha').value = " + json(password).dump() +
                       "; document.getElementById('entrar-usuario').submit()");
  }

  std::string Text(const std::string& selector) {
    return b_.Evaluate("(document.querySelector(" + json(selector).dump() + ") || {textContent: ''}).textContent")
        .get<std::string>();
  }
  bool Has(const std::string& selector) {
    return b_.Evaluate("!!document.querySelector(" + json(selector).dump() + ")").get<bool>();
  }
  // The key fields of the view's form, as a query.
  std::string KeyQuery() {
    return b_
        .Evaluate("['idioma','programa','formulario','componente','propriedade','numero'].map(n => n + '=' + "
                  "encodeURIComponent(document.querySelector('#traduzir input[name=' + n + ']').value)).join('&')")
        .get<std::string>();
  }
  // Types into the focused field a translation that keeps the source's
  // blanks, placeholders and accelerators, then presses Ctrl+Enter.
  std::string TranslateWithKeyboard(const std::string& extra = "") {
    const std::string typed =
        b_.Evaluate("document.activeElement.id === 'traducao' ? "
                    "document.getElementById('origem').textContent.replace(/^(\\s*)/, '$1EN-') + " +
                    json(extra).dump() + " : null")
            .get<std::string>();  // throws when the field had no focus
    b_.Evaluate("document.activeElement.value = " + json(typed).dump());
    b_.EvaluateAndWait("document.activeElement.dispatchEvent(new KeyboardEvent('keydown', "
                       "{key: 'Enter', ctrlKey: true, bubbles: true}))");
    return typed;
  }

 private:
  HeadlessChromium& b_;
  const ServerProcess& server_;
};

TEST(WorkbenchPage, TranslateReviewAndRefuseInTheBrowser) {
  auto browser = HeadlessChromium::Start();
  if (!browser) GTEST_SKIP() << HeadlessChromium::kMissing;
  std::vector<TestBackend> backends{TestBackend::Sqlite};
  if (TestDatabase::Available(TestBackend::Postgres)) backends.push_back(TestBackend::Postgres);
  for (TestBackend backend : backends) {
    SCOPED_TRACE(BackendName(backend));
    TestDatabase db(backend, TestDatabase::Storage::File);
    TempTree dir("trd-workbench");
    ChildProcess harvest({TRD_EXE, "harvest", kSamples, "--lang", "ENG", "--yes", "--db", db.Url()}, {"TRD_SERVER="});
    ASSERT_EQ(harvest.Wait(), 0) << harvest.Err();
    auto storage = server::OpenDatabase(db.Url());
    {
      auto s = storage->Acquire();
      for (auto [name, role] : {std::pair{"ana", server::Role::Translator}, std::pair{"rui", server::Role::Reviewer},
                                std::pair{"lia", server::Role::Reader}}) {
        server::AddUser(*s, name, role);
        server::SetPassword(*s, name, std::string("senha-") + name);
      }
    }
    const std::string token_file = dir.Write("token", "segredo-da-equipe\n");
    std::filesystem::permissions(token_file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ServerProcessOptions options;
    options.db = db.Url();
    options.extra_args = {"--token-file", token_file};
    ServerProcess server(options);
    Workbench page(*browser, server);

    page.SignIn("ana", "errada");
    EXPECT_THAT(browser->Text(), HasSubstr("Usuário ou senha incorretos"));
    page.SignIn("ana", "senha-ana");
    EXPECT_THAT(page.Text("#quem"), HasSubstr("ana (tradutor): ler, traduzir."));

    // From the program's untranslated count to its list, and to a text.
    page.Go("/?idioma=ENG");
    const std::string program = browser->Evaluate(
        "document.querySelector('#programas td.pendentes a').closest('tr').dataset.programa").get<std::string>();
    const std::int64_t before = Digits(page.Text("#programas tr[data-programa='" + program + "'] td.pendentes"));
    browser->EvaluateAndWait("document.querySelector('#programas td.pendentes a').click()");
    ASSERT_TRUE(page.Has("#lista a.abrir")) << browser->Text();
    const std::optional<Axe> axe = Axe::Load();
    if (axe) {
      EXPECT_THAT(AxeViolations(*browser, *axe), ::testing::IsEmpty()) << "the list";
    }
    browser->EvaluateAndWait("document.querySelector('#lista a.abrir').click()");
    if (axe) {
      EXPECT_THAT(AxeViolations(*browser, *axe), ::testing::IsEmpty()) << "the text's view, to translate";
    }

    // Three texts, each saved with Ctrl+Enter, each view leading to the next.
    std::vector<std::pair<std::string, std::string>> saved;  // key query, translation
    for (int i = 0; i < 3; ++i) {
      const std::string key = page.KeyQuery();
      saved.emplace_back(key, page.TranslateWithKeyboard());
      EXPECT_THAT(browser->Text(), HasSubstr("Tradução salva em"));
      EXPECT_NE(page.KeyQuery(), key) << "went on to another text";
    }
    for (const auto& [key, translation] : saved) {
      page.Go("/texto?" + key);
      EXPECT_EQ(page.Text("#atual"), translation);
      EXPECT_THAT(page.Text("#historico tbody tr:last-child"), HasSubstr("ana"));
      EXPECT_EQ(page.Text("#historico tbody tr:last-child td.depois"), translation);
    }
    page.Go("/?idioma=ENG");
    EXPECT_LE(Digits(page.Text("#programas tr[data-programa='" + program + "'] td.pendentes")), before - 3);

    // An error of the checks needs a confirmation; a source text replaced
    // while the view was open is refused, the new text shown.
    page.Go("/textos?idioma=ENG&programa=" + program);
    browser->EvaluateAndWait("document.querySelector('#lista a.abrir').click()");
    const std::string open_key = page.KeyQuery();
    page.TranslateWithKeyboard("\nsegunda linha");
    EXPECT_TRUE(page.Has("#confirmar")) << browser->Text();
    EXPECT_EQ(page.KeyQuery(), open_key);
    const json k = browser->Evaluate(
        "['programa','formulario','componente','propriedade','numero'].map(n => "
        "document.querySelector('#traduzir input[name=' + n + ']').value)");
    const std::string where =
        " WHERE IDIDIOMA = 'ENG' AND CDPROGRAMA = ? AND NMFORMULARIO = ? AND NMCOMPONENTE = ? AND NMPROPRIEDADE = ? "
        "AND NRVALORPROP = ?";
    auto set_source = [&](const std::string& source) {
      const FieldValue params[] = {source, k[0].get<std::string>(), k[1].get<std::string>(), k[2].get<std::string>(),
                                   k[3].get<std::string>(), std::stod(k[4].get<std::string>())};
      return storage->Acquire()->Execute("UPDATE TRDPROPRIEDADE SET STAGRVALPROP = ?" + where, params);
    };
    ASSERT_EQ(set_source("Texto trocado pela colheita"), 1);
    browser->EvaluateAndWait("document.getElementById('confirmar').checked = true; "
                             "document.getElementById('traduzir').requestSubmit()");
    EXPECT_THAT(browser->Text(), HasSubstr("O texto de origem mudou"));
    EXPECT_EQ(page.Text("#origem"), "Texto trocado pela colheita");
    EXPECT_FALSE(page.Has("#atual")) << "nothing saved";

    // A source with CR LF line breaks, as form files hold them, saves (the
    // browser rewrites the breaks of what it posts back), and a translation
    // takes the line breaks of its source, whatever the browser sent.
    for (const std::string breaks : {"\r\n", "\n"}) {
      ASSERT_EQ(set_source("Linha um" + breaks + "Linha dois"), 1);
      page.Go("/texto?" + open_key);
      page.TranslateWithKeyboard();
      EXPECT_THAT(browser->Text(), HasSubstr("Tradução salva em"));
      const FieldValue params[] = {k[0].get<std::string>(), k[1].get<std::string>(), k[2].get<std::string>(),
                                   k[3].get<std::string>(), std::stod(k[4].get<std::string>())};
      const FieldType types[] = {FieldType::String};
      const auto rows = storage->Acquire()->Query("SELECT STVALORPROP FROM TRDPROPRIEDADE" + where, params, types);
      ASSERT_EQ(rows.size(), 1u);
      EXPECT_EQ(std::get<std::string>(rows[0][0]), "EN-Linha um" + breaks + "Linha dois");
    }

    // A reviewer approves a saved translation.
    page.SignIn("rui", "senha-rui");
    page.Go("/texto?" + saved.front().first);
    ASSERT_TRUE(page.Has("#revisar button[value=aprovar]"));
    browser->EvaluateAndWait("document.querySelector('#revisar button[value=aprovar]').click()");
    EXPECT_THAT(page.Text("#texto .chave"), HasSubstr("aprovada por rui"));

    // A reader gets no form, and a POST made by hand is refused.
    page.SignIn("lia", "senha-lia");
    page.Go("/texto?" + saved.back().first);
    EXPECT_FALSE(page.Has("#traduzir"));
    const json status = browser->Evaluate(
        "fetch('/texto', {method: 'POST', body: new URLSearchParams(" + json(saved.back().first).dump() +
        " + '&fonte=' + encodeURIComponent(document.getElementById('origem').textContent) + '&traducao=x&chave_form=' "
        "+ document.querySelector('input[name=chave_form]').value)}).then(r => r.status)");
    EXPECT_EQ(status, 403);
    page.Go("/texto?" + saved.back().first);
    EXPECT_EQ(page.Text("#atual"), saved.back().second);
  }
}

}  // namespace
}  // namespace trd::test
