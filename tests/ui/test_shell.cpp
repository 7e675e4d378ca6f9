#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <sstream>
#include <vector>

#include "ui/headless_view.h"
#include "ui/main_window.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_ui";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

}  // namespace

TEST(HeadlessBoxes, GoToStandardErrorAndTheLogAndLetTheRequestGoOn) {
  std::ostringstream err;
  std::vector<std::string> log;
  THeadlessMessageBoxes boxes(err, [&](const std::string& line) { log.push_back(line); });
  boxes.ShowError("Allocation file does not exist ");
  EXPECT_EQ(boxes.AskYesNo("Clients connected to OPC server. Do you want to exit?"), TMsgAnswer::Yes);
  EXPECT_EQ(err.str(),
            "Error: Allocation file does not exist \nClients connected to OPC server. Do you want to exit? Yes\n");
  EXPECT_EQ(log.size(), 2u);
}

TEST(MainWindow, TrayMenuAndWindowIdentity) {
  App();
  TfrmMain w;
  EXPECT_EQ(w.objectName(), "TfrmMainNorvoOPCServer");
  const auto entries = w.TrayMenu()->actions();
  ASSERT_EQ(entries.size(), 2);
  EXPECT_EQ(entries[0]->text(), "Show Server");
  EXPECT_EQ(w.TrayMenu()->defaultAction(), entries[0]);
  EXPECT_EQ(entries[1]->text(), "Server Shutdown");
  w.SetCaption("NorvoOPC Data Access Server");
  EXPECT_EQ(w.windowTitle(), "NorvoOPC Data Access Server");
  EXPECT_EQ(w.TrayIcon()->toolTip(), "NorvoOPC Data Access Server");
  w.SetTrayShutdownEnabled(false);
  EXPECT_FALSE(entries[1]->isEnabled());
  EXPECT_EQ(w.Action("acCloseMainWindow")->shortcut(), QKeySequence("Alt+F4"));
  EXPECT_EQ(w.Action("mnuServerShutDown")->shortcut(), QKeySequence("Ctrl+Alt+F4"));
}

TEST(MainWindow, WithoutASystemTrayACloseToTrayOnlyMinimises) {
  App();
  TfrmMain w;
  w.show();
  w.SetMinimizeToTray(true);
  w.MinimizeApplication();
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    EXPECT_FALSE(w.isVisible());
  } else {
    EXPECT_TRUE(w.isVisible());  // still reachable from the task bar
    EXPECT_TRUE(w.isMinimized());
  }
  w.ShowServer();
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(w.isMinimized());
}
