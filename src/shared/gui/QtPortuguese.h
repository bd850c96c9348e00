// Qt's own texts in Brazilian Portuguese, so that what Qt draws (the
// directory chooser, "Show Details..." of a message box, the context menu of
// a text field) speaks the screens' language.
//
// The translations are Qt's own catalogue qtbase_pt_BR.qm, found in Qt's
// translations directory (QLibraryInfo::TranslationsPath; Debian package
// qt6-translations-l10n). The program that owns the QApplication installs
// them once, before any window is built; the default locale becomes pt_BR
// as well (numbers, dates and the file dialogs' sizes).
#pragma once

class QCoreApplication;

namespace trd::gui {

enum class QtTranslation { Loaded, Missing };

// Installs the catalogue into `app` (it owns the translator). Missing when
// the catalogue is not there: Qt then stays in English, nothing fails.
QtTranslation InstallQtPortuguese(QCoreApplication& app);

}  // namespace trd::gui
