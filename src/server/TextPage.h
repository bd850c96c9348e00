// The workbench: the pages where a signed-in translator translates on the
// server (Brazilian Portuguese, written whole on the server like the
// progress page, ProgressPage.h; storage side WorkList.h).
//
//   GET  /textos?idioma=L&programa=P[&formulario=F][&depois=CURSOR]
//        the untranslated texts of a program (or form), 100 records a page,
//        each text linking to its view
//   GET  /texto?idioma=L&programa=P&formulario=F&componente=C&propriedade=X
//        &numero=N[&lista=formulario]
//        the translation view of the record of that key: the source, every
//        key holding it, the current translation, the suggestions, the text
//        in the other languages, the checks of `trd check` and the
//        record's history; `lista=formulario`: "next" stays in the form
//   POST /texto   saves (WorkList.h SaveTranslation) and answers 303 to the
//        next untranslated text of the list (or the list when none is left);
//        an error of the checks needs the field "confirmar"; a source text
//        that changed answers 409 with the new one; a role that may not
//        translate 403
//   POST /revisar  approves ("acao=aprovar") or sends back ("devolver") the
//        translation shown; reviewers only
//   POST /verificar  the checks of a typed translation as JSON, for the
//        page's script: [{"nome": ..., "erro": true|false, "detalhe": ...}]
//   GET  /bancada.js  the page's script (keyboard, live checks)
//
// Every POST carries the anti-forgery key (WebFront.h checks it before these
// handlers run). A form that saves is shown only to a role that translates
// on a server with a token: without a token there is no sign-in, so no one
// could be named as the author.
#pragma once

#include <string>
#include <string_view>

#include "Roles.h"
#include "Service.h"
#include "WebFront.h"

namespace trd::server {

// Who the pages serve.
struct Visitor {
  Caller caller;
  bool named = false;       // signed in (a session), so writes are allowed by role
  std::string form_key;     // the anti-forgery key the page's forms carry
};

WebAnswer WorkListAnswer(std::string_view target, Service& service, const Visitor& visitor);
WebAnswer TextViewAnswer(std::string_view target, Service& service, const Visitor& visitor);
WebAnswer SaveAnswer(std::string_view body, Service& service, const Visitor& visitor);
WebAnswer ReviewAnswer(std::string_view body, Service& service, const Visitor& visitor);
WebAnswer CheckAnswer(std::string_view body, Service& service);
std::string_view WorkbenchScript();
// The workbench's rules of the pages' style sheet (after ProgressStyle()).
std::string_view WorkbenchStyle();

// The header line of every page: who is signed in and what the role allows
// ("Conectado como ana (tradutor): ler, traduzir"); HTML.
std::string SignedInLine(const Caller& caller);

// The user name and password form of the sign-in page, carrying `form_key`;
// HTML.
std::string PasswordForm(std::string_view form_key);

// The role's name and its permissions as the pages write them.
std::string_view RoleLabel(Role role);

}  // namespace trd::server
