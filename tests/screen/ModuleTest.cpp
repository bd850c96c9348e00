// The built module, loaded as the host loads it: IniProc through dlsym,
// talking HTTP to a scripted translation server, inside a host-like main
// window.
#include <dlfcn.h>
#include <httplib.h>
#include <stdlib.h>

#include <QComboBox>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QTimer>
#include <mutex>
#include <thread>

#include "ScreenTest.h"
#include "shared/gui/Host.h"
#include "shared/gui/QtDialogs.h"

namespace trd::test {
namespace {

class ScriptedServer {
 public:
  ScriptedServer() {
    http_.Post("/call", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard lock(mutex_);
      res.set_content(server_.Handle(req.body), "application/json");
    });
    port_ = http_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { http_.listen_after_bind(); });
  }
  ~ScriptedServer() {
    http_.stop();
    thread_.join();
  }
  int Port() const { return port_; }
  int Calls(const std::string& method) {
    std::lock_guard lock(mutex_);
    return server_.calls[method];
  }

 private:
  httplib::Server http_;
  std::mutex mutex_;
  FakeServer server_;
  int port_ = -1;
  std::thread thread_;
};

// The module shows real message boxes; none is expected. Any that appears is
// recorded and dismissed so that the test cannot hang.
class UnexpectedBoxes {
 public:
  UnexpectedBoxes() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
          texts << box->text();
          box->done(0);
        }
    });
    timer_.start(20);
  }
  QStringList texts;

 private:
  QTimer timer_;
};

TEST(Module, IniProcOpensOneChildWindowAndANewOneAfterClosing) {
  ScriptedServer server;
  ASSERT_GT(server.Port(), 0);
  ScopedEnv address("TRD_SERVER", "http://127.0.0.1:" + std::to_string(server.Port()));

  QMainWindow host;
  host.setObjectName(gui::kHostObjectName);
  auto* area = new QMdiArea(&host);
  host.setCentralWidget(area);
  host.resize(1200, 800);
  host.show();
  UnexpectedBoxes boxes;

  void* module = dlopen(TRD_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto ini_proc = reinterpret_cast<void (*)()>(dlsym(module, "IniProc"));
  ASSERT_NE(ini_proc, nullptr);
  EXPECT_EQ(dlsym(module, "_ZN3trd3gui14ModuleServicesEv"), nullptr) << "only IniProc is exported";

  ini_proc();
  ASSERT_EQ(area->subWindowList().size(), 1);
  QMdiSubWindow* sub = area->subWindowList().first();
  EXPECT_EQ(sub->widget()->objectName(), "frmLeDfmRel");
  EXPECT_EQ(sub->geometry(), QRect(240, 164, 852, 553));
  auto* idioma = sub->widget()->findChild<QComboBox*>("cbbIdioma");
  ASSERT_NE(idioma, nullptr);
  EXPECT_EQ(idioma->count(), 2);

  sub->showMinimized();
  ini_proc();
  EXPECT_EQ(area->subWindowList().size(), 1);
  EXPECT_FALSE(sub->isMinimized());
  EXPECT_EQ(server.Calls("GetIdiLeDfm"), 1);

  EXPECT_TRUE(sub->close());
  Flush();
  EXPECT_TRUE(area->subWindowList().isEmpty());
  ini_proc();
  ASSERT_EQ(area->subWindowList().size(), 1);
  EXPECT_EQ(server.Calls("GetIdiLeDfm"), 2);

  area->closeAllSubWindows();
  Flush();
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("; ").toStdString();
}

}  // namespace
}  // namespace trd::test
