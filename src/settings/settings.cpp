#include "settings/settings.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "common/message_box.h"
#include "platform/registry.h"

namespace {

std::string Trimmed(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return text.substr(b, e - b);
}

std::optional<int64_t> ParseInteger(const std::string& text) {
  const std::string t = Trimmed(text);
  if (t.empty()) return std::nullopt;
  const char* first = t.data();
  if (*first == '+') ++first;
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(first, t.data() + t.size(), value);
  if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return value;
}

std::string Lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

bool TSettingValue::AsBool() const {
  switch (GetKind()) {
    case Kind::Boolean: return std::get<bool>(FData);
    case Kind::Integer: return std::get<int64_t>(FData) != 0;
    case Kind::String: break;
  }
  const std::string text = Lower(Trimmed(std::get<std::string>(FData)));
  if (text == "true") return true;
  if (text == "false") return false;
  const auto number = ParseInteger(text);
  return number && *number != 0;
}

std::optional<int64_t> TSettingValue::TryInteger() const {
  switch (GetKind()) {
    case Kind::Boolean: return std::get<bool>(FData) ? -1 : 0;
    case Kind::Integer: return std::get<int64_t>(FData);
    case Kind::String: break;
  }
  return ParseInteger(std::get<std::string>(FData));
}

int32_t TSettingValue::AsInteger(int32_t fallback) const {
  const auto number = TryInteger();
  return number ? static_cast<int32_t>(*number) : fallback;
}

std::string TSettingValue::AsString() const {
  switch (GetKind()) {
    case Kind::Boolean: return std::get<bool>(FData) ? "True" : "False";
    case Kind::Integer: return std::to_string(std::get<int64_t>(FData));
    case Kind::String: break;
  }
  return std::get<std::string>(FData);
}

std::string SettIdValueName(int32_t id) { return "SettID" + std::to_string(id); }

TSettings::TSettings(IMessageBoxes& boxes, bool& registryWarningArmed)
    : FBoxes(&boxes), FWarningArmed(&registryWarningArmed) {}

void TSettings::AddControlSetting(const std::string& controlName, TControlKind kind, TSettingValue defaultValue) {
  RSettingDescriptor d;
  d.DefaultValue = std::move(defaultValue);
  d.Control = TSettingControl{controlName, kind};
  FDescriptors.push_back(std::move(d));
}

void TSettings::AddIdSetting(int32_t id, TSettingValue defaultValue) {
  RSettingDescriptor d;
  d.DefaultValue = std::move(defaultValue);
  d.SettID = id;
  FDescriptors.push_back(std::move(d));
}

void TSettings::LoadFromRegistry() {
  for (auto& d : FDescriptors) d.Value = d.DefaultValue;

  TRegistry reg(RegRoot::LocalMachine);
  if (!reg.OpenKeyReadOnly(kSettingsKeyPath)) return;

  for (auto& d : FDescriptors) {
    if (d.Control) {
      const std::string& name = d.Control->Name;
      if (d.DefaultValue.IsNumeric()) {
        const auto value = reg.ReadInteger(name);
        d.Value = value ? TSettingValue(*value) : d.DefaultValue;
      } else {
        const auto value = reg.ReadString(name);
        d.Value = value ? TSettingValue(*value) : d.DefaultValue;
      }
    } else if (d.SettID > 0) {
      const std::string name = SettIdValueName(d.SettID);
      if (d.DefaultValue.IsString()) {
        if (const auto value = reg.ReadString(name)) d.Value = *value;
      } else {
        if (const auto value = reg.ReadInteger(name)) d.Value = *value;
      }
    }
  }
}

bool TSettings::SaveToRegistry(bool saveControls, bool saveIds) {
  bool ok = true;
  {
    TRegistry reg(RegRoot::LocalMachine);
    if (!reg.OpenKey(kSettingsKeyPath, true)) {
      ok = false;
    } else {
      for (const auto& d : FDescriptors) {
        if (saveControls && d.Control) {
          if (d.DefaultValue.IsNumeric()) {
            // Text that is no number cannot be stored; keep what the registry has.
            const auto number = d.Value.TryInteger();
            if (number && !reg.WriteInteger(d.Control->Name, static_cast<int32_t>(*number))) ok = false;
          } else if (!reg.WriteString(d.Control->Name, d.Value.AsString())) {
            ok = false;
          }
        } else if (saveIds && d.SettID > 0) {
          const std::string name = SettIdValueName(d.SettID);
          if (d.Value.IsString()) {
            if (!reg.WriteString(name, d.Value.AsString())) ok = false;
          } else if (!reg.WriteInteger(name, d.Value.AsInteger())) {
            ok = false;
          }
        }
      }
    }
  }
  // A failed write is, on this store, a folder or file without write access:
  // the same cause as a key that cannot be opened, so it is reported alike.
  if (!ok && FBoxes != nullptr && FWarningArmed != nullptr) ReportRegistryWriteFailure(*FWarningArmed, *FBoxes);
  return ok;
}

void TSettings::ReadFromControls(const ISettingsControls& controls) {
  for (auto& d : FDescriptors) {
    if (!d.Control) continue;
    switch (d.Control->Kind) {
      case TControlKind::CheckBox: d.Value = controls.Checked(d.Control->Name); break;
      case TControlKind::EditBox: d.Value = controls.Text(d.Control->Name); break;
      case TControlKind::DropDownList: d.Value = controls.ItemIndex(d.Control->Name); break;
    }
  }
}

void TSettings::WriteToControls(ISettingsControls& controls) const {
  for (size_t i = 0; i < FDescriptors.size(); ++i) WriteToControl(controls, i, FDescriptors[i].Value);
}

void TSettings::WriteToControl(ISettingsControls& controls, size_t index, const TSettingValue& value) const {
  if (index >= FDescriptors.size()) return;
  const auto& control = FDescriptors[index].Control;
  if (!control) return;
  switch (control->Kind) {
    case TControlKind::CheckBox: controls.SetChecked(control->Name, value.AsBool()); break;
    case TControlKind::EditBox: controls.SetText(control->Name, value.AsString()); break;
    case TControlKind::DropDownList: controls.SetItemIndex(control->Name, value.AsInteger(-1)); break;
  }
}

void TSettings::RestoreDefault(ISettingsControls& controls, const std::string& controlName) const {
  for (size_t i = 0; i < FDescriptors.size(); ++i) {
    const auto& d = FDescriptors[i];
    if (d.Control && d.Control->Name == controlName) {
      WriteToControl(controls, i, d.DefaultValue);
      return;
    }
  }
}

TSettingValue TSettings::GetValue(const std::string& controlName) const {
  for (const auto& d : FDescriptors)
    if (d.Control && d.Control->Name == controlName) return d.Value;
  return TSettingValue(0);
}

TSettingValue TSettings::GetDefault(const std::string& controlName) const {
  for (const auto& d : FDescriptors)
    if (d.Control && d.Control->Name == controlName) return d.DefaultValue;
  return TSettingValue(0);
}

void TSettings::SetValue(const std::string& controlName, const TSettingValue& value) {
  for (auto& d : FDescriptors)
    if (d.Control && d.Control->Name == controlName) d.Value = value;
}

TSettingValue TSettings::GetIdValue(int32_t id) const {
  for (const auto& d : FDescriptors)
    if (d.SettID == id && !d.Control) return d.Value;
  return TSettingValue(0);
}

void TSettings::SetIdValue(int32_t id, const TSettingValue& value) {
  for (auto& d : FDescriptors)
    if (d.SettID == id && !d.Control) d.Value = value;
}
