#pragma once

inline constexpr const char* kProductName = "Tarnwick";
inline constexpr const char* kProductVersion = "1.3";
