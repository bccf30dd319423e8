#pragma once

#include <array>

// Values of the camera's ExposureMode node that the operator may choose, in the order offered.
inline constexpr std::array<const char*, 10> exposure_modes = {
    "Off",
    "ContinuousPreset1",
    "ContinuousPreset2",
    "ContinuousPreset3",
    "ContinuousPreset4",
    "ContinuousPreset5",
    "ContinuousPreset6",
    "ContinuousPreset7",
    "ContinuousPreset8",
    "ContinuousPreset9",
};
