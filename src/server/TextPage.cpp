#include "TextPage.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "Attribution.h"
#include "Html.h"
#include "ProgressPage.h"
#include "WorkList.h"
#include "platform/Errors.h"
#include "platform/Text.h"
#include "protocol/Failures.h"

namespace trd::server {
namespace {

using html::AppendEscaped;
using html::FormValue;
using html::UrlEncoded;
using protocol::RecordKey;

constexpr std::size_t kListRecords = 100;
// Without a token nobody signs in, so nobody could be named as the author.
constexpr std::string_view kNoSignIn =
    "Este servidor não tem entrada por usuário (trd serve sem --token-file): as páginas só mostram as "
    "traduções.";
constexpr std::string_view kSourceChanged =
    "O texto de origem mudou desde que a página foi aberta; nada foi salvo. O novo texto está abaixo: "
    "confira a tradução e salve de novo.";


WebAnswer SeeOther(const std::string& location) {
  WebAnswer a;
  a.status = 303;
  a.content_type = "text/plain; charset=utf-8";
  a.headers.emplace_back("Location", location);
  return a;
}

std::string NumberText(double n) {
  if (n == std::floor(n) && std::fabs(n) < 1e15) return std::to_string(std::int64_t(n));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", n);
  return buf;
}

std::string KeyText(const RecordKey& k) {
  return k.program + " / " + k.form + " / " + k.component + " / " + k.property + " / " + NumberText(k.number);
}

// The query naming a record's key.
std::string KeyQuery(const RecordKey& k) {
  return "idioma=" + UrlEncoded(k.language) + "&programa=" + UrlEncoded(k.program) + "&formulario=" +
         UrlEncoded(k.form) + "&componente=" + UrlEncoded(k.component) + "&propriedade=" + UrlEncoded(k.property) +
         "&numero=" + UrlEncoded(NumberText(k.number));
}

// A key from a query or form; nullopt when a part is missing or the number is
// not one.
std::optional<RecordKey> KeyOf(const html::Form& f) {
  RecordKey k;
  k.language = FormValue(f, "idioma");
  k.program = FormValue(f, "programa");
  k.form = FormValue(f, "formulario");
  k.component = FormValue(f, "componente");
  k.property = FormValue(f, "propriedade");
  const std::string number = FormValue(f, "numero");
  if (k.language.empty() || k.program.empty() || number.empty() || number.size() > 30) return std::nullopt;
  try {
    std::size_t used = 0;
    k.number = std::stod(number, &used);
    if (used != number.size() || !std::isfinite(k.number)) return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return k;
}

enum class ListScope { Program, Form };

ListScope ScopeOf(const html::Form& f) {
  return FormValue(f, "lista") == "formulario" ? ListScope::Form : ListScope::Program;
}

WorkScope ScopeFor(const RecordKey& k, ListScope scope) {
  return {k.language, k.program, scope == ListScope::Form ? k.form : std::string()};
}

std::string ListHref(const WorkScope& s) {
  std::string q = "/textos?idioma=" + UrlEncoded(s.language) + "&programa=" + UrlEncoded(s.program);
  if (!s.form.empty()) q += "&formulario=" + UrlEncoded(s.form);
  return q;
}

std::string TextHref(const RecordKey& k, ListScope scope) {
  return "/texto?" + KeyQuery(k) + (scope == ListScope::Form ? "&lista=formulario" : "");
}

using html::Hidden;
using html::DateText;
using html::Writer;

void Head(Writer& w, std::string_view title, const Visitor& v, bool script) {
  html::OpenDocument(w, std::string(title) + " — Bancada de tradução");
  if (script) w << "<script src=\"/bancada.js\" defer></script>\n";
  w << "</head>\n<body>\n<header>\n<h1>Bancada de tradução</h1>\n<nav aria-label=\"Navegação\"><a href=\"/\">"
       "Progresso das traduções</a></nav>\n";
  if (v.named) {
    w << SignedInLine(v.caller);
    w << "<form method=\"post\" action=\"/sair\" class=\"sair\">";
    Hidden(w, kFormKeyField, v.form_key);
    w << "<button type=\"submit\">Sair</button></form>\n";
  }
  w << "</header>\n<main>\n";
}

void Tail(Writer& w) { w << "</main>\n</body>\n</html>\n"; }

void Notice(Writer& w, std::string_view text, std::string_view cls = "aviso") {
  if (text.empty()) return;
  w << "<p class=\"" << cls << "\" role=\"status\">";
  w.Text(text);
  w << "</p>\n";
}

bool MayTranslate(const Visitor& v) { return v.named && Permits(v.caller.role, Permission::Translate); }
bool MayReview(const Visitor& v) { return v.named && Permits(v.caller.role, Permission::Review); }

std::string_view CheckLabel(exchange::CheckKind kind) {
  switch (kind) {
    case exchange::CheckKind::Placeholders: return "Marcadores";
    case exchange::CheckKind::Accelerators: return "Aceleradores (&)";
    case exchange::CheckKind::Blanks: return "Espaços nas pontas";
    case exchange::CheckKind::LineBreaks: return "Quebras de linha";
    case exchange::CheckKind::Identical: return "Igual à origem";
    case exchange::CheckKind::Inconsistent: return "Traduções diferentes";
  }
  return "Verificação";
}

void CheckList(Writer& w, const std::vector<exchange::Issue>& problems) {
  w << "<div id=\"verificacoes\" aria-live=\"polite\">";
  if (!problems.empty()) {
    w << "<ul>";
    for (const auto& i : problems) {
      const bool error = exchange::SeverityOf(i.kind) == exchange::Severity::Error;
      w << "<li class=\"" << (error ? "erro" : "nota") << "\">" << (error ? "Erro: " : "Aviso: ")
        << CheckLabel(i.kind) << " — <span lang=\"en\">";
      w.Text(i.detail);
      w << "</span></li>";
    }
    w << "</ul>";
  }
  w << "</div>\n";
}

std::string_view ReviewLabel(std::string_view state) {
  if (state == protocol::kReviewApproved) return "aprovada";
  if (state == protocol::kReviewSentBack) return "devolvida";
  return "não revisada";
}

std::string_view OriginLabel(std::string_view code) {
  const auto o = OriginOfCode(code);
  if (!o) return code;
  switch (*o) {
    case Origin::Harvest: return "colheita";
    case Origin::Reuse: return "reúso";
    case Origin::Import: return "importação";
    case Origin::Page: return "página";
    case Origin::Call: return "chamada";
    case Origin::Retire: return "retirada";
    case Origin::Review: return "revisão";
    case Origin::Record: return "registro";
  }
  return code;
}

// What the view shows beside the record: a notice, the translation typed
// (kept when a save was refused) and its checks.
struct ViewState {
  std::string notice;
  std::optional<std::string> typed;
  std::vector<exchange::Issue> problems;
  bool needs_confirmation = false;
};

// The fields of a form about the record shown: the anti-forgery key, the
// record's key, the list the view came from and the digest of the source
// the translator saw.
void RecordFields(Writer& w, const Visitor& v, const RecordKey& k, ListScope scope, std::string_view source) {
  Hidden(w, kFormKeyField, v.form_key);
  Hidden(w, "idioma", k.language);
  Hidden(w, "programa", k.program);
  Hidden(w, "formulario", k.form);
  Hidden(w, "componente", k.component);
  Hidden(w, "propriedade", k.property);
  Hidden(w, "numero", NumberText(k.number));
  if (scope == ListScope::Form) Hidden(w, "lista", "formulario");
  Hidden(w, "versao_fonte", TextDigest(source));
}

std::string RenderView(const TextView& t, ListScope scope, const Visitor& v, const ViewState& state) {
  const RecordKey& k = t.record.key;
  const WorkScope list = ScopeFor(k, scope);
  Writer w;
  Head(w, "Texto de " + k.program, v, true);
  w << "<nav aria-label=\"Lista\" class=\"caminho\"><a href=\"";
  w.Text(ListHref(list));
  w << "\">Textos sem tradução de ";
  w.Text(list.form.empty() ? k.program : k.program + " / " + list.form);
  w << " (";
  w.Text(k.language);
  w << ")</a></nav>\n";
  Notice(w, state.notice);

  w << "<section id=\"texto\" aria-labelledby=\"titulo-texto\">\n<h2 id=\"titulo-texto\">Texto</h2>\n"
       "<p class=\"chave\">Registro: ";
  w.Text(KeyText(k));
  w << " — " << (t.record.translated ? "traduzido" : "sem tradução") << ", tradução "
    << ReviewLabel(t.record.review);
  if (!t.record.reviewer.empty()) {
    w << " por ";
    w.Text(t.record.reviewer);
  }
  w << "</p>\n<h3>Origem</h3>\n<pre class=\"origem\" id=\"origem\">\n";
  w.Text(t.record.source);
  w << "</pre>\n";
  if (t.record.translated) {
    w << "<h3>Tradução atual</h3>\n<pre class=\"atual\" id=\"atual\">\n";
    w.Text(t.record.translation);
    w << "</pre>\n";
  }

  if (MayTranslate(v)) {
    w << "<form method=\"post\" action=\"/texto\" id=\"traduzir\">";
    RecordFields(w, v, k, scope, t.record.source);
    w << "\n<label for=\"traducao\">Tradução (";
    w.Text(k.language);
    w << ")</label>\n<textarea id=\"traducao\" name=\"traducao\" rows=\"5\" autofocus "
         "aria-describedby=\"verificacoes atalhos\">\n";
    w.Text(state.typed ? *state.typed : (t.record.translated ? t.record.translation : std::string()));
    w << "</textarea>\n";
    CheckList(w, state.problems);
    if (state.needs_confirmation)
      w << "<p><input type=\"checkbox\" id=\"confirmar\" name=\"confirmar\" value=\"1\"> <label for=\"confirmar\">"
           "Salvar mesmo com os erros acima</label></p>\n";
    w << "<p><button type=\"submit\">Salvar e ir ao próximo</button></p>\n"
         "<p class=\"nota\" id=\"atalhos\">Atalhos: Ctrl+Enter salva e vai ao próximo texto; Alt+1 (Alt+2, …) "
         "copia a sugestão de mesmo número para a tradução.</p>\n</form>\n";
  } else {
    w << "<p class=\"nota\">"
      << (v.named ? "O seu papel permite apenas ler as traduções."
                  : kNoSignIn)
      << "</p>\n";
  }
  if (MayReview(v) && t.record.translated) {
    w << "<form method=\"post\" action=\"/revisar\" id=\"revisar\">";
    RecordFields(w, v, k, scope, t.record.source);
    Hidden(w, "versao_traducao", TextDigest(t.record.translation));
    w << "<button type=\"submit\" name=\"acao\" value=\"aprovar\">Aprovar</button> "
         "<button type=\"submit\" name=\"acao\" value=\"devolver\">Devolver</button></form>\n";
  }
  w << "</section>\n";

  w << "<section id=\"sugestoes\" aria-labelledby=\"titulo-sugestoes\">\n<h2 id=\"titulo-sugestoes\">"
       "Sugestões</h2>\n";
  if (t.suggestions.empty()) w << "<p class=\"vazio\">Nenhuma sugestão.</p>\n";
  else {
    w << "<ol>\n";
    int n = 0;
    for (const Suggestion& s : t.suggestions) {
      ++n;
      w << "<li><span class=\"similaridade\">" << std::to_string(s.similarity) << "%</span> <pre class=\"sugestao\">\n";
      w.Text(s.translation);
      w << "</pre> <span class=\"nota\">"
        << (s.from == Suggestion::From::Records ? "de outros registros" : "da memória de traduções");
      if (s.similarity < 100) {
        w << ", para o texto: ";
        w.Text(s.source);
      }
      w << "</span>";
      if (MayTranslate(v))
        w << " <button type=\"button\" class=\"copiar\" data-sugestao=\"" << std::to_string(n)
          << "\">Copiar (Alt+" << std::to_string(n) << ")</button>";
      w << "</li>\n";
    }
    w << "</ol>\n";
  }
  w << "</section>\n";

  w << "<section id=\"chaves\" aria-labelledby=\"titulo-chaves\">\n<h2 id=\"titulo-chaves\">Registros com este "
       "texto (";
  w.Text(k.language);
  w << ")</h2>\n<ul>\n";
  for (const WorkRecord& h : t.holders) {
    w << "<li><a href=\"";
    w.Text(TextHref(h.key, scope));
    w << "\">";
    w.Text(KeyText(h.key));
    w << "</a> — " << (h.translated ? "traduzido" : "sem tradução") << "</li>\n";
  }
  w << "</ul>\n</section>\n";

  w << "<section id=\"outros-idiomas\" aria-labelledby=\"titulo-outros\">\n<h2 id=\"titulo-outros\">"
       "Em outros idiomas</h2>\n";
  if (t.other_languages.empty()) w << "<p class=\"vazio\">Nenhum outro idioma tem este texto.</p>\n";
  else {
    w << "<div class=\"rolagem\"><table>\n<thead><tr><th scope=\"col\">Idioma</th><th scope=\"col\">Tradução</th>"
         "</tr></thead>\n<tbody>\n";
    for (const WorkRecord& r : t.other_languages) {
      w << "<tr><td>";
      w.Text(r.key.language);
      w << "</td><td>";
      if (r.translated) w.Text(r.translation);
      else w << "<em>sem tradução</em>";
      w << "</td></tr>\n";
    }
    w << "</tbody>\n</table></div>\n";
  }
  w << "</section>\n";

  w << "<section id=\"historico\" aria-labelledby=\"titulo-historico\">\n<h2 id=\"titulo-historico\">Histórico"
       "</h2>\n";
  if (t.history.empty()) w << "<p class=\"vazio\">Nenhuma alteração registrada.</p>\n";
  else {
    w << "<div class=\"rolagem\"><table>\n<thead><tr><th scope=\"col\">Quem</th><th scope=\"col\">Quando</th>"
         "<th scope=\"col\">Como</th><th scope=\"col\">Antes</th><th scope=\"col\">Depois</th></tr></thead>\n"
         "<tbody>\n";
    for (const HistoryEntry& e : t.history) {
      w << "<tr><td class=\"quem\">";
      if (e.user.empty()) w << "<em>" << html::kUnnamedAuthor << "</em>";
      else w.Text(e.user);
      w << "</td><td>" << DateText(e.when) << "</td><td>" << OriginLabel(e.origin) << "</td><td class=\"antes\">";
      if (e.old_review != e.new_review && e.old_translation == e.new_translation) {
        w << ReviewLabel(e.old_review) << "</td><td class=\"depois\">" << ReviewLabel(e.new_review);
      } else {
        w.Text(e.old_translation);
        w << "</td><td class=\"depois\">";
        w.Text(e.new_translation);
      }
      w << "</td></tr>\n";
    }
    w << "</tbody>\n</table></div>\n";
  }
  w << "</section>\n";
  Tail(w);
  return w.Take();
}

std::string NotFoundPage(const Visitor& v, std::string_view what) {
  Writer w;
  Head(w, "Não encontrado", v, false);
  Notice(w, what);
  Tail(w);
  return w.Take();
}

WebAnswer RefusedAnswer(const Visitor& v, std::string_view why) {
  Writer w;
  Head(w, "Recusado", v, false);
  Notice(w, why);
  Tail(w);
  return PageAnswer(403, w.Take());
}

std::string RoleRefusal(const Visitor& v, Permission p) {
  if (!v.named) return std::string(kNoSignIn);
  return "O seu papel (" + std::string(RoleLabel(v.caller.role)) + ") não permite " +
         (p == Permission::Review ? "revisar" : "traduzir") + ".";
}

}  // namespace

std::string_view RoleLabel(Role role) {
  switch (role) {
    case Role::Reader: return "leitor";
    case Role::Translator: return "tradutor";
    case Role::Reviewer: return "revisor";
    case Role::Harvester: return "colhedor";
    case Role::Admin: return "administrador";
  }
  return "?";
}

std::string SignedInLine(const Caller& caller) {
  std::string out = "<p class=\"quem\" id=\"quem\">Conectado como <strong>";
  if (caller.user.empty()) out += "token da equipe";
  else AppendEscaped(out, caller.user);
  out += "</strong> (" + std::string(RoleLabel(caller.role)) + "): ";
  const std::pair<Permission, std::string_view> rights[] = {{Permission::Read, "ler"},
                                                            {Permission::Translate, "traduzir"},
                                                            {Permission::Review, "revisar"},
                                                            {Permission::Harvest, "colher"},
                                                            {Permission::Administer, "administrar"}};
  bool first = true;
  for (const auto& [p, label] : rights)
    if (Permits(caller.role, p)) {
      out += first ? "" : ", ";
      out += label;
      first = false;
    }
  out += ".</p>\n";
  return out;
}

std::string PasswordForm(std::string_view form_key) {
  std::string out = "<form method=\"post\" action=\"/entrar\" id=\"entrar-usuario\"><input type=\"hidden\" name=\"";
  out += kFormKeyField;
  out += "\" value=\"";
  AppendEscaped(out, form_key);
  out += "\"><p><label for=\"usuario\">Usuário</label> <input type=\"text\" id=\"usuario\" name=\"usuario\" "
         "autocomplete=\"username\" required autofocus></p><p><label for=\"senha\">Senha</label> <input type=\"password\" "
         "id=\"senha\" name=\"senha\" autocomplete=\"current-password\" required></p>"
         "<p><button type=\"submit\">Entrar</button></p></form>\n";
  return out;
}

WebAnswer WorkListAnswer(std::string_view target, Service& service, const Visitor& visitor) {
  const html::Form query = html::ParseForm(html::QueryOf(target));
  WorkScope scope{FormValue(query, "idioma"), FormValue(query, "programa"), FormValue(query, "formulario")};
  if (scope.language.empty() || scope.program.empty())
    return PageAnswer(404, NotFoundPage(visitor, "Escolha um programa na página de progresso."));
  const std::string after = FormValue(query, "depois");
  WorkListPage page;
  std::string notice;
  {
    auto session = service.Storage().AcquireReader();
    try {
      page = UntranslatedTexts(*session, scope, after, kListRecords);
    } catch (const ProtocolError&) {
      notice = "O endereço da página não vale; a lista recomeça do início.";
      page = UntranslatedTexts(*session, scope, "", kListRecords);
    }
  }
  const std::string saved = FormValue(query, "salvos");
  if (!saved.empty() && saved.find_first_not_of("0123456789") == std::string::npos)
    notice = "Tradução salva em " + saved + " registro(s). Nenhum outro texto sem tradução nesta lista.";
  const ListScope list_scope = scope.form.empty() ? ListScope::Program : ListScope::Form;
  Writer w;
  Head(w, "Sem tradução: " + scope.program, visitor, false);
  Notice(w, notice);
  w << "<section id=\"lista\" aria-labelledby=\"titulo-lista\">\n<h2 id=\"titulo-lista\">Textos sem tradução — ";
  w.Text(scope.form.empty() ? scope.program : scope.program + " / " + scope.form);
  w << " (";
  w.Text(scope.language);
  w << ")</h2>\n";
  if (!scope.form.empty()) {
    w << "<p><a href=\"";
    w.Text(ListHref({scope.language, scope.program, {}}));
    w << "\">Todos os formulários de ";
    w.Text(scope.program);
    w << "</a></p>\n";
  }
  if (page.texts.empty()) w << "<p class=\"vazio\">Nenhum texto sem tradução.</p>\n";
  else {
    w << "<div class=\"rolagem\"><table>\n<thead><tr><th scope=\"col\">Texto</th><th scope=\"col\">Formulário</th>"
         "<th scope=\"col\" class=\"num\">Registros</th></tr></thead>\n<tbody>\n";
    for (const ListedText& t : page.texts) {
      const RecordKey& first = t.keys.front();
      w << "<tr><td><a class=\"abrir\" href=\"";
      w.Text(TextHref(first, list_scope));
      w << "\">";
      const std::string_view shown = text::Left(t.source, kShownTextChars);
      w.Text(shown);
      if (shown.size() < t.source.size()) w << "…";
      w << "</a></td><td><a href=\"";
      w.Text(ListHref({scope.language, scope.program, first.form}));
      w << "\">";
      w.Text(first.form);
      w << "</a></td><td class=\"num\">" << std::to_string(t.keys.size()) << "</td></tr>\n";
    }
    w << "</tbody>\n</table></div>\n";
  }
  if (!page.next.empty()) {
    w << "<p><a href=\"";
    w.Text(ListHref(scope) + "&depois=" + UrlEncoded(page.next));
    w << "\">Próxima página</a></p>\n";
  }
  w << "</section>\n";
  Tail(w);
  return PageAnswer(200, w.Take());
}

WebAnswer TextViewAnswer(std::string_view target, Service& service, const Visitor& visitor) {
  const html::Form query = html::ParseForm(html::QueryOf(target));
  const std::optional<RecordKey> key = KeyOf(query);
  if (!key) return PageAnswer(404, NotFoundPage(visitor, "O endereço não nomeia um registro."));
  std::optional<TextView> view;
  {
    auto session = service.Storage().AcquireReader();
    view = ReadTextView(*session, *key);
  }
  if (!view) return PageAnswer(404, NotFoundPage(visitor, "Nenhum registro tem esta chave (retirado?)."));
  ViewState state;
  const std::string saved = FormValue(query, "salvos");
  if (!saved.empty() && saved.find_first_not_of("0123456789") == std::string::npos)
    state.notice = "Tradução salva em " + saved + " registro(s). Próximo texto sem tradução:";
  else if (FormValue(query, "revisado") == "1")
    state.notice = "Revisão registrada.";
  return PageAnswer(200, RenderView(*view, ScopeOf(query), visitor, state));
}

WebAnswer SaveAnswer(std::string_view body, Service& service, const Visitor& visitor) {
  const html::Form form = html::ParseForm(body);
  if (!MayTranslate(visitor)) return RefusedAnswer(visitor, RoleRefusal(visitor, Permission::Translate));
  const std::optional<RecordKey> key = KeyOf(form);
  if (!key) return PageAnswer(404, NotFoundPage(visitor, "O formulário não nomeia um registro."));
  const ListScope scope = ScopeOf(form);
  auto session = service.Storage().Acquire();
  const std::optional<WorkRecord> record = RecordOfKey(*session, *key);
  if (!record) return PageAnswer(404, NotFoundPage(visitor, "O registro foi retirado; nada foi salvo."));
  ViewState state;
  state.typed = FormValue(form, "traducao");
  const std::string typed = WithBreaksOf(record->source, *state.typed);
  int status = 200;
  if (TextDigest(record->source) != FormValue(form, "versao_fonte")) {
    state.notice = kSourceChanged;
    status = 409;
  } else if (typed.empty()) {
    state.notice = "A tradução está vazia; nada foi salvo.";
    status = 422;
  } else {
    state.problems = CheckTyped(record->source, typed);
    if (HasError(state.problems) && FormValue(form, "confirmar") != "1") {
      state.notice = "A tradução tem erros; confira-os e marque \"Salvar mesmo com os erros acima\" para salvar.";
      state.needs_confirmation = true;
      status = 422;
    } else {
      const SaveOutcome outcome = SaveTranslation(*session, *key, record->source, typed, visitor.caller);
      if (outcome.result == SaveResult::Saved || outcome.result == SaveResult::Already) {
        const std::string count = std::to_string(outcome.records);
        const std::optional<RecordKey> next = NextUntranslated(*session, ScopeFor(*key, scope), *key);
        if (next) return SeeOther(TextHref(*next, scope) + "&salvos=" + count);
        return SeeOther(ListHref(ScopeFor(*key, scope)) + "&salvos=" + count);
      }
      if (outcome.result == SaveResult::Missing)
        return PageAnswer(404, NotFoundPage(visitor, "O registro foi retirado; nada foi salvo."));
      state.notice = kSourceChanged;
      status = 409;
    }
  }
  std::optional<TextView> view = ReadTextView(*session, *key);
  if (!view) return PageAnswer(404, NotFoundPage(visitor, "O registro foi retirado; nada foi salvo."));
  if (status == 409) state.problems = CheckTyped(view->record.source, WithBreaksOf(view->record.source, *state.typed));
  return PageAnswer(status, RenderView(*view, scope, visitor, state));
}

WebAnswer ReviewAnswer(std::string_view body, Service& service, const Visitor& visitor) {
  const html::Form form = html::ParseForm(body);
  if (!MayReview(visitor)) return RefusedAnswer(visitor, RoleRefusal(visitor, Permission::Review));
  const std::optional<RecordKey> key = KeyOf(form);
  if (!key) return PageAnswer(404, NotFoundPage(visitor, "O formulário não nomeia um registro."));
  const std::string action_text = FormValue(form, "acao");
  if (action_text != "aprovar" && action_text != "devolver")
    return PageAnswer(422, NotFoundPage(visitor, "Escolha aprovar ou devolver."));
  const protocol::ReviewAction action =
      action_text == "aprovar" ? protocol::ReviewAction::Approve : protocol::ReviewAction::SendBack;
  const ListScope scope = ScopeOf(form);
  auto session = service.Storage().Acquire();
  const std::optional<WorkRecord> record = RecordOfKey(*session, *key);
  if (!record) return PageAnswer(404, NotFoundPage(visitor, "O registro foi retirado."));
  protocol::ReviewOutcome outcome = protocol::ReviewOutcome::Changed;
  // What the reviewer saw, when the record still holds it; the review itself
  // is conditional on it again (ReviewRecords).
  if (TextDigest(record->source) == FormValue(form, "versao_fonte") &&
      TextDigest(record->translation) == FormValue(form, "versao_traducao"))
    outcome = ReviewTranslation(*session, *key, action, record->source, record->translation, visitor.caller);
  if (outcome == protocol::ReviewOutcome::Reviewed || outcome == protocol::ReviewOutcome::Already)
    return SeeOther(TextHref(*key, scope) + "&revisado=1");
  std::optional<TextView> view = ReadTextView(*session, *key);
  if (!view) return PageAnswer(404, NotFoundPage(visitor, "O registro foi retirado."));
  ViewState state;
  state.notice = outcome == protocol::ReviewOutcome::Untranslated
                     ? "O registro não está traduzido; nada a revisar."
                     : "O texto ou a tradução mudou desde que a página foi aberta; a revisão não foi registrada.";
  return PageAnswer(409, RenderView(*view, scope, visitor, state));
}

WebAnswer CheckAnswer(std::string_view body, Service& service) {
  const html::Form form = html::ParseForm(body);
  const std::optional<RecordKey> key = KeyOf(form);
  std::optional<WorkRecord> record;
  if (key) {
    auto session = service.Storage().AcquireReader();
    record = RecordOfKey(*session, *key);
  }
  nlohmann::json out = nlohmann::json::array();
  if (record)
    for (const exchange::Issue& i :
         CheckTyped(record->source, WithBreaksOf(record->source, FormValue(form, "traducao"))))
      out.push_back({{"nome", std::string(CheckLabel(i.kind))},
                     {"erro", exchange::SeverityOf(i.kind) == exchange::Severity::Error},
                     {"detalhe", i.detail}});
  WebAnswer a;
  a.status = record ? 200 : 404;
  a.content_type = "application/json";
  a.body = out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return a;
}

}  // namespace trd::server
