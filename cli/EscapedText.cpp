#include "EscapedText.h"

#include <QStringList>

namespace {

// C0 controls, DEL, and the C1 controls some terminals obey as escapes (0x9b starts a sequence).
bool isControl(char32_t code)
{
    return code < 0x20 || (code >= 0x7f && code <= 0x9f);
}

void appendEscaped(QString &shown, char32_t code)
{
    switch (code) {
    case U'\\':
        shown += QLatin1String("\\\\");
        return;
    case U'\n':
        shown += QLatin1String("\\n");
        return;
    case U'\t':
        shown += QLatin1String("\\t");
        return;
    case U'\r':
        shown += QLatin1String("\\r");
        return;
    default:
        break;
    }
    if (isControl(code))
        shown += QStringLiteral("\\x%1").arg(uint(code), 2, 16, QLatin1Char('0'));
    else
        shown += QString::fromUcs4(&code, 1);
}

// The length of the valid UTF-8 sequence that starts at `at`, with its code point; 0 when the
// byte there starts none (a stray continuation byte, an overlong form, a surrogate, a cut end).
int utf8Sequence(const QByteArray &bytes, int at, char32_t &code)
{
    const auto byte = [&bytes](int index) { return static_cast<unsigned char>(bytes[index]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    int length = 0;
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

QString escapedText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const char32_t code : text.toUcs4())
        appendEscaped(shown, code);
    return shown;
}

QString escapedName(const QByteArray &name)
{
    QString shown;
    shown.reserve(name.size());
    for (int at = 0; at < name.size();) {
        char32_t code = 0;
        const int length = utf8Sequence(name, at, code);
        if (length == 0) {
            shown += QStringLiteral("\\x%1").arg(uint(static_cast<unsigned char>(name[at])), 2, 16,
                                                 QLatin1Char('0'));
            ++at;
            continue;
        }
        appendEscaped(shown, code);
        at += length;
    }
    return shown;
}

QString escapedLines(const QString &text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = escapedText(line);
    return lines.join(QLatin1Char('\n'));
}
