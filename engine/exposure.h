// Matching source 2's exposure and colour to source 1's: one gain a channel,
// estimated where the two prepared copies overlap, from the pixels both
// pictures show alike (neither clipped nor near black, and not where they
// disagree, as on something that moved between the shots).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/generate_target.h"

namespace tessara {

// The gains for source 2, laid at `geometry` on the canvas over source 1.
ExposureGains EstimateExposureGains(PreparedRef source1, PreparedRef source2, const TargetGeometry& geometry);

// The gains as one table a channel (blue, green, red): v * gain, rounded and
// held to 0..255.
std::array<std::array<uint8_t, 256>, 3> GainTables(const ExposureGains& gains);

// What the status line says after a Target was matched.
std::string ExposureGainsText(const ExposureGains& gains);

}  // namespace tessara
