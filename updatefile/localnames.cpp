#include "localnames.h"

#include <QByteArray>
#include <QTextCodec>

namespace localnames {

namespace {

constexpr ushort escapeBase = 0xDC00;

bool isContinuation(uchar byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at data (at most available bytes
// long), 0 when the bytes there cannot start one, or -1 when they may but
// the sequence runs past the end.
int sequenceLength(const uchar *data, int available)
{
    const uchar lead = data[0];
    int length;
    uint minimum;
    uint code;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
        code = lead & 0x07;
    } else {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        if (i == available)
            return -1;
        if (!isContinuation(data[i]))
            return 0;
        code = (code << 6) | (data[i] & 0x3F);
    }
    // Overlong forms, encoded surrogates and code points past Unicode's end
    // are not valid UTF-8: their bytes are kept as bytes.
    if (code < minimum || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

void appendCodePoint(QString &text, uint code)
{
    if (code >= 0x10000) {
        text += QChar(QChar::highSurrogate(code));
        text += QChar(QChar::lowSurrogate(code));
    } else {
        text += QChar(ushort(code));
    }
}

uint decode(const uchar *data, int length)
{
    if (length == 1)
        return data[0];
    uint code = data[0] & (0x7F >> length);
    for (int i = 1; i < length; ++i)
        code = (code << 6) | (data[i] & 0x3F);
    return code;
}

void appendUtf8(QByteArray &bytes, uint code)
{
    if (code < 0x800) {
        bytes += char(0xC0 | (code >> 6));
    } else if (code < 0x10000) {
        bytes += char(0xE0 | (code >> 12));
        bytes += char(0x80 | ((code >> 6) & 0x3F));
    } else {
        bytes += char(0xF0 | (code >> 18));
        bytes += char(0x80 | ((code >> 12) & 0x3F));
        bytes += char(0x80 | ((code >> 6) & 0x3F));
    }
    bytes += char(0x80 | (code & 0x3F));
}

class ByteKeepingUtf8 final : public QTextCodec
{
public:
    QByteArray name() const override { return QByteArrayLiteral("UTF-8 (bytes kept)"); }
    // Private to this process: no registered encoding has it.
    int mibEnum() const override { return 3106; }

protected:
    // A sequence cut by the end of a chunk waits in the state for the next one.
    QString convertToUnicode(const char *input, int length, ConverterState *state) const override
    {
        QByteArray bytes;
        if (state && state->remainingChars > 0) {
            bytes = QByteArray(reinterpret_cast<const char *>(state->state_data), state->remainingChars);
            state->remainingChars = 0;
        }
        bytes.append(input, length);
        const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
        const int size = bytes.size();
        QString text;
        text.reserve(size);
        int at = 0;
        while (at < size) {
            const int sequence = sequenceLength(data + at, size - at);
            if (sequence < 0 && state) {
                state->remainingChars = size - at;
                for (int i = 0; i < state->remainingChars; ++i)
                    state->state_data[i] = data[at + i];
                break;
            }
            if (sequence <= 0) {
                text += QChar(ushort(escapeBase + data[at]));
                ++at;
                continue;
            }
            appendCodePoint(text, decode(data + at, sequence));
            at += sequence;
        }
        return text;
    }

    QByteArray convertFromUnicode(const QChar *input, int length, ConverterState *state) const override
    {
        QByteArray bytes;
        bytes.reserve(length * 3);
        QString pending;
        if (state && state->remainingChars > 0) {
            pending += QChar(ushort(state->state_data[0]));
            state->remainingChars = 0;
        }
        pending.append(input, length);
        for (int i = 0; i < pending.size(); ++i) {
            const QChar c = pending.at(i);
            const ushort code = c.unicode();
            if (code < 0x80) {
                bytes += char(code);
            } else if (c.isHighSurrogate()) {
                if (i + 1 < pending.size() && pending.at(i + 1).isLowSurrogate()) {
                    appendUtf8(bytes, QChar::surrogateToUcs4(c, pending.at(i + 1)));
                    ++i;
                } else if (i + 1 == pending.size() && state) {
                    state->remainingChars = 1;
                    state->state_data[0] = c.unicode();
                } else {
                    bytes += '?';
                }
            } else if (code >= escapeBase + 0x80 && code <= escapeBase + 0xFF) {
                bytes += char(code - escapeBase);
            } else if (c.isSurrogate()) {
                bytes += '?';
            } else {
                appendUtf8(bytes, code);
            }
        }
        return bytes;
    }
};

} // namespace

void keepUndecodableBytes()
{
    // The toolkit keeps the codecs it is given for the life of the process.
    static ByteKeepingUtf8 *const codec = new ByteKeepingUtf8;
    QTextCodec::setCodecForLocale(codec);
}

QString printable(const QString &text)
{
    // A line may come from the run's thread through a queued signal, a
    // hand-over that only the toolkit's own code can see: the toolkit copies it
    // on this thread before it is read here.
    QString own;
    own.reserve(1);
    own.append(text);
    QString shown;
    shown.reserve(own.size());
    for (const QChar c : qAsConst(own)) {
        const ushort code = c.unicode();
        const bool control = code < 0x20 || (code >= 0x7F && code < 0xA0);
        const bool keptByte = code >= escapeBase + 0x80 && code <= escapeBase + 0xFF;
        if (control || keptByte)
            shown += QString::asprintf("\\x%02x", keptByte ? code - escapeBase : code);
        else
            shown += c;
    }
    return shown;
}

} // namespace localnames
