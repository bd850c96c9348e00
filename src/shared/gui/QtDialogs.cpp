#include "QtDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace trd::gui {
namespace {

struct Look {
  QMessageBox::Icon icon;
  const char* title;
};

Look LookOf(shared::MsgType type) {
  switch (type) {
    case shared::MsgType::Warning: return {QMessageBox::Warning, "Atenção"};
    case shared::MsgType::Error: return {QMessageBox::Critical, "Erro"};
    case shared::MsgType::Information: return {QMessageBox::Information, "Informação"};
    case shared::MsgType::Confirmation: return {QMessageBox::Question, "Confirmação"};
  }
  return {QMessageBox::NoIcon, ""};
}

// Arrow cursor over the dialog even inside a busy section.
class ArrowCursor {
 public:
  ArrowCursor() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
  ~ArrowCursor() { QApplication::restoreOverrideCursor(); }
};

QString FromUtf8(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

shared::MsgAnswer ShowBox(std::string_view text, std::string_view details, shared::MsgType type,
                          shared::MsgButtons buttons) {
  Look look = LookOf(type);
  QMessageBox box(look.icon, QString::fromUtf8(look.title), FromUtf8(text), QMessageBox::NoButton,
                  QApplication::activeWindow());
  box.setObjectName(kMessageBoxName);
  if (!details.empty()) box.setDetailedText(FromUtf8(details));
  QPushButton* yes = nullptr;
  if (buttons == shared::MsgButtons::YesNo) {
    yes = box.addButton(QStringLiteral("Sim"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Não"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
  } else {
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
  }
  ArrowCursor arrow;
  box.exec();
  if (buttons == shared::MsgButtons::Ok) return shared::MsgAnswer::Ok;
  return box.clickedButton() == yes ? shared::MsgAnswer::Yes : shared::MsgAnswer::No;
}

}  // namespace

shared::MsgAnswer QtDialogs::Show(std::string_view text, shared::MsgType type,
                                  shared::MsgButtons buttons) {
  return ShowBox(text, {}, type, buttons);
}

shared::MsgAnswer QtDialogs::ShowDetailed(std::string_view text, std::string_view details,
                                          shared::MsgType type, shared::MsgButtons buttons) {
  return ShowBox(text, details, type, buttons);
}

}  // namespace trd::gui
