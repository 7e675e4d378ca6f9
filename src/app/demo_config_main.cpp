// Prepares the demo's registry: norvoopc-demo-config --project FILE
// [--port N] [--force]. The registry folder follows NORVOOPC_REGISTRY_DIR.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/demo_config.h"
#include "platform/registry.h"

int main(int argc, char** argv) {
  TDemoConfig config;
  bool force = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--project" && i + 1 < argc) {
      std::error_code ec;
      const auto path = std::filesystem::absolute(argv[++i], ec);
      config.ProjectFile = ec ? std::string(argv[i]) : path.string();
    } else if (arg == "--port" && i + 1 < argc) {
      config.RemotePort = std::atoi(argv[++i]);
    } else if (arg == "--force") {
      force = true;
    } else {
      std::cerr << "usage: norvoopc-demo-config --project FILE [--port N] [--force]" << std::endl;
      return 2;
    }
  }
  if (config.ProjectFile.empty() || config.RemotePort <= 0 || config.RemotePort > 65535) {
    std::cerr << "norvoopc-demo-config: a project file and a port 1-65535 are needed" << std::endl;
    return 2;
  }
  SetRegistryLocation(RegistryLocation::FromEnvironment());
  std::string error;
  if (!WriteDemoConfiguration(config, force, error)) {
    std::cerr << "norvoopc-demo-config: " << error << std::endl;
    return 1;
  }
  return 0;
}
