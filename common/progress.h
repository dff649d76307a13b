// What a long pass tells the window that stands over it: how far it has got
// and when the window may handle its messages (paint, the cancel button).
// The passes know only this interface; the driver hands them the window's.
#pragma once
#include <cstdint>

struct PassProgress {
  // Moves the bar to percent (0 to 100).
  virtual void ShowPercent(int32_t percent) = 0;
  // Handles the window's pending messages and returns without waiting.
  virtual void Pump() = 0;

protected:
  ~PassProgress() = default;
};

// A pass given no progress (nullptr) shows nothing and pumps nothing.
inline void ShowPercent(PassProgress *progress, int32_t percent) {
  if (progress != nullptr)
    progress->ShowPercent(percent);
}
inline void PumpProgress(PassProgress *progress) {
  if (progress != nullptr)
    progress->Pump();
}
