// The browser's side of `trd serve`: the progress page (GET /), its style
// sheet (GET /painel.css), the sign-in forms (POST /entrar, POST /sair),
// the workbench's routes (TextPage.h) and the page of a path it does not
// have (GET or HEAD elsewhere: 404, in Portuguese, like the rest).
// Transport-free: the HTTP front hands it the admitted request.
//
// Every POST form of the page carries an anti-forgery key, checked on POST:
// the page sets it as the cookie kFormCookie (HttpOnly, SameSite=Strict)
// and writes it into its forms (ProgressPage.h, kFormKeyField); a POST
// whose field does not equal the cookie is refused (403), so a form another
// site builds cannot sign a browser in or out. (Writes from another site are
// refused before that from their Origin, HttpAdmission.h.)
//
// With a token set, a browser first gets the sign-in page: the team's token,
// or a user's name and password (Users.h; the session then holds that user
// and role, the author of what the workbench saves). Either opens a session
// (BrowserSessions.h) and answers with its cookie
// (HttpOnly, SameSite=Strict, holding the session's id, not the token) and
// a redirect to the page; a wrong one with the form again (403), which the
// front answers late (ClientThrottle.h). Without an open session the page
// shows nothing of the table. POST /sair ends the session and clears the
// cookie.
//
// Every answer carries a Content-Security-Policy that allows styles, images,
// scripts and the scripts' requests to the server only (no inline script runs), forbids framing
// and sends forms back to the server only; and no-store, nosniff and
// a Referrer-Policy of same-origin (not no-referrer: under that a browser
// sends "Origin: null" with the page's own forms, which the server refuses
// as it refuses a page of another site).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "BrowserSessions.h"
#include "HttpAdmission.h"
#include "Service.h"

namespace trd::server {

struct WebRequest {
  Route route = Route::Page;  // Page, Style, Login, Logout or Missing
  Access access = Access::Denied;
  std::string_view target;  // path and query
  std::string_view body;    // the form of POST /entrar, POST /sair
  std::string_view cookie;  // the Cookie header; empty when absent
  std::string_view session;  // the id of the open session it came with; empty: none
  std::string_view address;  // the client's address, for a session it opens
  Caller caller;             // who the session (or the token) is: the author of changes
};

// How a POST of the token form went, for the front's delay of failures.
enum class SignIn { None, Failed, Succeeded };

// The cookie that holds the anti-forgery key of the page's forms.
inline constexpr std::string_view kFormCookie = "trd_form";

struct WebAnswer {
  int status = 200;
  std::string content_type;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // beyond Content-Type and Content-Length
  SignIn sign_in = SignIn::None;
};

// An HTML page (text/html, UTF-8) with `status`.
WebAnswer PageAnswer(int status, std::string body);

// Answers a request of the page's routes. Never throws for a failure of the
// storage: the page then says the table could not be read (500).
// `sessions`: where sign-ins open and end their sessions.
WebAnswer AnswerWeb(const WebRequest& request, Service& service, const Credentials& credentials,
                    BrowserSessions& sessions);

// The Content-Security-Policy of every page.
inline constexpr std::string_view kPagePolicy =
    "default-src 'none'; style-src 'self'; img-src 'self'; script-src 'self'; connect-src 'self'; "
    "form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

// How many of the latest changes the page lists, and how many records a page
// of search results holds at most.
inline constexpr std::size_t kRecentRows = 25;
inline constexpr std::size_t kSearchPageRecords = 60;

}  // namespace trd::server
