// trd-client: a small desktop client hosting the harvesting module.
//
//   trd-client [--server http://HOST:PORT] [--module PATH]
//              [--screenshot FILE --sample DIR]
//
// The translation server's address is --server, handed to the screens
// through the main window (shared/gui/Host.h), else TRD_SERVER, else
// 127.0.0.1:8211; an address without a port means port 8211. The module is
// taken from --module, else TRD_MODULE, else libPkg_trd00500.so next to the
// program, else in ../lib/trd from it (make install), else the build's copy.
// The harvesting screen opens once at start and again from the menu. Qt's own
// texts are shown in Brazilian Portuguese (shared/gui/QtPortuguese.h).
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "Screenshot.h"
#include "TfrmPrincipal.h"
#include "platform/Endpoint.h"
#include "shared/gui/QtPortuguese.h"

namespace {

QString ModulePath(const QCommandLineParser& args) {
  if (args.isSet("module")) return args.value("module");
  if (const char* env = std::getenv("TRD_MODULE"); env && *env) return QString::fromLocal8Bit(env);
  const QDir here(QCoreApplication::applicationDirPath());
  for (const char* relative : {"libPkg_trd00500.so", "../lib/trd/libPkg_trd00500.so"})
    if (QFileInfo::exists(here.filePath(relative))) return QDir::cleanPath(here.filePath(relative));
  return QStringLiteral(TRD_MODULE_PATH);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("trd-client");
  if (trd::gui::InstallQtPortuguese(app) == trd::gui::QtTranslation::Missing)
    std::fprintf(stderr, "trd-client: Qt's Portuguese texts (qtbase_pt_BR.qm, package qt6-translations-l10n) "
                         "are missing; Qt's own texts stay in English\n");

  QCommandLineParser args;
  args.setApplicationDescription("Desktop client hosting the translation-harvesting screen TRD00500.");
  args.addHelpOption();
  args.addOption({"server", "Translation server, http://HOST:PORT (default: TRD_SERVER, else 127.0.0.1:8211).", "url"});
  args.addOption({"module", "Path of the module to load.", "path"});
  args.addOption({"screenshot", "Stage the screen, save the main window as PNG to FILE, quit.", "file"});
  args.addOption({"sample", "Directory listed for --screenshot.", "dir"});
  args.process(app);
  const QString server = args.value("server");
  if (args.isSet("server")) {
    try {
      trd::ParseServerAddress(server.toStdString());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "trd-client: --server: %s\n", e.what());
      return 2;
    }
  }
  if (args.isSet("screenshot") && !args.isSet("sample")) {
    std::fprintf(stderr, "trd-client: --screenshot needs --sample\n");
    return 2;
  }

  trd::host::TfrmPrincipal window(server);
  window.show();
  if (window.LoadModule(ModulePath(args))) {
    QTimer::singleShot(0, &window, [&window] { window.OpenScreen(); });
    if (args.isSet("screenshot"))
      trd::host::StageScreenshot(window, args.value("sample"), args.value("screenshot"));
  } else if (args.isSet("screenshot")) {
    return 1;
  }
  return app.exec();
}
