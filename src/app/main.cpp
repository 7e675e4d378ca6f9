// Program entry of the NorvoOPC server.
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/server_engine.h"
#include "common/program_folder.h"
#include "core/command_line.h"
#include "core/controller.h"
#include "core/main_instance.h"
#include "opc/opc_server_collection.h"
#include "opc/server_registration.h"
#include "platform/adapters.h"
#include "platform/com_server.h"
#include "platform/registry.h"
#include "platform/signals.h"
#include "platform/single_instance.h"
#include "ui/headless_view.h"
#include "ui/main_window.h"
#include "ui/qt_message_boxes.h"
#include "ui/server_runner.h"

namespace {

class TOpcRegistration final : public TRegistrationHooks {
 public:
  void RegisterServer(const std::string& progId) override { Report(::RegisterServer(progId)); }
  void UnregisterServer(const std::string& progId) override { Report(::UnregisterServer(progId)); }

 private:
  static void Report(const TRegistrationResult& r) {
    if (!r.error.empty()) std::cerr << r.error << std::endl;
  }
};

class TSocketLink final : public TInstanceLink {
 public:
  explicit TSocketLink(TInstanceClient& client) : FClient(client) {}
  std::optional<int64_t> Send(uint32_t msg, const std::string& payload, int64_t lParam) override {
    return FClient.Send(msg, payload, lParam);
  }
  bool Post(uint32_t msg) override { return FClient.Post(msg); }

 private:
  TInstanceClient& FClient;
};

bool HaveDisplay() {
  const char* qpa = std::getenv("QT_QPA_PLATFORM");
  if (qpa != nullptr && *qpa != '\0') return true;
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x != nullptr && *x != '\0') || (w != nullptr && *w != '\0');
}

std::string CurrentDir() {
  std::error_code ec;
  auto p = std::filesystem::current_path(ec);
  return ec ? std::string("/") : p.string();
}

// A second start hands its command line to the running server; answers true
// when this process must end.
bool HandedToRunningServer(TSingleInstance& instance, const std::vector<std::string>& args) {
  std::string error;
  const auto folder = InstanceRuntimeFolder(&error);
  if (!folder) {
    std::cerr << "NorvoOPC: no single-instance guard: " << error << std::endl;
    return false;
  }
  switch (instance.Acquire(*folder)) {
    case TSingleInstance::TResult::First:
      return false;
    case TSingleInstance::TResult::Failed:
      std::cerr << "NorvoOPC: no single-instance guard: " << instance.LastError() << std::endl;
      return false;
    case TSingleInstance::TResult::Second:
      break;
  }
  TInstanceClient client;
  if (client.Connect(*folder)) {
    TSocketLink link(client);
    TMainInstance::HandOff(link, args, CurrentDir());
  }
  return true;  // the lock is held: a second instance is never allowed
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  SetRegistryLocation(RegistryLocation::FromEnvironment());

  // The COM framework's step comes first; REGSERVER/UNREGSERVER end here.
  DeclareServerClasses(ComServer());
  RegisterDA2Factory(ComServer(), ServerCollection());
  const TComStartupResult startup = ComServer().Startup(args);
  if (startup.exitNow) {
    if (!startup.ok) std::cerr << startup.error << std::endl;
    return 0;
  }

  TStartFlags flags;
  flags.Automation = startup.automation;
  TOpcRegistration registration;
  if (ParseCommandLine(args, flags, registration)) return 0;

  TSingleInstance instance;
  if (HandedToRunningServer(instance, args)) return 0;

  TShutdownSignals shutdownSignals;
  if (!flags.Headless && !HaveDisplay()) {
    std::cerr << "NorvoOPC: no display; running without a window (--headless)" << std::endl;
    flags.Headless = true;
  }

  SystemClock clock;
  TSystemNetworkAdapters adapters;
  const std::string programFolder = ProgramFolder();
  TServerEngineOptions options;
  options.DataFolder = programFolder;
  {
    std::string error;
    if (auto runtime = InstanceRuntimeFolder(&error)) options.RuntimeFolder = *runtime;
  }
  // Boxes come before the engine, and headless ones also write to its
  // session log once it exists.
  TServerEngine* sessionLogTarget = nullptr;
  auto logLine = [&sessionLogTarget](const std::string& line) {
    if (sessionLogTarget != nullptr) sessionLogTarget->WriteSessionLog(line);
  };

  if (flags.Headless) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(kApplicationTitle);
    THeadlessView view;
    THeadlessMessageBoxes boxes(std::cerr, logLine);
    TServerEngine engine(clock, boxes, ServerCollection(), options);
    sessionLogTarget = &engine;
    TMainController controller(clock, boxes, view, engine, adapters, flags, programFolder);
    engine.Attach(controller);
    ComServer().SetQuitHandler([&controller] { controller.LastServerObjectReleased(); });
    {
      TServerRunner runner(controller, &instance, &shutdownSignals, &engine);
      controller.FormShow();
      QCoreApplication::exec();
    }
    ComServer().SetQuitHandler({});
    controller.FormDestroy();
    engine.Detach();
    return 0;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(kApplicationTitle);
  QApplication::setQuitOnLastWindowClosed(false);  // the tray keeps the server
  TfrmMain window;
  TQtMessageBoxes boxes(&window);
  TServerEngine engine(clock, boxes, ServerCollection(), options);
  sessionLogTarget = &engine;
  TMainController controller(clock, boxes, window, engine, adapters, flags, programFolder);
  engine.Attach(controller);
  window.SetController(&controller);
  ComServer().SetQuitHandler([&controller] { controller.LastServerObjectReleased(); });
  {
    TServerRunner runner(controller, &instance, &shutdownSignals, &engine);
    window.show();
    QApplication::exec();
  }
  ComServer().SetQuitHandler({});
  controller.FormDestroy();
  window.SetController(nullptr);
  engine.Detach();
  return 0;
}
