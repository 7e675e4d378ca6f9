#include "ui/server_runner.h"

#include "core/controller.h"
#include "platform/signals.h"
#include "platform/single_instance.h"

TServerRunner::TServerRunner(TMainController& controller, TSingleInstance* instance, TShutdownSignals* shutdownSignals)
    : FController(controller), FInstance(instance), FSignals(shutdownSignals) {
  FMaster = new QTimer(&FContext);
  FMaster->setTimerType(Qt::PreciseTimer);
  FMaster->setInterval(static_cast<int>(kMasterTimerInterval));
  QObject::connect(FMaster, &QTimer::timeout, &FContext, [this] { FController.MasterTimerTick(); });
  FView = new QTimer(&FContext);
  FView->setInterval(static_cast<int>(kViewTimerInterval));
  QObject::connect(FView, &QTimer::timeout, &FContext, [this] { FController.ViewTimerTick(); });
  FBlink = new QTimer(&FContext);
  FBlink->setInterval(static_cast<int>(kBlinkTimerInterval));
  QObject::connect(FBlink, &QTimer::timeout, &FContext, [this] { FController.BlinkTimerTick(); });

  FController.Queue().SetWakeHook([this] { ScheduleDispatch(); });
  if (!FController.Queue().Empty()) ScheduleDispatch();

  if (FSignals != nullptr && FSignals->Ok()) {
    FSignalNotifier = new QSocketNotifier(static_cast<qintptr>(FSignals->Fd()), QSocketNotifier::Read, &FContext);
    QObject::connect(FSignalNotifier, &QSocketNotifier::activated, &FContext, [this] {
      if (FSignals->TakePending()) FController.SignalShutdown();
    });
  }
  if (FInstance != nullptr && FInstance->ListenFd() >= 0) {
    FInstance->SetHandler([this](uint32_t msg, const std::string& payload, int64_t lParam) {
      return FController.HandleInstanceMessage(msg, payload, lParam);
    });
    FListenNotifier =
        new QSocketNotifier(static_cast<qintptr>(FInstance->ListenFd()), QSocketNotifier::Read, &FContext);
    QObject::connect(FListenNotifier, &QSocketNotifier::activated, &FContext, [this] { ServeInstance(); });
  }
  FMaster->start();
  FView->start();
  FBlink->start();
}

TServerRunner::~TServerRunner() {
  FController.Queue().SetWakeHook({});
  if (FInstance != nullptr) FInstance->SetHandler({});
}

void TServerRunner::ScheduleDispatch() {
  if (FDispatchScheduled) return;
  FDispatchScheduled = true;
  QMetaObject::invokeMethod(
      &FContext,
      [this] {
        FDispatchScheduled = false;
        FController.DispatchMessages();
        if (!FController.Queue().Empty()) ScheduleDispatch();
      },
      Qt::QueuedConnection);
}

void TServerRunner::ServeInstance() {
  FInstance->Serve();
  SyncConnectionNotifiers();
}

void TServerRunner::SyncConnectionNotifiers() {
  std::map<int, QSocketNotifier*> kept;
  for (int fd : FInstance->ConnectionFds()) {
    auto it = FConnectionNotifiers.find(fd);
    if (it != FConnectionNotifiers.end()) {
      kept.emplace(fd, it->second);
      FConnectionNotifiers.erase(it);
      continue;
    }
    auto* n = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read, &FContext);
    QObject::connect(n, &QSocketNotifier::activated, &FContext, [this] { ServeInstance(); });
    kept.emplace(fd, n);
  }
  // Notifiers of closed connections; the descriptor number may come back.
  for (auto& [fd, n] : FConnectionNotifiers) {
    n->setEnabled(false);
    n->deleteLater();
  }
  FConnectionNotifiers = std::move(kept);
}
