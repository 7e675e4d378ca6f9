// The typed, registry-backed store of operator options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

class IMessageBoxes;

// A tagged option value: boolean, integer or string. Integer widths of the
// defaults are not kept; every integer fits a signed 64-bit slot and reaches
// the registry as a signed 32-bit DWORD.
class TSettingValue {
 public:
  enum class Kind { Boolean, Integer, String };

  TSettingValue() : FData(int64_t{0}) {}
  TSettingValue(bool value) : FData(value) {}
  TSettingValue(int32_t value) : FData(int64_t{value}) {}
  TSettingValue(uint32_t value) : FData(int64_t{value}) {}
  TSettingValue(std::string value) : FData(std::move(value)) {}
  TSettingValue(const char* value) : FData(std::string(value)) {}

  Kind GetKind() const { return static_cast<Kind>(FData.index()); }
  bool IsString() const { return GetKind() == Kind::String; }
  // Booleans count as numeric: both are stored as DWORDs.
  bool IsNumeric() const { return !IsString(); }

  // Numbers: non-zero is true. Text: "true"/"false" (any case) or a number;
  // other text is false.
  bool AsBool() const;
  // Booleans give -1 and 0; text gives its decimal number (blanks around it
  // allowed) or nullopt when it is not one.
  std::optional<int64_t> TryInteger() const;
  // TryInteger cut to 32 bits, or `fallback` for text that is no number.
  int32_t AsInteger(int32_t fallback = 0) const;
  // Booleans give "True"/"False", integers their decimal form.
  std::string AsString() const;

  bool operator==(const TSettingValue&) const = default;

 private:
  std::variant<bool, int64_t, std::string> FData;
};

enum class TControlKind { CheckBox, EditBox, DropDownList };

// A control of the settings dialog, known by its component name.
struct TSettingControl {
  std::string Name;
  TControlKind Kind = TControlKind::CheckBox;
};

struct RSettingDescriptor {
  TSettingValue DefaultValue;
  int32_t SettID = 0;  // 0 for an option bound to a control
  TSettingValue Value;
  std::optional<TSettingControl> Control;
};

// The controls of the settings dialog as the store sees them; the dialog
// implements it. Unknown names are ignored (getters return empty values).
class ISettingsControls {
 public:
  virtual ~ISettingsControls() = default;
  virtual bool Checked(const std::string& name) const = 0;
  virtual void SetChecked(const std::string& name, bool checked) = 0;
  virtual std::string Text(const std::string& name) const = 0;
  virtual void SetText(const std::string& name, const std::string& text) = 0;
  virtual int32_t ItemIndex(const std::string& name) const = 0;
  virtual void SetItemIndex(const std::string& name, int32_t index) = 0;
};

inline constexpr const char* kSettingsKeyPath = "SOFTWARE\\Mirandole\\NorvoOPC\\Settings";

// Identifiers of the options not bound to a control.
inline constexpr int32_t kIdColumnWidthBase = 100;  // + column kind, 100..110
inline constexpr int32_t kIdProjectFolder = 200;
inline constexpr int32_t kIdMasterMode = 201;
inline constexpr int32_t kIdAdapterName = 202;
inline constexpr int32_t kIdUIPassword = 300;
inline constexpr int32_t kIdPLCPassword = 301;

class TSettings {
 public:
  // A store that reports failed saves to nobody.
  TSettings() = default;
  // Failed saves show the administrator-rights box while the shared registry
  // warning is armed. Both are owned by the caller and must outlive the store.
  TSettings(IMessageBoxes& boxes, bool& registryWarningArmed);

  void AddControlSetting(const std::string& controlName, TControlKind kind, TSettingValue defaultValue);
  void AddIdSetting(int32_t id, TSettingValue defaultValue);

  void LoadFromRegistry();
  // Returns false when the key could not be opened or a value not written.
  bool SaveToRegistry(bool saveControls, bool saveIds);
  bool SaveControlSettings() { return SaveToRegistry(true, false); }
  bool SaveIdSettings() { return SaveToRegistry(false, true); }

  void ReadFromControls(const ISettingsControls& controls);
  void WriteToControls(ISettingsControls& controls) const;
  void WriteToControl(ISettingsControls& controls, size_t index, const TSettingValue& value) const;
  void RestoreDefault(ISettingsControls& controls, const std::string& controlName) const;

  TSettingValue GetValue(const std::string& controlName) const;
  void SetValue(const std::string& controlName, const TSettingValue& value);
  TSettingValue GetIdValue(int32_t id) const;
  void SetIdValue(int32_t id, const TSettingValue& value);

  // The default of the option bound to the control; integer 0 when none is.
  TSettingValue GetDefault(const std::string& controlName) const;

  const std::vector<RSettingDescriptor>& Descriptors() const { return FDescriptors; }

 private:
  std::vector<RSettingDescriptor> FDescriptors;
  IMessageBoxes* FBoxes = nullptr;      // not owned
  bool* FWarningArmed = nullptr;        // not owned
};

// Registers every option of the server, in its fixed order.
void RegisterSettingsCatalogue(TSettings& settings);

// Registry value name of an identifier option ("SettID201").
std::string SettIdValueName(int32_t id);
