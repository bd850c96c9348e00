#include "QtPortuguese.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace trd::gui {
namespace {

// Texts of Qt 6 that Debian's qtbase_pt_BR.qm (6.4) does not hold: the kind
// column of the directory chooser. Asked before the catalogue; answers
// nothing for every other text.
class CatalogueGaps final : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* source, const char*, int) const override {
    if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return {};
    if (qstrcmp(source, "Folder") == 0) return QStringLiteral("Pasta");
    if (qstrcmp(source, "File") == 0) return QStringLiteral("Arquivo");
    if (qstrcmp(source, "Drive") == 0) return QStringLiteral("Unidade");
    if (qstrcmp(source, "%1 File") == 0) return QStringLiteral("Arquivo %1");
    return {};
  }
};

}  // namespace

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
  QCoreApplication::installTranslator(new CatalogueGaps(&app));
  return QtTranslation::Loaded;
}

}  // namespace trd::gui
