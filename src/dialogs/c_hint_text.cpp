#include "dialogs/c_hint_text.h"

const std::vector<HintKey>& CHintText::projectKeys()
{
    static const std::vector<HintKey> keys {
        { 1026, "IDC_COMBO_STRATEGY" },
        { 1001, "IDC_COMBO_CONFIG" },
        { 1013, "IDC_EDIT_USERNAME" },
        { 1015, "IDC_EDIT_START" },
        { 1012, "IDC_EDIT_SERVER" },
        { 1014, "IDC_EDIT_PASSWORD" },
        { 1003, "IDC_EDIT_LOCALDIR" },
        { 1023, "IDC_EDIT_EDIT_FILE" },
        { 1019, "IDC_EDIT_DIR" },
        { 1009, "IDC_COMBO_SITES" },
        { 1041, "IDC_EDIT_MINUTES" },
        { 1070, "IDC_EDIT_HTMLREPORT" },
        { 1071, "IDC_EDIT_ARCHIV" },
        { 1072, "IDC_EDIT_MAX" },
        { 1073, "IDC_CHECK_ATOMIC" },
        { 1074, "IDC_SPIN_CONNECTIONS" },
        { 1075, "IDC_EDIT_KEYFILE" },
        { 1076, "IDC_CHECK_WATCH" },
        { 1077, "IDC_EDIT_BWLIMIT" },
    };
    return keys;
}

const std::vector<HintKey>& CHintText::optionsKeys()
{
    static const std::vector<HintKey> keys {
        { 1082, "IDC_EDIT_ASCII" },
        { 1081, "IDC_CHECK_FRONTPAGE" },
        { 1080, "IDC_CHECK_CHECKSIZE" },
        { 1098, "IDC_COMBO_DIAL" },
        { 1083, "IDC_CHECK_DISCONNECT" },
        { 1084, "IDC_CHECK_SERVICE" },
        { 1085, "IDC_CHECK_PASSIVE" },
    };
    return keys;
}

void CHintText::Load(std::string text, std::vector<HintKey> keys)
{
    text_ = std::move(text);
    keys_ = std::move(keys);
    lastId_ = -1;
}

CHintText::Result CHintText::Lookup(int controlId, std::string& hint)
{
    if (controlId == lastId_)
        return Result::Unchanged;
    lastId_ = controlId;
    for (const HintKey& entry : keys_) {
        if (entry.controlId == controlId) {
            hint = Section(entry.key);
            return Result::Changed;
        }
    }
    return Result::Unchanged;
}

std::string CHintText::Section(std::string_view key) const
{
    const std::string header = "[" + std::string(key) + "]";
    std::string result;
    bool inSection = false;
    size_t position = 0;
    while (position < text_.size()) {
        size_t end = text_.find('\r', position);
        std::string_view line;
        if (end == std::string::npos) {
            line = std::string_view(text_).substr(position);
            position = text_.size();
        } else {
            line = std::string_view(text_).substr(position, end - position);
            // The character after the carriage return is its line feed.
            position = end + 2;
        }
        if (inSection) {
            if (!line.empty() && line.front() == '[') {
                inSection = false;
                continue;
            }
            result.append(line);
            result.append("\r\n");
        } else if (line == header) {
            inSection = true;
        }
    }
    return result;
}
