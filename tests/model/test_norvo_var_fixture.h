// A PLC with a fake environment, and helpers to fill its tag list the way the
// project loader does (array tag first, its elements right after).
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_tag_environment.h"
#include "model/norvo_model.h"
#include "model/norvo_var.h"

class TagTest : public ::testing::Test {
 protected:
  TagTest() { plc.FName = "PLC_unit.5"; }

  TNorvoVar& Add(const std::string& name, uint8_t code, TNorvoVar* head = nullptr) {
    plc.FTags.push_back(std::make_unique<TNorvoVar>(&plc, name));
    TNorvoVar& t = *plc.FTags.back();
    t.FVarType = code;
    t.FArrayHead = head;
    return t;
  }

  // The array tag followed by `count` elements of `elemCode`.
  TNorvoVar& AddArray(const std::string& name, uint8_t arrayCode, uint8_t elemCode, int count) {
    TNorvoVar& head = Add(name, arrayCode);
    for (int i = 0; i < count; ++i) Add(name + "[" + std::to_string(i) + "]", elemCode, &head);
    return head;
  }

  std::vector<TNorvoVar*> Elements(const TNorvoVar& head) {
    std::vector<TNorvoVar*> out;
    head.ForEachElement([&](TNorvoVar& e) { out.push_back(&e); });
    return out;
  }

  FakeTagEnvironment env;
  TNorvoModel plc;
};

inline int32_t RealBits(float f) { return std::bit_cast<int32_t>(f); }
