// The main window's position and state, kept per user across runs.
#pragma once

#include <cstdint>
#include <functional>

enum class TWindowState : int32_t { Normal = 0, Minimized = 1, Maximized = 2 };

struct TWindowBounds {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  bool operator==(const TWindowBounds&) const = default;
};

// What the restore needs of the window.
class TPositionTarget {
 public:
  virtual ~TPositionTarget() = default;
  virtual void SetBounds(const TWindowBounds& bounds) = 0;
  virtual void SetWindowState(TWindowState state) = 0;
  virtual TWindowState WindowState() const = 0;
};

inline constexpr const char* kPositionsKey = "SOFTWARE\\Mirandole\\NorvoOPC\\Positions";

// Tracks the normal-state bounds while the window lives and moves them to
// and from HKEY_CURRENT_USER.
class TWindowPosition {
 public:
  // Applies the stored bounds and state. A stored maximised state is not
  // applied here but handed to `postMaximize` (the window posts
  // WM_MAXIMIZE_MAIN). A missing key or value ends the restore there.
  void RestoreWindowPosition(TPositionTarget& target, const std::function<void()>& postMaximize);

  // Writes the state and tracked bounds; "FirstStart" = 0 unless started by
  // COM. Failures are ignored.
  void SaveWindowPosition(const TPositionTarget& target, bool startedEmbedded) const;

  // Position tracking from the window's own events.
  void WindowMoved(int32_t left, int32_t top);
  void WindowResized(int32_t width, int32_t height, TWindowState state);

  const TWindowBounds& Tracked() const { return FTracked; }
  void SetTracked(const TWindowBounds& bounds) { FTracked = bounds; }

 private:
  TWindowBounds FTracked;
};
