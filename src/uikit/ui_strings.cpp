#include "uikit/ui_strings.h"

#include <QFile>

#include <cstdlib>

namespace {

QString unescape(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype index = 0; index < text.size(); ++index) {
        QChar character = text[index];
        if (character == u'\\' && index + 1 < text.size()) {
            QChar next = text[++index];
            if (next == u'n')
                result += u'\n';
            else if (next == u't')
                result += u'\t';
            else
                result += next;
        } else {
            result += character;
        }
    }
    return result;
}

QByteArray readResource(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

UiStrings::UiStrings(UiLanguage language)
    : language_(language)
{
    const QString table = QString::fromUtf8(readResource(QStringLiteral(":/tarnwick/strings/ui_strings.tsv")));
    const int column = language == UiLanguage::German ? 2 : 1;
    for (const QString& line : table.split(u'\n')) {
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList fields = line.split(u'\t');
        if (fields.size() > column)
            texts_.insert(fields[0], unescape(fields[column]));
    }
}

UiLanguage UiStrings::languageFromLocale(const char* lcAll, const char* lcMessages, const char* lang)
{
    for (const char* value : { lcAll, lcMessages, lang }) {
        if (value == nullptr || value[0] == '\0')
            continue;
        return value[0] == 'd' && value[1] == 'e' ? UiLanguage::German : UiLanguage::English;
    }
    return UiLanguage::English;
}

UiLanguage UiStrings::languageFromEnvironment()
{
    return languageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

QString UiStrings::text(const char* key) const
{
    const QString name = QString::fromLatin1(key);
    auto found = texts_.constFind(name);
    return found == texts_.constEnd() ? name : found.value();
}

QStringList UiStrings::columnNames() const
{
    return text("107").split(u';');
}

std::string UiStrings::hintText() const
{
    const QString path = language_ == UiLanguage::German ? QStringLiteral(":/tarnwick/hints/hints_de.txt")
                                                         : QStringLiteral(":/tarnwick/hints/hints_en.txt");
    const QByteArray bytes = readResource(path);
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}
