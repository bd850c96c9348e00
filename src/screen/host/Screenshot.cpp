#include "Screenshot.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

#include "TfrmPrincipal.h"

namespace trd::host {
namespace {

constexpr int kSettleMs = 600;

void Fail(const char* what) {
  std::fprintf(stderr, "screenshot: %s\n", what);
  QApplication::exit(1);
}

void Stage(TfrmPrincipal& window, const QString& sampleDir, const QString& output) {
  auto* edt = window.findChild<QLineEdit*>("edtDiretorio");
  auto* disp = window.findChild<QListWidget*>("lsbDisp");
  auto* selec = window.findChild<QListWidget*>("lsbSelec");
  auto* idioma = window.findChild<QComboBox*>("cbbIdioma");
  auto* tudo = window.findChild<QToolButton*>("sbtTudoDir");
  if (!edt || !disp || !selec || !idioma || !tudo) return Fail("the screen is not open");

  edt->setText(sampleDir);
  QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);  // leaving the field lists it
  QApplication::sendEvent(edt, &leave);
  if (disp->count() < 3) return Fail("the sample directory listed fewer than three files");

  tudo->click();  // every file to the right (>>)
  if (selec->count() < 3) return Fail("the files did not move into the selection");
  int por = idioma->findText(QStringLiteral("POR"), Qt::MatchStartsWith);
  idioma->setCurrentIndex(por >= 0 ? por : 0);

  QTimer::singleShot(kSettleMs, &window, [&window, output] {
    if (!window.grab().save(output, "PNG")) return Fail("cannot write the picture");
    std::fprintf(stderr, "screenshot: wrote %s\n", qPrintable(output));
    QApplication::exit(0);
  });
}

}  // namespace

void StageScreenshot(TfrmPrincipal& window, const QString& sampleDir, const QString& output) {
  QTimer::singleShot(kSettleMs, &window, [&window, sampleDir, output] { Stage(window, sampleDir, output); });
}

}  // namespace trd::host
