#pragma once

#include <string>

// Installation-wide settings. One record is owned by the application and handed by
// reference to whatever needs it; there is no global instance.
struct MachineOptions {
    bool frontPage = true;
    bool checkFileSize = true;
    bool disconnect = false;
    std::string dialUpEntry; // empty: do not dial; at most 255 bytes are stored
    // Passive data connections: active ones fail behind address translation.
    bool passive = true;

    bool operator==(const MachineOptions&) const = default;
};

// "$XDG_CONFIG_HOME/Morvane/Tarnwick.conf" (default ~/.config/Morvane/Tarnwick.conf).
[[nodiscard]] std::string optionsFilePath();

// Values missing from the file keep their current contents; a missing file changes nothing.
void loadOptions(MachineOptions& options, const std::string& path = optionsFilePath());
[[nodiscard]] bool saveOptions(const MachineOptions& options, const std::string& path = optionsFilePath());
