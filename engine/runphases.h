#pragma once

// The four phases of every image, in the order the bars show them, and the
// share of an image's part of the total bar that each one takes.
enum Phase { ErasePhase, WritePhase, ReadBackPhase, ComparePhase, PhaseCount };

inline constexpr float phaseShare[PhaseCount] = {0.05f, 0.88f, 0.04f, 0.03f};
// Sums of the earlier shares, added in single precision as the bars expect.
inline constexpr float phaseStart[PhaseCount] = {0.0f, phaseShare[0], phaseShare[0] + phaseShare[1],
                                                 phaseShare[0] + phaseShare[1] + phaseShare[2]};
