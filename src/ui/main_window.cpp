#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdlib>

#include "core/controller.h"

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
  // Other programs find the server's window by this name.
  setObjectName("TfrmMainNorvoOPCServer");
  resize(869, 581);
  BuildMenus();
  BuildToolBar();
  BuildPanels();
  BuildTray();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::SetController(TMainController* controller) {
  FController = controller;
  if (!FController) return;
  connect(Action("acCloseMainWindow"), &QAction::triggered, this, [this] { FController->acCloseMainWindowExecute(); });
  connect(Action("mnuServerShutDown"), &QAction::triggered, this, [this] { FController->mnuServerShutDownClick(); });
  connect(Action("mnuServerShutdown1"), &QAction::triggered, this, [this] { FController->mnuServerShutDownClick(); });
  connect(Action("ShowServer1"), &QAction::triggered, this, [this] { FController->ShowServer1Click(); });
  connect(Action("acConnect"), &QAction::triggered, this, [this] {
    FController->acConnectExecute();
    Action("acConnect")->setChecked(FController->CommActive());
  });
  connect(FTray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) FController->ShowServer1Click();
  });
}

QAction* TfrmMain::Action(const std::string& name) const {
  auto it = FActions.find(name);
  return it == FActions.end() ? nullptr : it->second;
}

QAction* TfrmMain::AddAction(const char* name, const char* caption, const QKeySequence& shortcut) {
  auto* a = new QAction(caption, this);
  a->setObjectName(name);
  if (!shortcut.isEmpty()) a->setShortcut(shortcut);
  FActions[name] = a;
  return a;
}

void TfrmMain::BuildMenus() {
  AddAction("acConnect", "Connect", QKeySequence("Ctrl+D"))->setCheckable(true);
  AddAction("acAddProject", "Add Project", QKeySequence("Ctrl+O"));
  AddAction("acDeleteProject", "Delete Project");
  AddAction("acRefreshScreen", "Refresh Screen", QKeySequence("F11"));
  AddAction("acRefreshTag", "Refresh Tag", QKeySequence("F9"));
  AddAction("acRefreshPLC", "Refresh PLC", QKeySequence("F10"));
  AddAction("acSetValue", "Set Value");
  AddAction("acCloseMainWindow", "Close Window", QKeySequence("Alt+F4"));
  AddAction("acViewStyleHex", "View as Hex");
  AddAction("acViewStyleDec", "View as Dec");
  AddAction("acReset", "Reset Sys Counters");
  AddAction("acAddMonitor", "New Monitor", QKeySequence("Ctrl+N"));
  AddAction("acDeleteMonitor", "Delete Monitor", QKeySequence("Ctrl+F4"));
  AddAction("acAddSelectedVarToMonitor", "Add to Monitor", QKeySequence("Ctrl+M"));
  AddAction("acDeleteVarFromMonitor", "Remove from Monitor", QKeySequence("Del"));
  AddAction("acSelectAll", "Select All", QKeySequence("Ctrl+A"));
  AddAction("mnuServerShutDown", "Server Shutdown", QKeySequence("Ctrl+Alt+F4"));
  AddAction("mnuSettings", "Settings", QKeySequence("F5"));
  AddAction("mnuUserManual", "User Manual...");
  AddAction("mnuAbout", "About...");

  QMenu* file = menuBar()->addMenu("File");
  file->addAction(Action("acAddProject"));
  file->addAction(Action("acDeleteProject"));
  file->addSeparator();
  file->addAction(Action("acCloseMainWindow"));
  file->addAction(Action("mnuServerShutDown"));

  QMenu* monitor = menuBar()->addMenu("Monitor");
  monitor->addAction(Action("acAddMonitor"));
  monitor->addAction(Action("acDeleteMonitor"));
  monitor->addSeparator();
  monitor->addAction(Action("acAddSelectedVarToMonitor"));
  monitor->addMenu("Add to Monitor")->setObjectName("mnuMainAddToMonitor");
  monitor->addAction(Action("acDeleteVarFromMonitor"));

  QMenu* tools = menuBar()->addMenu("Tools");
  tools->addAction(Action("acConnect"));
  tools->addSeparator();
  tools->addAction(Action("acRefreshTag"));
  tools->addAction(Action("acRefreshPLC"));
  tools->addAction(Action("acRefreshScreen"));
  tools->addSeparator();
  tools->addAction(Action("acSetValue"));
  tools->addAction(Action("acSelectAll"));
  tools->addAction(Action("acReset"));
  tools->addSeparator();
  tools->addAction(Action("mnuSettings"));

  QMenu* help = menuBar()->addMenu("Help");
  help->addAction(Action("mnuUserManual"));
  help->addAction(Action("mnuAbout"));
}

void TfrmMain::BuildToolBar() {
  QToolBar* bar = addToolBar("ToolBar1");
  bar->setObjectName("ToolBar1");
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  bar->addAction(Action("acConnect"));
  bar->addSeparator();
  bar->addAction(Action("acAddProject"));
  bar->addAction(Action("acAddMonitor"));
  bar->addAction(Action("acAddSelectedVarToMonitor"));
  bar->addSeparator();
  bar->addAction(Action("acRefreshTag"));
  bar->addAction(Action("acRefreshPLC"));
  bar->addAction(Action("acSetValue"));
  bar->addSeparator();
  bar->addAction(AddAction("tbTextColor", "Tag Color"));
  bar->addAction(AddAction("tbMoveUp", "Move Up"));
  bar->addAction(AddAction("tbMoveDown", "Move Down"));
}

void TfrmMain::BuildPanels() {
  auto* split = new QSplitter(Qt::Horizontal, this);
  split->setObjectName("Splitter1");
  auto* left = new QWidget(split);
  left->setObjectName("pnLeft");
  left->setMinimumWidth(20);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  FProjectTree = new QTreeWidget(left);
  FProjectTree->setObjectName("vtProjectTree");
  FProjectTree->setHeaderHidden(true);
  leftLayout->addWidget(FProjectTree, 1);
  FLegend = new QWidget(left);
  FLegend->setObjectName("pnLegend");
  FLegend->setFixedHeight(271);
  auto* legendLayout = new QVBoxLayout(FLegend);
  legendLayout->addWidget(new QLabel(" Legend", FLegend));
  leftLayout->addWidget(FLegend);
  FWork = new QWidget(split);
  FWork->setObjectName("pnWork");
  split->addWidget(left);
  split->addWidget(FWork);
  split->setSizes({221, 644});
  setCentralWidget(split);
  statusBar()->setObjectName("StatusBar");
}

void TfrmMain::BuildTray() {
  FTrayMenu = new QMenu(this);
  FTrayMenu->setObjectName("pmTrayMenu");
  QAction* show = AddAction("ShowServer1", "Show Server");
  QFont bold = show->font();
  bold.setBold(true);
  show->setFont(bold);  // the default entry, also run by a double click
  FTrayMenu->addAction(show);
  FTrayMenu->setDefaultAction(show);
  FTrayMenu->addAction(AddAction("mnuServerShutdown1", "Server Shutdown"));
  FTray = new QSystemTrayIcon(this);
  FTray->setContextMenu(FTrayMenu);
  FTray->setIcon(windowIcon().isNull() ? QApplication::style()->standardIcon(QStyle::SP_ComputerIcon)
                                       : windowIcon());
}

void TfrmMain::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
  FTray->setToolTip(QString::fromStdString(caption));
}

void TfrmMain::SetTrayIconVisible(bool visible) { FTray->setVisible(visible); }

void TfrmMain::MinimizeApplication() {
  // Where the desktop has no tray the window is only minimised, so it can
  // always be brought back.
  if (FMinimizeToTray && QSystemTrayIcon::isSystemTrayAvailable()) {
    hide();
  } else {
    showMinimized();
  }
}

void TfrmMain::ShowServer() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TfrmMain::SetTrayShutdownEnabled(bool enabled) { Action("mnuServerShutdown1")->setEnabled(enabled); }

void TfrmMain::EndMessageLoop() {
  FTray->hide();
  hide();
  QCoreApplication::quit();
}

void TfrmMain::EndProcessNow() { std::_Exit(0); }

void TfrmMain::SetBounds(const TWindowBounds& bounds) {
  move(bounds.Left, bounds.Top);
  resize(bounds.Width, bounds.Height);
}

void TfrmMain::SetWindowState(TWindowState state) {
  switch (state) {
    case TWindowState::Normal: setWindowState(Qt::WindowNoState); break;
    case TWindowState::Minimized: setWindowState(Qt::WindowMinimized); break;
    case TWindowState::Maximized: setWindowState(Qt::WindowMaximized); break;
  }
}

TWindowState TfrmMain::WindowState() const {
  if (isMinimized()) return TWindowState::Minimized;
  if (isMaximized()) return TWindowState::Maximized;
  return TWindowState::Normal;
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (!FController || FController->Closed()) {
    event->accept();
    return;
  }
  event->ignore();  // the controller decides; an allowed close ends the loop
  FController->acCloseMainWindowExecute();
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (FController && !event->spontaneous()) FController->FormShow();
}

void TfrmMain::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (FController && WindowState() == TWindowState::Normal) FController->Position().WindowMoved(x(), y());
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (FController) FController->Position().WindowResized(width(), height(), WindowState());
}
