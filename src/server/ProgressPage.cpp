#include "ProgressPage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Html.h"
#include "TextPage.h"
#include "platform/Text.h"

namespace trd::server {
namespace {

using html::AppendEscaped;
using html::UrlEncoded;

using html::DateText;
using html::Writer;

constexpr std::string_view kPageTitle = "Progresso das traduções";

// The document up to the open page header: its title is kPageTitle followed
// by `suffix`, its heading kPageTitle.
void Head(Writer& w, std::string_view suffix) {
  html::OpenDocument(w, std::string(kPageTitle) + std::string(suffix));
  w << "</head>\n<body>\n<header>\n<h1>";
  w.Text(kPageTitle);
  w << "</h1>\n";
}

void Tail(Writer& w) { w << "</body>\n</html>\n"; }

std::string NumberText(double n) {
  if (n == std::floor(n) && std::fabs(n) < 1e15) return std::to_string(std::int64_t(n));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", n);
  return buf;
}

std::string_view StateText(std::string_view state) {
  if (state == protocol::kStateTranslated) return "traduzido";
  if (state == protocol::kStateNew) return "sem tradução";
  return state.empty() ? std::string_view("—") : state;
}

// The name shown for a language: "ENG – Inglês".
std::string LanguageLabel(const std::vector<LanguageProgress>& languages, std::string_view code) {
  for (const auto& l : languages)
    if (l.code == code) return l.name.empty() ? l.code : l.code + " – " + l.name;
  return std::string(code);
}

// A link back to the page with the given query (already encoded).
std::string Href(std::string_view query) { return query.empty() ? "/" : "/?" + std::string(query); }

std::string PageQuery(std::string_view language, ProgramOrder order, SortDirection direction) {
  std::string q = "idioma=" + UrlEncoded(language);
  if (order != ProgramOrder::Share) q += "&ordem=" + std::string(ProgramOrderName(order));
  if (direction != DefaultDirection(order)) q += "&sentido=" + std::string(SortDirectionName(direction));
  return q;
}

std::string PageQuery(const PageView& v) { return PageQuery(v.language, v.order, v.direction); }

// A wide table scrolls inside its section; the region takes the keyboard's
// focus so that it scrolls without a pointer.
// `label` names the region (markup), unique on the page; or, starting
// with '#', is the id of the element that names it.
void OpenScroll(Writer& w, std::string_view label) {
  w << "<div class=\"rolagem\" role=\"region\" tabindex=\"0\" ";
  if (label.starts_with('#')) w << "aria-labelledby=\"" << label.substr(1) << "\">";
  else w << "aria-label=\"" << label << "\">";
}
void CloseScroll(Writer& w) { w << "</div>\n"; }

void Bar(Writer& w, double share) {
  const long permille = std::lround(share * 1000);
  w << "<td class=\"barra\"><progress max=\"1000\" value=\"" << std::to_string(permille) << "\">"
    << FormatShare(share) << "</progress></td>";
}

// `work_href`: where the untranslated count links to (the workbench's list
// of them); empty: no link.
void CountCells(Writer& w, const Coverage& c, std::string_view work_href = {}) {
  w << "<td class=\"num registros\">" << FormatCount(c.total) << "</td><td class=\"num traduzidos\">"
    << FormatCount(c.translated) << "</td><td class=\"num pendentes\">";
  if (!work_href.empty() && c.untranslated > 0) {
    w << "<a href=\"";
    w.Text(work_href);
    w << "\">" << FormatCount(c.untranslated) << "</a>";
  } else {
    w << FormatCount(c.untranslated);
  }
  w << "</td><td class=\"num naotraduziveis\">" << FormatCount(c.untranslatable)
    << "</td><td class=\"num percentual\">" << FormatShare(c.Share()) << "</td>";
  Bar(w, c.Share());
}

void LanguagesSection(Writer& w, const PageView& v) {
  w << "<section id=\"idiomas\">\n<h2>Progresso por idioma</h2>\n";
  OpenScroll(w, "Progresso por idioma");
  w << "<table>\n<thead><tr><th>Idioma</th>"
       "<th class=\"num\">Registros</th><th class=\"num\">Traduzidos</th><th class=\"num\">Sem tradução</th>"
       "<th class=\"num\">Não traduzíveis</th><th class=\"num\">Traduzido</th><th>Andamento</th></tr></thead>\n<tbody>\n";
  for (const auto& l : v.languages) {
    w << "<tr data-idioma=\"";
    w.Text(l.code);
    w << "\"" << (l.code == v.language ? " class=\"escolhido\"" : "") << "><td><a href=\"";
    w.Text(Href(PageQuery(l.code, v.order, v.direction)));
    w << "\">";
    w.Text(LanguageLabel(v.languages, l.code));
    w << "</a></td>";
    CountCells(w, l.counts);
    w << "</tr>\n";
  }
  if (v.languages.empty()) w << "<tr><td colspan=\"7\" class=\"vazio\">Nenhum idioma cadastrado.</td></tr>\n";
  w << "</tbody>\n</table>";
  CloseScroll(w);
  w << "</section>\n";
}

// The header of a sortable column. The sorted one tells its direction (the
// arrow, aria-sort) and links to the other; another links to its default.
void SortHeader(Writer& w, const PageView& v, ProgramOrder order, std::string_view label, bool numeric) {
  const bool sorted = v.order == order;
  const bool ascending = v.direction == SortDirection::Ascending;
  w << "<th" << (numeric ? " class=\"num\"" : "");
  if (sorted) w << (ascending ? " aria-sort=\"ascending\"" : " aria-sort=\"descending\"");
  w << "><a href=\"";
  const SortDirection next =
      !sorted ? DefaultDirection(order) : ascending ? SortDirection::Descending : SortDirection::Ascending;
  w.Text(Href(PageQuery(v.language, order, next)) + "#programas");
  w << "\"" << (sorted ? (ascending ? " class=\"ativo crescente\"" : " class=\"ativo decrescente\"") : "") << ">"
    << label << "</a></th>";
}

void ProgramsSection(Writer& w, const PageView& v) {
  w << "<section id=\"programas\">\n<h2>Programas — ";
  w.Text(LanguageLabel(v.languages, v.language));
  w << "</h2>\n<p class=\"nota\">Clique no título de uma coluna para ordenar; sem escolha, os menos traduzidos "
       "vêm primeiro; clique de novo para inverter.</p>\n";
  OpenScroll(w, "Programas");
  w << "<table>\n<thead><tr>";
  SortHeader(w, v, ProgramOrder::Program, "Programa", false);
  SortHeader(w, v, ProgramOrder::Total, "Registros", true);
  SortHeader(w, v, ProgramOrder::Translated, "Traduzidos", true);
  SortHeader(w, v, ProgramOrder::Untranslated, "Sem tradução", true);
  w << "<th class=\"num\">Não traduzíveis</th>";
  SortHeader(w, v, ProgramOrder::Share, "Traduzido", true);
  w << "<th>Andamento</th></tr></thead>\n<tbody>\n";
  for (const auto& p : v.programs) {
    w << "<tr data-programa=\"";
    w.Text(p.program);
    w << "\"><td class=\"programa\">";
    w.Text(p.program);
    w << "</td>";
    CountCells(w, p.counts, "/textos?idioma=" + UrlEncoded(v.language) + "&programa=" + UrlEncoded(p.program));
    w << "</tr>\n";
  }
  if (v.programs.empty())
    w << "<tr><td colspan=\"7\" class=\"vazio\">Nenhum registro neste idioma.</td></tr>\n";
  w << "</tbody>\n</table>";
  CloseScroll(w);
  if (v.program_count > kProgramsPerPage) {
    const std::size_t first = (v.program_page - 1) * kProgramsPerPage + 1;
    const std::size_t pages = (v.program_count + kProgramsPerPage - 1) / kProgramsPerPage;
    auto link = [&](std::size_t page, std::string_view cls, std::string_view label) {
      w << "<a class=\"" << cls << "\" href=\"";
      w.Text(Href(PageQuery(v) + "&pagina_programas=" + std::to_string(page)) + "#programas");
      w << "\">" << label << "</a> ";
    };
    w << "<nav class=\"paginas\"><span class=\"resumo\">Programas " << FormatCount(std::int64_t(first)) << " a "
      << FormatCount(std::int64_t(first + v.programs.size() - 1)) << " de "
      << FormatCount(std::int64_t(v.program_count)) << ".</span> ";
    if (v.program_page > 1) link(v.program_page - 1, "anterior", "Página anterior");
    if (v.program_page < pages) link(v.program_page + 1, "proxima", "Próxima página");
    w << "</nav>\n";
  }
  w << "</section>\n";
}

// A text of #recentes or of the search: its first kShownTextChars characters.
void ShortText(Writer& w, std::string_view text) {
  const std::string_view shown = text::Left(text, kShownTextChars);
  w.Text(shown);
  if (shown.size() < text.size()) w << "…";
}

void KeyCells(Writer& w, const protocol::RecordKey& key) {
  w << "<td class=\"programa\">";
  w.Text(key.program);
  w << "</td><td>";
  w.Text(key.form);
  w << "</td><td>";
  w.Text(key.component);
  w << "</td><td>";
  w.Text(key.property);
  w << "</td><td class=\"num\">" << NumberText(key.number) << "</td>";
}

void RecentSection(Writer& w, const PageView& v) {
  w << "<section id=\"recentes\">\n<h2>Alterações recentes</h2>\n";
  OpenScroll(w, "Alterações recentes");
  w << "<table>\n<thead><tr><th>Quando</th>"
       "<th>Idioma</th><th>Programa</th><th>Formulário</th><th>Componente</th><th>Propriedade</th>"
       "<th class=\"num\">Nº</th><th>Texto original</th><th>Tradução</th><th>Situação</th></tr></thead>\n<tbody>\n";
  for (const auto& r : v.recent) {
    w << "<tr><td class=\"quando\">" << DateText(r.when) << "</td><td>";
    w.Text(r.key.language);
    w << "</td>";
    KeyCells(w, r.key);
    w << "<td class=\"texto\">";
    ShortText(w, r.source);
    w << "</td><td class=\"texto\">";
    if (r.state == protocol::kStateTranslated) ShortText(w, r.text);
    w << "</td><td>" << StateText(r.state) << "</td></tr>\n";
  }
  if (v.recent.empty()) w << "<tr><td colspan=\"10\" class=\"vazio\">Nenhuma alteração registrada.</td></tr>\n";
  w << "</tbody>\n</table>";
  CloseScroll(w);
  w << "</section>\n";
}

void SearchSection(Writer& w, const PageView& v) {
  w << "<section id=\"busca\">\n<h2>Buscar texto</h2>\n<form method=\"get\" action=\"/#busca\" role=\"search\">"
       "<input type=\"hidden\" name=\"idioma\" value=\"";
  w.Text(v.language);
  w << "\"><label>Texto original contém <input type=\"search\" name=\"busca\" value=\"";
  w.Text(v.search);
  w << "\" maxlength=\"4000\"></label> <button type=\"submit\">Buscar</button></form>\n"
       "<p class=\"nota\">Procura o trecho em qualquer parte do texto original, sem distinguir maiúsculas de "
       "minúsculas nem letras com e sem acento.</p>\n";
  if (v.found) {
    const auto& found = *v.found;
    w << "<p class=\"resumo\">";
    if (found.texts.empty()) {
      w << (v.page > 1 ? "Não há mais resultados para “" : "Nenhum texto contém “");
      w.Text(v.search);
      w << "”.";
    } else {
      w << (found.text_count == 1 ? "1 texto contém “" : FormatCount(found.text_count) + " textos contêm “");
      w.Text(v.search);
      w << "” — página " << std::to_string(v.page) << ".";
    }
    w << "</p>\n";
    for (std::size_t i = 0; i < found.texts.size(); ++i) {
      const FoundText& t = found.texts[i];
      const std::string id = "achado-" + std::to_string(i + 1);
      w << "<article class=\"achado\">\n<h3 class=\"texto\" id=\"" << id << "\">";
      ShortText(w, t.source);
      w << "</h3>\n";
      OpenScroll(w, "#" + id);
      w << "<table>\n<thead><tr><th>Idioma</th><th>Programa</th><th>Formulário</th><th>Componente</th>"
           "<th>Propriedade</th><th class=\"num\">Nº</th><th>Tradução</th><th>Situação</th></tr></thead>\n<tbody>\n";
      for (const auto& r : t.records) {
        w << "<tr><td>";
        w.Text(r.key.language);
        w << "</td>";
        KeyCells(w, r.key);
        w << "<td class=\"texto\">";
        if (r.state == protocol::kStateTranslated) ShortText(w, r.text);
        w << "</td><td>" << StateText(r.state) << "</td></tr>\n";
      }
      w << "</tbody>\n</table>";
      CloseScroll(w);
      w << "</article>\n";
    }
    w << "<nav class=\"paginas\">";
    const std::string base = "idioma=" + UrlEncoded(v.language) + "&busca=" + UrlEncoded(v.search);
    if (v.page > 1) {
      w << "<a href=\"";
      w.Text(Href(base) + "#busca");
      w << "\">Primeira página</a> ";
    }
    if (!found.next.empty()) {
      w << "<a class=\"proxima\" href=\"";
      w.Text(Href(base + "&pagina=" + std::to_string(v.page + 1) + "&depois=" + UrlEncoded(found.next)) +
             "#busca");
      w << "\">Próxima página</a>";
    }
    w << "</nav>\n";
  }
  w << "</section>\n";
}

void ActivitySection(Writer& w, const PageView& v) {
  w << "<section id=\"atividade\">\n<h2>Atividade</h2>\n<p class=\"colheita\">Última colheita: "
    << (v.last_harvest ? DateText(v.last_harvest) : std::string("nenhuma registrada")) << ".</p>\n<h3>Alterações por "
    << "usuário nos últimos " << std::to_string(kActivityDays) << " dias</h3>\n";
  if (v.activity.empty()) {
    w << "<p class=\"vazio\">Nenhuma alteração no período.</p>\n</section>\n";
    return;
  }
  w << "<table>\n<thead><tr><th>Usuário</th><th class=\"num\">Alterações</th></tr></thead>\n<tbody>\n";
  const std::size_t shown = std::min(v.activity.size(), kActivityRows);
  for (std::size_t i = 0; i < shown; ++i) {
    const UserActivity& a = v.activity[i];
    w << "<tr><td class=\"usuario\">";
    if (a.user.empty()) w << html::kUnnamedAuthor;
    else w.Text(a.user);
    w << "</td><td class=\"num\">" << FormatCount(a.changes) << "</td></tr>\n";
  }
  w << "</tbody>\n</table>\n";
  if (v.activity.size() > shown)
    w << "<p class=\"nota\">E mais " << FormatCount(std::int64_t(v.activity.size() - shown))
      << " usuários com menos alterações.</p>\n";
  w << "</section>\n";
}

}  // namespace

ProgramOrder ParseProgramOrder(std::string_view s) {
  if (s == "programa") return ProgramOrder::Program;
  if (s == "registros") return ProgramOrder::Total;
  if (s == "traduzidos") return ProgramOrder::Translated;
  if (s == "pendentes") return ProgramOrder::Untranslated;
  return ProgramOrder::Share;
}

std::string_view ProgramOrderName(ProgramOrder order) {
  switch (order) {
    case ProgramOrder::Program: return "programa";
    case ProgramOrder::Total: return "registros";
    case ProgramOrder::Translated: return "traduzidos";
    case ProgramOrder::Untranslated: return "pendentes";
    case ProgramOrder::Share: break;
  }
  return "percentual";
}

std::optional<SortDirection> ParseSortDirection(std::string_view s) {
  if (s == "crescente") return SortDirection::Ascending;
  if (s == "decrescente") return SortDirection::Descending;
  return std::nullopt;
}

std::string_view SortDirectionName(SortDirection direction) {
  return direction == SortDirection::Ascending ? "crescente" : "decrescente";
}

SortDirection DefaultDirection(ProgramOrder order) {
  switch (order) {
    case ProgramOrder::Total:
    case ProgramOrder::Translated:
    case ProgramOrder::Untranslated: return SortDirection::Descending;
    case ProgramOrder::Share:
    case ProgramOrder::Program: break;
  }
  return SortDirection::Ascending;
}

void SortPrograms(std::vector<ProgramProgress>& programs, ProgramOrder order, SortDirection direction) {
  // <0, 0, >0 as `a` comes before, with or after `b` in ascending order.
  auto compare = [order](const ProgramProgress& a, const ProgramProgress& b) -> int {
    auto three_way = [](std::int64_t x, std::int64_t y) { return x < y ? -1 : x > y ? 1 : 0; };
    switch (order) {
      case ProgramOrder::Share: {
        // Compared as cross products: exact, unlike the shares as doubles.
        const auto lhs = a.counts.translated * std::max<std::int64_t>(b.counts.total, 1);
        const auto rhs = b.counts.translated * std::max<std::int64_t>(a.counts.total, 1);
        if (lhs != rhs) return three_way(lhs, rhs);
        return three_way(b.counts.untranslated, a.counts.untranslated);
      }
      case ProgramOrder::Total: return three_way(a.counts.total, b.counts.total);
      case ProgramOrder::Translated: return three_way(a.counts.translated, b.counts.translated);
      case ProgramOrder::Untranslated: return three_way(a.counts.untranslated, b.counts.untranslated);
      case ProgramOrder::Program: break;
    }
    return 0;
  };
  const int sign = direction == SortDirection::Ascending ? 1 : -1;
  std::stable_sort(programs.begin(), programs.end(), [&](const ProgramProgress& a, const ProgramProgress& b) {
    if (const int c = compare(a, b) * sign) return c < 0;
    if (order == ProgramOrder::Program) return sign > 0 ? a.program < b.program : a.program > b.program;
    return a.program < b.program;
  });
}

std::string FormatCount(std::int64_t n) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += '.';
    out += digits[i];
  }
  return n < 0 ? "-" + out : out;
}

std::string FormatShare(double share) {
  // One decimal, never rounded up to 100% while something is untranslated.
  long tenths = long(std::floor(share * 1000 + 1e-9));
  std::string out = std::to_string(tenths / 10) + "," + std::to_string(tenths % 10) + "%";
  return out;
}

namespace {

void FormKey(Writer& w, std::string_view key) { html::Hidden(w, kFormKeyField, key); }

}  // namespace

std::string RenderProgressPage(const PageView& view) {
  Writer w;
  Head(w, "");
  if (view.sign_out == SignOut::Shown) {
    w << "<form method=\"post\" action=\"/sair\" class=\"sair\">";
    FormKey(w, view.form_key);
    w << "<button type=\"submit\">Sair</button></form>\n";
  }
  w << view.signed_in_html;
  w << "</header>\n<main>\n";
  if (!view.notice.empty()) {
    w << "<p class=\"aviso\">";
    w.Text(view.notice);
    w << "</p>\n";
  }
  LanguagesSection(w, view);
  ProgramsSection(w, view);
  RecentSection(w, view);
  SearchSection(w, view);
  ActivitySection(w, view);
  w << "</main>\n";
  Tail(w);
  return w.Take();
}

std::string RenderSignInPage(std::string_view message, std::string_view form_key) {
  Writer w;
  Head(w, " — entrar");
  w << "</header>\n<main>\n<section id=\"entrar\">\n"
       "<h2>Acesso</h2>\n<p>Este servidor pede que você entre: com o token da equipe para ver o progresso, ou "
       "com o seu usuário e senha para traduzir.</p>\n";
  if (!message.empty()) {
    w << "<p class=\"aviso\">";
    w.Text(message);
    w << "</p>\n";
  }
  w << "<h3>Token da equipe</h3>\n<form method=\"post\" action=\"/entrar\">";
  FormKey(w, form_key);
  w << "<label>Token <input type=\"password\" name=\"token\" "
       "autocomplete=\"current-password\" required></label> <button type=\"submit\">Entrar</button>"
       "</form>\n<h3>Usuário e senha</h3>\n" << PasswordForm(form_key) << "</section>\n</main>\n";
  Tail(w);
  return w.Take();
}

std::string RenderNotFoundPage(std::string_view path) {
  Writer w;
  Head(w, " — página não encontrada");
  w << "</header>\n<main>\n<section id=\"nao-encontrada\">\n<h2>Página não encontrada</h2>\n<p>Este servidor não "
       "tem a página <code>";
  w.Text(text::Left(path, 200));
  w << "</code>.</p>\n<p><a href=\"/\">Ir para o progresso das traduções</a></p>\n</section>\n</main>\n";
  Tail(w);
  return w.Take();
}

std::string RenderFailurePage(std::string_view why) {
  Writer w;
  Head(w, " — falha");
  w << "</header>\n<main>\n<p class=\"aviso\">"
       "Não foi possível ler a tabela de traduções: ";
  w.Text(why);
  w << "</p>\n</main>\n";
  Tail(w);
  return w.Take();
}

}  // namespace trd::server
