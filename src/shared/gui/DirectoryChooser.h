// The directory chooser behind the screens' directory buttons, replaceable so
// that tests answer it.
//
// Choose() opens with no preset directory and returns the chosen directory
// (with '/' separators) or std::nullopt when the user cancelled. The default
// chooser is Qt's directory dialog, titled "Selecione o Diretório"; it picks
// existing directories only, so a directory that does not exist yet is typed
// into the screen's directory field instead.
#pragma once

#include <QString>
#include <memory>
#include <optional>

class QWidget;

namespace trd::gui {

class DirectoryChooser {
 public:
  virtual ~DirectoryChooser() = default;
  virtual std::optional<QString> Choose(QWidget* parent) = 0;
};

// Replaces the process-wide chooser; nullptr restores the directory dialog.
void SetDirectoryChooser(std::shared_ptr<DirectoryChooser> chooser);
DirectoryChooser& GetDirectoryChooser();

}  // namespace trd::gui
