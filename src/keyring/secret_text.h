#pragma once

#include <string>
#include <string_view>

// A password in memory: move-only, so no stray copy outlives the run that needed it, and
// overwritten when it goes, so a later core file or swapped page does not hold it.
class SecretText {
public:
    SecretText() = default;
    explicit SecretText(std::string_view text);
    ~SecretText();
    SecretText(SecretText&& other) noexcept;
    SecretText& operator=(SecretText&& other) noexcept;
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;

    // Valid while this object lives and is not assigned to.
    [[nodiscard]] const std::string& text() const { return text_; }
    [[nodiscard]] bool empty() const { return text_.empty(); }

private:
    void wipe();

    std::string text_;
};
