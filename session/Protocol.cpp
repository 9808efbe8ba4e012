// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/Protocol.h"

#include <QCryptographicHash>
#include <algorithm>
#include <limits>

QList<QByteArray> splitFields(QByteArrayView text) {
    return text.toByteArray().split(' ');
}

std::optional<QByteArray> fieldToLineEnd(const QList<QByteArray>& fields, qsizetype n) {
    if (n < 0 || n >= fields.size())
        return std::nullopt;
    const QByteArray& field = fields.at(n);
    const qsizetype end = field.indexOf("\r\n");
    return end < 0 ? field : field.left(end);
}

bool isNumericField(QByteArrayView field) {
    return !field.isEmpty() &&
           std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isWireField(QByteArrayView field) {
    return !field.isEmpty() && std::none_of(field.begin(), field.end(), [](char c) {
               const auto u = static_cast<unsigned char>(c);
               return u <= ' ' || u == 0x7f;
           });
}

std::optional<QByteArray> buildLine(const QList<QByteArray>& fields) {
    if (fields.isEmpty() ||
        !std::all_of(fields.begin(), fields.end(), [](const QByteArray& f) { return isWireField(f); }))
        return std::nullopt;
    QByteArray line = fields.join(' ');
    line += "\r\n";
    return line;
}

static std::optional<quint16> parsePort(QStringView digits) {
    if (digits.isEmpty() || digits.size() > 5)
        return std::nullopt;
    uint value = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<quint16>(value);
}

std::optional<QPair<QString, quint16>> parseHostPort(QStringView text, std::optional<quint16> defaultPort) {
    QStringView host;
    std::optional<QStringView> port;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        host = text.mid(1, close - 1);
        const QStringView rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(u':'))
                return std::nullopt;
            port = rest.mid(1);
        }
    } else {
        const qsizetype colon = text.indexOf(u':');
        host = colon < 0 ? text : text.left(colon);
        if (colon >= 0)
            port = text.mid(colon + 1);
    }
    if (host.isEmpty())
        return std::nullopt;
    std::optional<quint16> number = port ? parsePort(*port) : defaultPort;
    if (!number)
        return std::nullopt;
    return QPair<QString, quint16>(host.toString(), *number);
}

QString MD5Hex(const QString& text) {
    return MD5HexOfBytes(text.toUtf8());
}

QString MD5HexOfBytes(QByteArrayView bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

void LineFramer::append(QByteArrayView data) {
    if (m_skip > 0) {
        const qsizetype dropped = std::min(m_skip, data.size());
        data = data.sliced(dropped);
        m_skip -= dropped;
    }
    m_buffer.append(data);
}

std::optional<QByteArray> LineFramer::takeLine() {
    for (;;) {
        const qsizetype end = m_buffer.indexOf("\r\n", m_scanFrom);
        if (end < 0) {
            // A CR at the very end may still meet its LF in the next arrival.
            m_scanFrom = std::max<qsizetype>(0, m_buffer.size() - 1);
            if (m_buffer.size() > MaxLineLength) {
                m_dropping = true;
                m_buffer = m_buffer.endsWith('\r') ? QByteArray("\r") : QByteArray();
                m_scanFrom = 0;
            }
            return std::nullopt;
        }
        QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 2);
        m_scanFrom = 0;
        if (m_dropping || line.size() > MaxLineLength) {
            m_dropping = false;
            continue;
        }
        return line;
    }
}

void LineFramer::skipPayload(qsizetype n) {
    if (n <= 0)
        return;
    const qsizetype dropped = std::min(n, m_buffer.size());
    m_buffer.remove(0, dropped);
    m_scanFrom = 0;
    m_skip += n - dropped;
}

void LineFramer::clear() {
    m_buffer.clear();
    m_scanFrom = 0;
    m_skip = 0;
    m_dropping = false;
}

std::optional<qint64> payloadLength(const QList<QByteArray>& fields) {
    if (fields.size() < 4 || fields.first() != "MSG" ||
        !isNumericField(fields.last()))
        return std::nullopt;
    if (fields.last().size() > 18)
        return std::numeric_limits<qint64>::max();
    return fields.last().toLongLong();
}

bool isBusyCode(int code) {
    return code == 800 || code == 713 || (code >= 600 && code <= 604) || (code >= 910 && code <= 922);
}

bool isBusyReply(QByteArrayView command) {
    return isNumericField(command) && command.size() == 3 && isBusyCode(QByteArray(command.data(), 3).toInt());
}
