// The progress page's HTML (Brazilian Portuguese, like the screen), written
// whole on the server: no script, no asset from elsewhere; its one style
// sheet is ProgressStyle(), served at /painel.css. Every text that comes from
// the table or from the request is escaped (Html.h).
//
// Sections, each with an id the tests and the style sheet use:
//   #idiomas    per language: records, translated, untranslated, the share
//               as a number and a bar (<progress>)
//   #programas  the programs of the chosen language, sorted by a column
//               (links in the headers; the sorted column's header cell
//               carries aria-sort and its arrow, and links to the other
//               direction), the least translated first by default,
//               kProgramsPerPage a page (links to the others)
//   #recentes   the latest changes, newest first (bounded by the caller)
//   #busca      the search form and a page of the texts found, each with the
//               keys holding it and their translations per language, with a
//               link to the next page, and how many texts were found
//   #atividade  the date of the last harvest and the changes per user over
//               the last kActivityDays days
// Wide tables scroll inside their section (div.rolagem), so the page itself
// never scrolls sideways.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Progress.h"

namespace trd::server {

// The programs #programas shows at once ("pagina_programas" in the query
// picks the page): so the page stays small however many programs the table
// holds (some 450 bytes a program).
inline constexpr std::size_t kProgramsPerPage = 100;
// The characters a text of #recentes or of the search's results shows (the
// rest cut, "…"): 60 found records of 4000-character texts would make the
// page some 500 KB.
inline constexpr std::size_t kShownTextChars = 200;

// The users #atividade lists at most, and the days it covers.
inline constexpr std::size_t kActivityRows = 50;
inline constexpr int kActivityDays = 30;

// How #programas is sorted ("ordem" in the query).
enum class ProgramOrder { Share, Program, Total, Translated, Untranslated };
// "percentual" (the default, also for anything unknown), "programa",
// "registros", "traduzidos", "pendentes".
ProgramOrder ParseProgramOrder(std::string_view s);
std::string_view ProgramOrderName(ProgramOrder order);

// Which way ("sentido" in the query): "crescente" or "decrescente"; anything
// else, or nothing, is the column's default (DefaultDirection).
enum class SortDirection { Ascending, Descending };
std::optional<SortDirection> ParseSortDirection(std::string_view s);
std::string_view SortDirectionName(SortDirection direction);
// Names ascending (A first), the counts descending (largest first), the
// share ascending (least translated first).
SortDirection DefaultDirection(ProgramOrder order);

// Sorts in place by the column in the direction: the share with the
// untranslated count (more first) among equal shares; ties by name
// (ascending, whatever the direction).
void SortPrograms(std::vector<ProgramProgress>& programs, ProgramOrder order, SortDirection direction);

// Whether the page offers the "Sair" button (a token is set).
enum class SignOut { Hidden, Shown };

struct PageView {
  std::vector<LanguageProgress> languages;
  std::string language;  // the chosen one (empty: none known)
  // One page of the chosen language's programs (kProgramsPerPage at
  // most), sorted already; `program_count` of them in all, `program_page`
  // counted from 1.
  std::vector<ProgramProgress> programs;
  std::size_t program_count = 0;
  std::size_t program_page = 1;
  ProgramOrder order = ProgramOrder::Share;
  SortDirection direction = SortDirection::Ascending;
  std::vector<ListedRecord> recent;
  std::optional<DateTime> last_harvest;  // none: never harvested
  std::vector<UserActivity> activity;    // over kActivityDays, the most active first
  std::string search;  // the text searched for; empty: no search
  std::optional<SearchPage> found;
  std::string after;  // the cursor the shown page of results starts at
  int page = 1;       // its number, counted from 1
  std::string notice;  // a message above the sections (an unknown language asked for)
  SignOut sign_out = SignOut::Hidden;
  std::string form_key;  // the anti-forgery key the "Sair" form carries
  std::string signed_in_html;  // who is signed in (TextPage.h SignedInLine); empty: nobody named
};

std::string RenderProgressPage(const PageView& view);

// The name of the hidden field that carries the anti-forgery key in the
// page's POST forms (WebFront.h).
inline constexpr std::string_view kFormKeyField = "chave_form";

// The sign-in page: the user name and password form and the token form,
// carrying `form_key`; `message` (may be empty) shown above them.
std::string RenderSignInPage(std::string_view message, std::string_view form_key);

// A page that tells the table could not be read; `why` is escaped.
std::string RenderFailurePage(std::string_view why);

// The page of a path the server does not have (404); `path` is escaped.
std::string RenderNotFoundPage(std::string_view path);

// The style sheet of every page.
std::string_view ProgressStyle();

// "12.345" and "42,5%": numbers as the page writes them (pt-BR).
std::string FormatCount(std::int64_t n);
std::string FormatShare(double share);

}  // namespace trd::server
