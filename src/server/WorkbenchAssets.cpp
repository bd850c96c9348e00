// The workbench's style rules, served after the progress page's in
// /painel.css, and the translation view's script, served at /bancada.js (the pages' policy
// runs scripts of the server only, never inline ones). The page works
// without it: the field has autofocus, the button saves, the server checks.
// With it:
//   Ctrl+Enter (or Cmd+Enter) in the translation field saves and goes on;
//   Alt+N, or the button "Copiar", puts suggestion N into the field;
//   the checks of the typed translation are asked of POST /verificar as the
//   translator pauses, and shown under the field (the server checks again
//   when saving, and its answer decides).
#include "TextPage.h"

namespace trd::server {

std::string_view WorkbenchScript() {
  return R"JS('use strict';
(function () {
  const form = document.getElementById('traduzir');
  const field = document.getElementById('traducao');
  if (!form || !field) return;
  const checks = document.getElementById('verificacoes');
  const suggestions = Array.from(document.querySelectorAll('#sugestoes pre.sugestao'));

  function copy(n) {
    const s = suggestions[n - 1];
    if (!s) return false;
    field.value = s.textContent;
    field.focus();
    field.dispatchEvent(new Event('input'));
    return true;
  }

  function save() {
    if (typeof form.requestSubmit === 'function') form.requestSubmit();
    else form.submit();
  }

  field.addEventListener('keydown', function (e) {
    if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) {
      e.preventDefault();
      save();
    }
  });
  document.addEventListener('keydown', function (e) {
    if (e.altKey && !e.ctrlKey && !e.metaKey && /^[1-9]$/.test(e.key) && copy(Number(e.key))) e.preventDefault();
  });
  document.querySelectorAll('button.copiar').forEach(function (b) {
    b.addEventListener('click', function () { copy(Number(b.dataset.sugestao)); });
  });

  let timer = 0;
  let asked = 0;
  function show(list) {
    checks.textContent = '';
    if (!list.length) return;
    const ul = document.createElement('ul');
    list.forEach(function (c) {
      const li = document.createElement('li');
      li.className = c.erro ? 'erro' : 'nota';
      li.textContent = (c.erro ? 'Erro: ' : 'Aviso: ') + c.nome + ' — ';
      const detail = document.createElement('span');
      detail.lang = 'en';
      detail.textContent = c.detalhe;
      li.appendChild(detail);
      ul.appendChild(li);
    });
    checks.appendChild(ul);
  }
  function check() {
    const mine = ++asked;
    fetch('/verificar', { method: 'POST', body: new URLSearchParams(new FormData(form)), credentials: 'same-origin' })
      .then(function (r) { return r.ok ? r.json() : null; })
      .then(function (list) { if (list && mine === asked) show(list); })
      .catch(function () {});
  }
  field.addEventListener('input', function () {
    clearTimeout(timer);
    timer = setTimeout(check, 250);
  });
  field.focus();
  if (field.value) check();
})();
)JS";
}

std::string_view WorkbenchStyle() {
  return R"css(
header { flex-wrap: wrap; gap: 8px 16px; }
header nav a, header .quem { color: #e6edf3; }
header .quem { margin: 0; }
nav.caminho { grid-column: 1 / -1; }
pre { white-space: pre-wrap; word-break: break-word; margin: 0 0 8px; font-family: inherit; }
pre.origem, pre.atual { padding: 8px; background: #f6f8fa; border: 1px solid var(--linha); border-radius: 4px; }
#traducao { width: 100%; box-sizing: border-box; font: inherit; padding: 6px; border: 1px solid #6e7781;
  border-radius: 4px; }
#traducao:focus { outline: 2px solid var(--destaque); }
#verificacoes ul { margin: 4px 0; padding-left: 20px; }
#verificacoes li.erro { color: #a40e26; }
#sugestoes li { margin-bottom: 6px; }
#sugestoes pre.sugestao { display: inline; }
.similaridade { font-weight: 600; font-variant-numeric: tabular-nums; }
.rolagem { overflow-x: auto; }
#entrar-usuario input[type=text] { padding: 4px 6px; min-width: 16em; border: 1px solid #b6bec9; border-radius: 4px; }
)css";
}

}  // namespace trd::server
