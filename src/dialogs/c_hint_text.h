#pragma once

#include <string>
#include <string_view>
#include <vector>

// One field of a dialog that explains itself: its control identifier and the section key of
// its hint.
struct HintKey {
    int controlId;
    const char* key;
};

// The field hints of one dialog: the hint text of the user-interface language (sections,
// each headed by "[KEY]" on a line of its own, lines ending in "\r\n") and the dialog's key
// table.
class CHintText {
public:
    enum class Result {
        Changed,
        Unchanged,
    };

    // The web project editor and the expert settings share one table.
    [[nodiscard]] static const std::vector<HintKey>& projectKeys();
    [[nodiscard]] static const std::vector<HintKey>& optionsKeys();

    void Load(std::string text, std::vector<HintKey> keys);
    // Changed with the section of the control's key when the control differs from the one
    // looked up last and has a key; Unchanged otherwise, so a hint stays while the pointer
    // crosses fields without one.
    [[nodiscard]] Result Lookup(int controlId, std::string& hint);
    // Every line of the key's sections, each followed by "\r\n"; empty when there is none.
    [[nodiscard]] std::string Section(std::string_view key) const;

private:
    std::string text_;
    std::vector<HintKey> keys_;
    int lastId_ = -1;
};
