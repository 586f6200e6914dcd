#pragma once

// UTF-8 text in and out of zelupdate-cli the same way under Qt 5 and Qt 6, which name the codec
// differently (Qt 6 dropped QTextCodec). The program's only Qt version check.

#include <QByteArray>
#include <QString>
#include <QTextStream>
#include <QtGlobal>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#include <memory>
#else
#include <QStringDecoder>
#endif

// Makes stream write UTF-8, whatever the locale says.
inline void writeUtf8(QTextStream &stream)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    stream.setCodec("UTF-8");
#else
    stream.setEncoding(QStringConverter::Utf8);
#endif
}

// Decodes UTF-8 that comes in pieces: a character cut between two pieces is completed by the
// next. Bytes that are no UTF-8 become U+FFFD.
class Utf8Decoder
{
public:
    QString decode(const QByteArray &bytes)
    {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        return m_decoder->toUnicode(bytes);
#else
        return m_decoder.decode(bytes);
#endif
    }

private:
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    std::unique_ptr<QTextDecoder> m_decoder{QTextCodec::codecForName("UTF-8")->makeDecoder()};
#else
    QStringDecoder m_decoder{QStringDecoder::Utf8};
#endif
};
