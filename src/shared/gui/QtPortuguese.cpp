#include "QtPortuguese.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace trd::gui {

QtTranslation InstallQtPortuguese(QCoreApplication& app) {
  const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
  QLocale::setDefault(brazil);
  auto* translator = new QTranslator(&app);
  if (!translator->load(brazil, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return QtTranslation::Missing;
  }
  QCoreApplication::installTranslator(translator);
  return QtTranslation::Loaded;
}

}  // namespace trd::gui
