#include "DirectoryChooser.h"

#include <QFileDialog>

namespace trd::gui {
namespace {

class DialogChooser final : public DirectoryChooser {
 public:
  std::optional<QString> Choose(QWidget* parent) override {
    QString dir = QFileDialog::getExistingDirectory(parent, QStringLiteral("Selecione o Diretório"),
                                                    QString(), QFileDialog::ShowDirsOnly);
    if (dir.isEmpty()) return std::nullopt;
    return dir;
  }
};

std::shared_ptr<DirectoryChooser>& Current() {
  static std::shared_ptr<DirectoryChooser> chooser = std::make_shared<DialogChooser>();
  return chooser;
}

}  // namespace

void SetDirectoryChooser(std::shared_ptr<DirectoryChooser> chooser) {
  Current() = chooser ? std::move(chooser) : std::make_shared<DialogChooser>();
}

DirectoryChooser& GetDirectoryChooser() { return *Current(); }

}  // namespace trd::gui
