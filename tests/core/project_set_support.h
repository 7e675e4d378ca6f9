// Writes small allocation and project files and builds a project set over
// fakes, with the registry in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/opc_project.h"
#include "fakes/fake_message_boxes.h"
#include "fakes/fake_tag_environment.h"
#include "fakes/temp_folder.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "settings/applied_settings.h"

struct TestSocket {
  int nad = 0;
  bool input = true;
  std::vector<std::string> vars;
};

struct TestProgram {
  TestProgram(std::string u, std::vector<int> n, std::string programName, std::vector<std::string> v,
              std::vector<TestSocket> s = {}, int masterNAD = -1)
      : unit(std::move(u)), nads(std::move(n)), name(std::move(programName)), vars(std::move(v)),
        sockets(std::move(s)), master(masterNAD) {}
  std::string unit;
  std::vector<int> nads;
  std::string name;               // empty: no [Program] Name
  std::vector<std::string> vars;  // "type name"
  std::vector<TestSocket> sockets;
  int master;
};

inline int TypeSize(const std::string& type) {
  if (type == "bit") return 1;
  if (type == "word" || type == "int") return 2;
  return 4;
}

// Writes <folder>/<name>.alc and, unless told not to, the matching .cyp.
inline std::string WriteProject(const std::string& folder, const std::string& name,
                                const std::vector<TestProgram>& programs, bool withProjectFile = true) {
  std::string alc, cyp;
  cyp += "##PROJECT_GLOBAL_BEGIN\r\n[Programs]\r\nCount=" + std::to_string(programs.size()) +
         "\r\n##PROJECT_GLOBAL_END\r\n";
  for (size_t k = 0; k < programs.size(); ++k) {
    const TestProgram& p = programs[k];
    alc += ";cpu " + p.unit;
    for (int nad : p.nads) alc += " " + std::to_string(nad);
    alc += "\r\n;addr seg count offset stride scope type name comment\r\n";
    int address = 0x10;
    for (const std::string& v : p.vars) {
      const std::string type = v.substr(0, v.find(' '));
      const std::string var = v.substr(v.find(' ') + 1);
      char line[200];
      std::snprintf(line, sizeof line, "%04X M 1 0 0 global %s %s comment of %s\r\n", address, type.c_str(),
                    var.c_str(), var.c_str());
      alc += line;
      address += TypeSize(type);
    }
    const std::string n = std::to_string(k + 1);
    cyp += "##PROGRAM_BEGIN_" + n + "\r\n#PROJECT_OPTIONS_BEGIN\r\n";
    if (!p.name.empty()) cyp += "[Program]\r\nName=" + p.name + "\r\n";
    if (p.master >= 0) cyp += "[Net]\r\nMasterNAD=" + std::to_string(p.master) + "\r\n";
    for (size_t s = 0; s < p.sockets.size(); ++s) {
      char head[64];
      std::snprintf(head, sizeof head, "[Socket%02d]\r\n", static_cast<int>(s));
      cyp += head;
      cyp += "NAD=" + std::to_string(p.sockets[s].nad) + "\r\nDirection=" + (p.sockets[s].input ? "0" : "1") + "\r\n";
      for (size_t v = 0; v < p.sockets[s].vars.size(); ++v) {
        char line[128];
        std::snprintf(line, sizeof line, "Var%02d=%s\r\n", static_cast<int>(v), p.sockets[s].vars[v].c_str());
        cyp += line;
      }
    }
    cyp += "#PROJECT_OPTIONS_END\r\n##PROGRAM_END_" + n + "\r\n";
  }
  alc += ";end\r\n";
  const std::string base = folder + "/" + name;
  std::ofstream(base + ".alc", std::ios::binary) << alc;
  if (withProjectFile) std::ofstream(base + ".cyp", std::ios::binary) << cyp;
  return base + ".alc";
}

// Moves a file's modification stamp on, as an editor saving it would.
inline void Touch(const std::string& path) {
  namespace fs = std::filesystem;
  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(2));
}

class RecordingProjectHooks final : public IProjectSetHooks {
 public:
  void CreateTransport(TCommDriver&, bool) override { ++created; }
  void FreeTransport(TCommDriver&) override { ++freed; }
  void StartTransport(TCommDriver&) override { ++started; }
  void StopTransport(TCommDriver&) override { ++stopped; }
  void ProbeSerialPorts() override { ++startRounds; }
  void Wait(uint32_t) override { ++stopRounds; }
  int created = 0, freed = 0, started = 0, stopped = 0, startRounds = 0, stopRounds = 0;
};

class ProjectSetTest : public ::testing::Test {
 protected:
  ProjectSetTest() : previous_(GetRegistryLocation()) {
    std::filesystem::create_directories(tmp.Path() + "/reg");
    SetRegistryLocation(RegistryLocation::InFolder(tmp.Path() + "/reg"));
  }
  ~ProjectSetTest() override {
    set.reset();
    SetRegistryLocation(previous_);
  }

  TOPCProject& Make() {
    set = std::make_unique<TOPCProject>(TProjectSetContext{applied, boxes, clock, nullptr, &hooks});
    return *set;
  }
  TOPCProject& Load(const std::vector<std::string>& files) {
    if (!set) Make();
    set->FProjectFiles = files;
    set->Reload(false);
    return *set;
  }

  FakeTagEnvironment env;
  TempFolder tmp;
  FakeMessageBoxes boxes;
  FakeClock clock;
  TAppliedSettings applied;
  RecordingProjectHooks hooks;
  std::unique_ptr<TOPCProject> set;

 private:
  RegistryLocation previous_;
};
