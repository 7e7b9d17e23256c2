#pragma once
// What the send cycle calls to have computed values written into the send grid before a
// transmission's bytes are read back from it, so the grid shows what goes out. The cycle
// knows nothing of what is written.

namespace ostrel {

class PayloadFiller {
 public:
  virtual ~PayloadFiller() = default;
  // The cycle's first transmission is about to be filled: once per cycle that sends.
  virtual void StartCycle() = 0;
  // Writes into the send grid, right before every transmission's read-back. Raises
  // (RunTimeError with its description) when it cannot: a run-time error of the cycle.
  virtual void Fill() = 0;
};

}  // namespace ostrel
