// The operator's main window: menus, toolbar, project tree and tag table
// areas, status bar and tray icon. The controller decides; this shows.
#pragma once

#include <QMainWindow>
#include <map>
#include <string>

#include "core/main_hooks.h"

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTreeWidget;
class QWidget;
class TMainController;

class TfrmMain final : public QMainWindow, public TMainWindowView {
 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  // Set once, right after the controller is made (it needs this view).
  void SetController(TMainController* controller);

  // Actions by their component names ("acConnect", "mnuServerShutDown"...),
  // so later work can hook its handlers up.
  QAction* Action(const std::string& name) const;
  QSystemTrayIcon* TrayIcon() const { return FTray; }
  QMenu* TrayMenu() const { return FTrayMenu; }
  QTreeWidget* ProjectTree() const { return FProjectTree; }
  QWidget* WorkArea() const { return FWork; }
  QWidget* LegendPanel() const { return FLegend; }
  bool MinimizeToTray() const { return FMinimizeToTray; }

  // TMainWindowView
  void SetCaption(const std::string& caption) override;
  void SetTrayIconVisible(bool visible) override;
  void SetMinimizeToTray(bool on) override { FMinimizeToTray = on; }
  void MinimizeApplication() override;
  void ShowServer() override;
  void SetTrayShutdownEnabled(bool enabled) override;
  void EndMessageLoop() override;
  void EndProcessNow() override;
  void SetBounds(const TWindowBounds& bounds) override;
  void SetWindowState(TWindowState state) override;
  TWindowState WindowState() const override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QAction* AddAction(const char* name, const char* caption, const QKeySequence& shortcut = {});
  void BuildMenus();
  void BuildToolBar();
  void BuildPanels();
  void BuildTray();

  TMainController* FController = nullptr;  // not owned
  std::map<std::string, QAction*> FActions;  // owned by the window (Qt parent)
  QSystemTrayIcon* FTray = nullptr;
  QMenu* FTrayMenu = nullptr;
  QTreeWidget* FProjectTree = nullptr;
  QWidget* FWork = nullptr;
  QWidget* FLegend = nullptr;
  bool FMinimizeToTray = false;
};
