// Wires the controller to the Qt event loop (QApplication or, headless,
// QCoreApplication): the three timers, queued calls, the shutdown signals
// and the instance socket.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>

class TMainController;
class TSingleInstance;
class TShutdownSignals;

class TServerRunner {
 public:
  // `instance` and `shutdownSignals` may be null; all must outlive the runner.
  TServerRunner(TMainController& controller, TSingleInstance* instance, TShutdownSignals* shutdownSignals);
  ~TServerRunner();
  TServerRunner(const TServerRunner&) = delete;
  TServerRunner& operator=(const TServerRunner&) = delete;

 private:
  void ScheduleDispatch();
  void ServeInstance();
  void SyncConnectionNotifiers();

  TMainController& FController;
  TSingleInstance* FInstance;
  TShutdownSignals* FSignals;
  QObject FContext;  // owns the timers and notifiers below (Qt parent)
  QTimer* FMaster;
  QTimer* FView;
  QTimer* FBlink;
  QSocketNotifier* FSignalNotifier = nullptr;
  QSocketNotifier* FListenNotifier = nullptr;
  std::map<int, QSocketNotifier*> FConnectionNotifiers;
  bool FDispatchScheduled = false;
};
