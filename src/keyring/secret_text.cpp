#include "keyring/secret_text.h"

#include <string.h>

SecretText::SecretText(std::string_view text)
{
    // Reserved first: growing would leave the bytes in a freed block nobody wipes.
    text_.reserve(text.size());
    text_.assign(text);
}

SecretText::~SecretText()
{
    wipe();
}

SecretText::SecretText(SecretText&& other) noexcept
{
    text_.swap(other.text_);
}

SecretText& SecretText::operator=(SecretText&& other) noexcept
{
    if (this != &other) {
        wipe();
        text_.clear();
        text_.swap(other.text_);
    }
    return *this;
}

void SecretText::wipe()
{
    // explicit_bzero, unlike memset, is not removed as a dead store.
    if (!text_.empty())
        ::explicit_bzero(text_.data(), text_.size());
}
