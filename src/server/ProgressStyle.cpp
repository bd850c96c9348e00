// The progress page's one style sheet (GET /painel.css). Kept here rather
// than in a file beside the executable, so that `trd serve` needs nothing
// but itself.
#include "ProgressPage.h"

namespace trd::server {

std::string_view ProgressStyle() {
  return R"css(:root {
  --fundo: #f6f7f9; --papel: #fff; --tinta: #1d2430; --suave: #5b6575;
  --linha: #dde1e7; --destaque: #0a58ca; --bom: #2da44e; --falta: #e5e9ef;
  font-family: "DejaVu Sans", "Liberation Sans", Arial, sans-serif; font-size: 14px;
  color: var(--tinta); background: var(--fundo);
}
body { margin: 0; }
header { display: flex; flex-wrap: wrap; gap: 8px; align-items: center; justify-content: space-between;
  padding: 12px 24px; background: #24292f; color: #fff; }
header h1 { font-size: 20px; margin: 0; font-weight: 600; }
header .sair button { background: transparent; color: #fff; border: 1px solid #8b949e; }
main { padding: 16px 24px 32px; display: grid; gap: 16px; grid-template-columns: minmax(0, 1fr); max-width: 1400px; }
section { background: var(--papel); border: 1px solid var(--linha); border-radius: 6px; padding: 12px 16px; }
h2 { font-size: 16px; margin: 0 0 8px; }
h3 { font-size: 14px; margin: 12px 0 4px; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: 4px 8px; border-bottom: 1px solid var(--linha); vertical-align: top; }
th { color: var(--suave); font-weight: 600; white-space: nowrap; }
th a { color: inherit; text-decoration: none; }
th a.ativo { color: var(--destaque); }
th a.crescente::after { content: " ▲"; font-size: 10px; }
th a.decrescente::after { content: " ▼"; font-size: 10px; }
.rolagem { overflow-x: auto; max-width: 100%; }
.rolagem:focus-visible { outline: 2px solid var(--destaque); outline-offset: 2px; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; }
td.texto { white-space: pre-wrap; word-break: break-word; max-width: 28em; }
td.quando { white-space: nowrap; }
tr.escolhido td { background: #eef4ff; }
td.barra { width: 30%; min-width: 120px; }
progress { width: 100%; height: 12px; appearance: none; border: none; border-radius: 6px;
  background: var(--falta); overflow: hidden; }
progress::-webkit-progress-bar { background: var(--falta); border-radius: 6px; }
progress::-webkit-progress-value { background: var(--bom); border-radius: 6px; }
progress::-moz-progress-bar { background: var(--bom); }
a { color: var(--destaque); }
.nota { color: var(--suave); margin: 0 0 8px; font-size: 12px; }
.aviso { grid-column: 1 / -1; background: #fff8c5; border: 1px solid #d4a72c; border-radius: 6px; padding: 8px 12px; margin: 0; }
.vazio { color: var(--suave); font-style: italic; }
.resumo { margin: 8px 0; }
article.achado { border-top: 1px solid var(--linha); margin-top: 8px; }
nav.paginas { margin-top: 12px; display: flex; gap: 16px; }
form { display: flex; flex-wrap: wrap; gap: 8px; align-items: center; }
form label { display: flex; flex-wrap: wrap; gap: 4px 8px; align-items: center; max-width: 100%; }
input[type=search], input[type=password] { padding: 4px 6px; width: 24em; max-width: 100%; box-sizing: border-box;
  border: 1px solid #b6bec9; border-radius: 4px; }
code { overflow-wrap: anywhere; }
@media (max-width: 600px) {
  header, main { padding-left: 8px; padding-right: 8px; }
  section { padding: 8px; }
}
button { padding: 4px 12px; border-radius: 4px; border: 1px solid #b6bec9; background: #f3f4f6; cursor: pointer; }
)css";
}

}  // namespace trd::server
