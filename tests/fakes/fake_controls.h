// The settings dialog's controls as plain maps.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "settings/settings.h"

class FakeSettingsControls final : public ISettingsControls {
 public:
  std::map<std::string, bool> checked;
  std::map<std::string, std::string> texts;
  std::map<std::string, int32_t> indexes;

  bool Checked(const std::string& name) const override {
    const auto it = checked.find(name);
    return it != checked.end() && it->second;
  }
  void SetChecked(const std::string& name, bool value) override { checked[name] = value; }
  std::string Text(const std::string& name) const override {
    const auto it = texts.find(name);
    return it == texts.end() ? std::string() : it->second;
  }
  void SetText(const std::string& name, const std::string& text) override { texts[name] = text; }
  int32_t ItemIndex(const std::string& name) const override {
    const auto it = indexes.find(name);
    return it == indexes.end() ? -1 : it->second;
  }
  void SetItemIndex(const std::string& name, int32_t index) override { indexes[name] = index; }
};
