// The Qt side of the shared services: Portuguese dialogs, the busy
// indicator, and how handlers report errors.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTimer>

#include "ScreenTest.h"
#include "shared/gui/BusyIndicator.h"
#include "shared/gui/Handler.h"
#include "shared/gui/QtDialogs.h"
#include "shared/gui/QtPortuguese.h"

namespace trd::test {
namespace {

// Answers the next message box by the text of one of its buttons and
// records the texts of all of them.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(QString press) : press_(std::move(press)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  QStringList buttons;
  QString title;

 private:
  void Poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box || !box->isVisible() || box->objectName() != gui::kMessageBoxName) continue;
      title = box->windowTitle();
      for (QAbstractButton* b : box->buttons()) buttons << b->text();
      for (QAbstractButton* b : box->buttons())
        if (b->text() == press_) b->click();
      timer_.stop();
    }
  }
  QString press_;
  QTimer timer_;
};

TEST(QtDialogs, QuestionsAskSimOrNaoAndMessagesOfferOk) {
  gui::QtDialogs dialogs;
  {
    BoxAnswerer answer("Sim");
    EXPECT_EQ(dialogs.Show("Confirma?", shared::MsgType::Confirmation, shared::MsgButtons::YesNo),
              shared::MsgAnswer::Yes);
    EXPECT_EQ(answer.buttons, (QStringList{"Sim", "Não"}));
    EXPECT_EQ(answer.title, "Confirmação");
  }
  {
    BoxAnswerer answer("Não");
    EXPECT_EQ(dialogs.Show("Confirma?", shared::MsgType::Confirmation, shared::MsgButtons::YesNo),
              shared::MsgAnswer::No);
  }
  {
    BoxAnswerer answer("OK");
    EXPECT_EQ(dialogs.Show("Idioma inválido.", shared::MsgType::Error, shared::MsgButtons::Ok),
              shared::MsgAnswer::Ok);
    EXPECT_EQ(answer.buttons, QStringList{"OK"});
    EXPECT_EQ(answer.title, "Erro");
  }
}

TEST(QtBusyIndicator, CoversTheWindowWithTheBusyCursorUntilHidden) {
  QWidget window;
  window.resize(400, 300);
  window.show();
  gui::QtBusyIndicator busy;
  busy.Hide();  // nothing shown: harmless
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  busy.Show(static_cast<QWidget*>(&window), shared::ShowAviKind::Search);
  ASSERT_NE(busy.Overlay(), nullptr);
  EXPECT_EQ(busy.Overlay()->parentWidget(), &window);
  EXPECT_TRUE(busy.Overlay()->isVisible());
  EXPECT_EQ(busy.Overlay()->geometry(), window.rect());
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

  busy.Show(static_cast<QWidget*>(&window), shared::ShowAviKind::Process);  // one overlay, new caption
  EXPECT_EQ(window.findChildren<gui::BusyOverlay*>().size(), 1);
  EXPECT_EQ(busy.Overlay()->Caption(), gui::CaptionOf(shared::ShowAviKind::Process));
  window.resize(500, 350);
  EXPECT_EQ(busy.Overlay()->geometry(), window.rect());

  busy.Hide();
  EXPECT_TRUE(window.findChildren<gui::BusyOverlay*>().isEmpty());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  auto* gone = new QWidget;
  void* stale = static_cast<QWidget*>(gone);
  delete gone;
  busy.Show(stale, shared::ShowAviKind::Transfer);  // a window that has gone is not used
  busy.Hide();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(RunHandler, MensErroIsSilentAndOtherErrorsAreShown) {
  auto dialogs = std::make_shared<FakeDialogs>();
  gui::ScreenServices fake;
  fake.services.dialogs = dialogs;
  ScopedValue services(gui::ModuleServices(), fake);
  gui::RunHandler([] { throw shared::Abort(); });
  gui::RunHandler([] { throw shared::ServerFailureError("already reported"); });
  EXPECT_TRUE(dialogs->shown.empty());
  gui::RunHandler([] { throw ConnectionError("translation server at 127.0.0.1:1: connection refused"); });
  gui::RunHandler([] { throw FileError("/src/A.dfm: cannot open: Permission denied"); });
  gui::RunHandler([] { throw FormatError("/src/A.dfm: line 3: object, inherited or inline expected"); });
  gui::RunHandler([] { throw std::runtime_error("other"); });
  // This product's failures: the Portuguese cause, the technical detail after it.
  EXPECT_EQ(dialogs->Texts(),
            (std::vector<std::string>{
                "O servidor de tradução não pôde ser alcançado.\nDetalhe técnico: translation server at "
                "127.0.0.1:1: connection refused",
                "O arquivo não pôde ser lido.\nDetalhe técnico: /src/A.dfm: cannot open: Permission denied",
                "O arquivo está malformado ou incompleto.\nDetalhe técnico: /src/A.dfm: line 3: object, "
                "inherited or inline expected",
                "other"}));
}

TEST(QtPortuguese, QtsOwnTextsArePortuguese) {
  ASSERT_EQ(gui::InstallQtPortuguese(*QCoreApplication::instance()), gui::QtTranslation::Loaded)
      << "qtbase_pt_BR.qm missing (qt6-translations-l10n)";
  // The unfold button of a message box with details.
  gui::QtDialogs dialogs;
  BoxAnswerer answer("OK");
  dialogs.ShowDetailed("Todos os arquivos foram importados com sucesso!", "Arquivos lidos: 1\n",
                       shared::MsgType::Confirmation, shared::MsgButtons::Ok);
  EXPECT_FALSE(answer.buttons.contains("Show Details...")) << answer.buttons.join(", ").toStdString();
  EXPECT_TRUE(answer.buttons.filter("Mostrar").size() == 1) << answer.buttons.join(", ").toStdString();
  // The directory chooser and the standard buttons.
  for (auto [context, text] : {std::pair{"QFileDialog", "Directory:"}, std::pair{"QFileDialog", "&Choose"},
                               std::pair{"QPlatformTheme", "Cancel"}, std::pair{"QLineEdit", "&Copy"},
                               std::pair{"QAbstractFileIconProvider", "Folder"}})
    EXPECT_NE(QCoreApplication::translate(context, text), QString::fromLatin1(text)) << context << " " << text;
}

TEST(QtBusyIndicator, TheCancelButtonTakesClicksThroughTheOverlay) {
  QWidget window;
  window.resize(400, 300);
  auto* cancel = new QPushButton("Cancelar", &window);
  cancel->setGeometry(300, 250, 80, 30);
  cancel->setProperty(gui::kPassesBusyOverlay, true);
  auto* other = new QPushButton("Outro", &window);
  other->setGeometry(10, 250, 80, 30);
  window.show();
  gui::QtBusyIndicator busy;
  busy.Show(static_cast<QWidget*>(&window), shared::ShowAviKind::Transfer);
  ASSERT_NE(busy.Overlay(), nullptr);
  // Qt delivers a click to the widget childAt finds at its position.
  EXPECT_EQ(window.childAt(cancel->geometry().center()), cancel);
  EXPECT_EQ(window.childAt(other->geometry().center()), busy.Overlay());
  window.resize(500, 400);
  cancel->move(400, 350);
  QElapsedTimer waited;  // the overlay follows the button at its next frame
  for (waited.start(); waited.elapsed() < 200;) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(window.childAt(cancel->geometry().center()), cancel);
  EXPECT_EQ(window.childAt(QPoint(310, 265)), busy.Overlay());
  busy.Hide();
}

}  // namespace
}  // namespace trd::test
