#include "Printable.h"

namespace {

// The escapes that have a name; any other character that needs one shows its code (\x1b, \u202e).
struct NamedEscape
{
    char16_t character;
    const char *escape;
};
constexpr NamedEscape kNamedEscapes[] = {
    {u'\\', "\\\\"}, {u'\n', "\\n"}, {u'\r', "\\r"}, {u'\t', "\\t"}};

bool isBidirectionalControl(char16_t character)
{
    return (character >= 0x202a && character <= 0x202e) ||
           (character >= 0x2066 && character <= 0x2069) || character == 0x200e ||
           character == 0x200f || character == 0x061c;
}

bool needsEscape(QChar character)
{
    const QChar::Category category = character.category();
    return category == QChar::Other_Control || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph || isBidirectionalControl(character.unicode());
}

QString escapeOf(QChar character)
{
    for (const NamedEscape &named : kNamedEscapes) {
        if (character.unicode() == named.character)
            return QLatin1String(named.escape);
    }
    const ushort code = character.unicode();
    return code <= 0xff ? QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'))
                        : QStringLiteral("\\u%1").arg(code, 4, 16, QLatin1Char('0'));
}

// The length of the valid UTF-8 sequence that starts at `at`; 0 when the byte there starts none
// (a stray continuation byte, an overlong form, a surrogate, a sequence cut short).
int utf8Sequence(const QByteArray &bytes, int at)
{
    const auto byte = [&bytes](int index) { return static_cast<unsigned char>(bytes[index]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    int length = 0;
    char32_t code = 0;
    char32_t smallest = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        code = lead & 0x1f;
        smallest = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        code = lead & 0x0f;
        smallest = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        code = lead & 0x07;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (int next = 1; next < length; ++next) {
        if ((byte(at + next) & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + next) & 0x3f);
    }
    if (code < smallest || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return 0;
    return length;
}

} // namespace

QString printable(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar character : text)
        shown += character == QLatin1Char('\\') || needsEscape(character) ? escapeOf(character)
                                                                          : QString(character);
    return shown;
}

QString printableLayout(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar character : text) {
        const bool layout = character == QLatin1Char('\t') || character == QLatin1Char('\n');
        shown += !layout && needsEscape(character) ? escapeOf(character) : QString(character);
    }
    return shown;
}

QString printable(const std::string &text)
{
    return printable(QString::fromStdString(text));
}

QString printable(const std::wstring &text)
{
    return printable(QString::fromStdWString(text));
}

QString printableName(const QByteArray &name)
{
    QString shown;
    int runStart = 0;
    const auto endRun = [&](int at) {
        shown += printable(QString::fromUtf8(name.constData() + runStart, at - runStart));
    };
    for (int at = 0; at < name.size();) {
        const int length = utf8Sequence(name, at);
        if (length > 0) {
            at += length;
            continue;
        }
        endRun(at);
        shown += QStringLiteral("\\x%1").arg(uint(static_cast<unsigned char>(name[at])), 2, 16,
                                             QLatin1Char('0'));
        runStart = ++at;
    }
    endRun(name.size());
    return shown;
}
