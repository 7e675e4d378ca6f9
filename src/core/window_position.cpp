#include "core/window_position.h"

#include "platform/registry.h"

void TWindowPosition::RestoreWindowPosition(TPositionTarget& target, const std::function<void()>& postMaximize) {
  TRegistry reg(RegRoot::CurrentUser);
  if (!reg.OpenKeyReadOnly(kPositionsKey)) return;
  const auto w = reg.ReadInteger("frmW");
  if (!w) return;
  const auto h = reg.ReadInteger("frmH");
  if (!h) return;
  const auto t = reg.ReadInteger("frmT");
  if (!t) return;
  const auto l = reg.ReadInteger("frmL");
  if (!l) return;
  // A corrupt store must not give a window of negative size.
  if (*w > 0 && *h > 0) {
    FTracked = {*l, *t, *w, *h};
    target.SetBounds(FTracked);
  }
  const auto state = reg.ReadInteger("frmState");
  if (!state) return;
  switch (*state) {
    case 0: target.SetWindowState(TWindowState::Normal); break;
    case 1: target.SetWindowState(TWindowState::Minimized); break;
    case 2:
      if (postMaximize) postMaximize();
      break;
    default: break;  // not a state: leave the window as it is
  }
}

void TWindowPosition::SaveWindowPosition(const TPositionTarget& target, bool startedEmbedded) const {
  TRegistry reg(RegRoot::CurrentUser);
  if (!reg.OpenKey(kPositionsKey, true)) return;
  reg.WriteInteger("frmState", static_cast<int32_t>(target.WindowState()));
  reg.WriteInteger("frmW", FTracked.Width);
  reg.WriteInteger("frmH", FTracked.Height);
  reg.WriteInteger("frmT", FTracked.Top);
  reg.WriteInteger("frmL", FTracked.Left);
  if (!startedEmbedded) reg.WriteInteger("FirstStart", 0);
}

void TWindowPosition::WindowMoved(int32_t left, int32_t top) {
  FTracked.Left = left;
  FTracked.Top = top;
}

void TWindowPosition::WindowResized(int32_t width, int32_t height, TWindowState state) {
  if (state != TWindowState::Normal) return;
  FTracked.Width = width;
  FTracked.Height = height;
}
