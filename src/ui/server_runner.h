// Wires the controller to the Qt event loop (QApplication or, headless,
// QCoreApplication): the three timers, queued calls, the shutdown signals
// and the instance socket; and, for the engine around it, the 25 ms group
// timer and watchers on the descriptors it names.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>

class IEventLoopWork;
class TMainController;
class TSingleInstance;
class TShutdownSignals;

class TServerRunner {
 public:
  // `instance`, `shutdownSignals` and `work` may be null; all must outlive
  // the runner.
  TServerRunner(TMainController& controller, TSingleInstance* instance, TShutdownSignals* shutdownSignals,
                IEventLoopWork* work = nullptr);
  ~TServerRunner();
  TServerRunner(const TServerRunner&) = delete;
  TServerRunner& operator=(const TServerRunner&) = delete;

 private:
  void ScheduleDispatch();
  void ServeInstance();
  void SyncConnectionNotifiers();
  // Watchers follow the engine's descriptors: ClosingFd's goes at once.
  void WatchChanged(int closingFd);
  void SyncWorkNotifiers();
  static void Drop(QSocketNotifier* n);

  TMainController& FController;
  TSingleInstance* FInstance;
  TShutdownSignals* FSignals;
  IEventLoopWork* FWork;
  QObject FContext;  // owns the timers and notifiers below (Qt parent)
  QTimer* FMaster;
  QTimer* FView;
  QTimer* FBlink;
  QTimer* FGroup = nullptr;
  QSocketNotifier* FSignalNotifier = nullptr;
  QSocketNotifier* FListenNotifier = nullptr;
  std::map<int, QSocketNotifier*> FConnectionNotifiers;
  std::map<int, QSocketNotifier*> FWorkNotifiers;
  bool FDispatchScheduled = false;
  bool FWorkSyncScheduled = false;
};
