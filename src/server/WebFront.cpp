#include "WebFront.h"

#include <algorithm>
#include <iterator>

#include <exception>
#include <stdexcept>

#include "Html.h"
#include "Progress.h"
#include "ProgressPage.h"
#include "TextPage.h"
#include "Users.h"
#include "platform/Errors.h"

namespace trd::server {
namespace {

constexpr std::string_view kHtml = "text/html; charset=utf-8";
constexpr std::string_view kStaleForm =
    "O formulário não veio desta página ou expirou. Tente de novo.";

WebAnswer Redirect(std::string cookie) {
  WebAnswer a;
  a.status = 303;
  a.content_type = "text/plain; charset=utf-8";
  a.headers.emplace_back("Location", "/");
  if (!cookie.empty()) a.headers.emplace_back("Set-Cookie", std::move(cookie));
  return a;
}

// The anti-forgery key of the request's browser (the cookie), or a new one
// to be set with the answer when it has none that could be one.
struct FormKey {
  std::string key;
  bool is_new = false;
};

FormKey FormKeyOf(std::string_view cookie_header) {
  const std::string_view key = CookieValue(cookie_header, kFormCookie);
  const bool well_formed = key.size() == 64 && key.find_first_not_of("0123456789abcdef") == std::string_view::npos;
  if (well_formed) return {std::string(key), false};
  return {NewSessionSecret(), true};
}

std::string FormCookie(std::string_view key) {
  return std::string(kFormCookie) + "=" + std::string(key) + "; Path=/; HttpOnly; SameSite=Strict";
}

// Whether a POSTed form carries the key of the browser's cookie.
bool FormKeyMatches(const html::Form& form, std::string_view cookie_header) {
  const std::string_view key = CookieValue(cookie_header, kFormCookie);
  return !key.empty() && SameToken(html::FormValue(form, kFormKeyField), key);
}

std::string SessionCookie(std::string_view secret) {
  return std::string(kSessionCookie) + "=" + std::string(secret) + "; Path=/; HttpOnly; SameSite=Strict";
}

std::string ClearedCookie() {
  return std::string(kSessionCookie) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0";
}

// The chosen language: the one asked for when known, else the first with
// records, else the first.
std::string ChooseLanguage(const std::vector<LanguageProgress>& languages, std::string_view asked,
                           std::string& notice) {
  for (const auto& l : languages)
    if (l.code == asked) return l.code;
  if (!asked.empty()) notice = "Idioma desconhecido: " + std::string(asked) + ".";
  for (const auto& l : languages)
    if (l.counts.total > 0) return l.code;
  return languages.empty() ? std::string() : languages.front().code;
}

// A page number of the query: 1 for anything but a whole number from 1.
std::size_t PageNumber(const std::string& text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return 1;
  return std::max<std::size_t>(1, std::stoul(text));
}

WebAnswer ProgressPage(std::string_view target, Service& service, SignOut sign_out, std::string form_key,
                       std::string signed_in_html) {
  const html::Form query = html::ParseForm(html::QueryOf(target));
  ProgressReader reader(service);
  PageView view;
  view.sign_out = sign_out;
  view.form_key = std::move(form_key);
  view.signed_in_html = std::move(signed_in_html);
  view.languages = reader.Languages();
  view.language = ChooseLanguage(view.languages, html::FormValue(query, "idioma"), view.notice);
  view.order = ParseProgramOrder(html::FormValue(query, "ordem"));
  view.direction =
      ParseSortDirection(html::FormValue(query, "sentido")).value_or(DefaultDirection(view.order));
  if (!view.language.empty()) {
    std::vector<ProgramProgress> programs = reader.Programs(view.language);
    SortPrograms(programs, view.order, view.direction);
    view.program_count = programs.size();
    const std::size_t pages = std::max<std::size_t>(1, (programs.size() + kProgramsPerPage - 1) / kProgramsPerPage);
    view.program_page = std::clamp<std::size_t>(PageNumber(html::FormValue(query, "pagina_programas")), 1, pages);
    const std::size_t first = (view.program_page - 1) * kProgramsPerPage;
    const std::size_t last = std::min(programs.size(), first + kProgramsPerPage);
    view.programs.assign(std::make_move_iterator(programs.begin() + std::ptrdiff_t(std::min(first, last))),
                         std::make_move_iterator(programs.begin() + std::ptrdiff_t(last)));
  }
  std::vector<std::string> codes;
  for (const auto& l : view.languages)
    if (l.counts.total > 0) codes.push_back(l.code);
  view.recent = reader.Recent(codes, kRecentRows);
  view.last_harvest = reader.LastHarvest();
  view.activity = reader.Activity(kActivityDays);
  view.search = html::FormValue(query, "busca");
  if (!view.search.empty()) {
    view.after = html::FormValue(query, "depois");
    view.page = int(std::min<std::size_t>(PageNumber(html::FormValue(query, "pagina")), 1000000));
    if (view.after.empty()) view.page = 1;
    try {
      view.found = reader.Search(view.search, view.after, kSearchPageRecords);
    } catch (const ProtocolError&) {
      if (view.after.empty()) throw;
      // A link edited by hand (or from another listing): the search starts over.
      view.notice = "O endereço da página de resultados não vale; a busca recomeça da primeira página.";
      view.after.clear();
      view.page = 1;
      view.found = reader.Search(view.search, view.after, kSearchPageRecords);
    }
  }
  return PageAnswer(200, RenderProgressPage(view));
}

}  // namespace

WebAnswer PageAnswer(int status, std::string body) {
  WebAnswer a;
  a.status = status;
  a.content_type = std::string(kHtml);
  a.body = std::move(body);
  return a;
}

WebAnswer AnswerWeb(const WebRequest& request, Service& service, const Credentials& credentials,
                    BrowserSessions& sessions) {
  WebAnswer answer;
  // Only a server with a token has forms that POST.
  const FormKey form_key = credentials.token.empty() ? FormKey{} : FormKeyOf(request.cookie);
  try {
    switch (request.route) {
      case Route::Style:
        answer.content_type = "text/css; charset=utf-8";
        answer.body = std::string(ProgressStyle()) + std::string(WorkbenchStyle());
        break;
      case Route::Login: {
        if (credentials.token.empty()) {
          answer = Redirect({});
          break;
        }
        const html::Form form = html::ParseForm(request.body);
        const std::string user = html::FormValue(form, "usuario");
        if (!FormKeyMatches(form, request.cookie)) {
          answer = PageAnswer(403, RenderSignInPage(kStaleForm, form_key.key));
        } else if (!user.empty()) {
          // A user of the server's own (Users.h): the session holds the user
          // and role, the author of what the pages save.
          std::optional<Caller> who;
          {
            auto session = service.Storage().Acquire();
            who = UserOfPassword(*session, user, html::FormValue(form, "senha"));
          }
          if (who) {
            answer = Redirect(SessionCookie(sessions.Open(*who, request.address)));
            answer.sign_in = SignIn::Succeeded;
          } else {
            answer = PageAnswer(403, RenderSignInPage("Usuário ou senha incorretos. Tente de novo.", form_key.key));
            answer.sign_in = SignIn::Failed;
          }
        } else if (SameToken(html::FormValue(form, "token"), credentials.token)) {
          // The holder of the server's token; a session of a user's own
          // holds that user.
          answer = Redirect(SessionCookie(sessions.Open(Caller{}, request.address)));
          answer.sign_in = SignIn::Succeeded;
        } else {
          answer = PageAnswer(403, RenderSignInPage("Token incorreto. Tente de novo.", form_key.key));
          answer.sign_in = SignIn::Failed;
        }
        break;
      }
      case Route::Logout:
        if (!credentials.token.empty() && !FormKeyMatches(html::ParseForm(request.body), request.cookie)) {
          answer = PageAnswer(403, RenderSignInPage(kStaleForm, form_key.key));
          break;
        }
        if (!request.session.empty()) sessions.End(request.session);
        answer = Redirect(ClearedCookie());
        break;
      case Route::Page:
        if (request.access == Access::Denied) answer = PageAnswer(200, RenderSignInPage({}, form_key.key));
        else
          answer = ProgressPage(request.target, service,
                                credentials.token.empty() ? SignOut::Hidden : SignOut::Shown, form_key.key,
                                credentials.token.empty() ? std::string() : SignedInLine(request.caller));
        break;
      case Route::Missing:
        answer = PageAnswer(404, RenderNotFoundPage(request.target.substr(0, request.target.find('?'))));
        break;
      case Route::Script:
        answer.content_type = "text/javascript; charset=utf-8";
        answer.body = std::string(WorkbenchScript());
        break;
      case Route::WorkList:
      case Route::TextView:
      case Route::Save:
      case Route::Review:
      case Route::Check: {
        const bool post = request.route != Route::WorkList && request.route != Route::TextView;
        if (request.access == Access::Denied) {
          answer = PageAnswer(post ? 403 : 200, RenderSignInPage({}, form_key.key));
          break;
        }
        if (post && !FormKeyMatches(html::ParseForm(request.body), request.cookie)) {
          answer = PageAnswer(403, RenderSignInPage(kStaleForm, form_key.key));
          break;
        }
        // Without a token nobody signs in: the pages read, nobody is named
        // to write.
        const Visitor visitor{request.caller, !credentials.token.empty(), form_key.key};
        if (request.route == Route::WorkList) answer = WorkListAnswer(request.target, service, visitor);
        else if (request.route == Route::TextView) answer = TextViewAnswer(request.target, service, visitor);
        else if (request.route == Route::Save) answer = SaveAnswer(request.body, service, visitor);
        else if (request.route == Route::Review) answer = ReviewAnswer(request.body, service, visitor);
        else answer = CheckAnswer(request.body, service);
        break;
      }
      case Route::Call:
      case Route::Echo:
        throw std::logic_error("AnswerWeb: not a route of the page");
    }
  } catch (const std::exception& e) {
    answer = PageAnswer(500, RenderFailurePage(e.what()));
  }
  if (form_key.is_new) answer.headers.emplace_back("Set-Cookie", FormCookie(form_key.key));
  answer.headers.emplace_back("Content-Security-Policy", std::string(kPagePolicy));
  answer.headers.emplace_back("X-Content-Type-Options", "nosniff");
  answer.headers.emplace_back("Referrer-Policy", "same-origin");
  answer.headers.emplace_back("Cache-Control", "no-store");
  return answer;
}

}  // namespace trd::server
