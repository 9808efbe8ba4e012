// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

// The service's line protocol: command lines of fields separated by single
// spaces, ended by CR LF, numbers in plain decimal.

// Cuts at every single space; consecutive spaces give empty fields.
QList<QByteArray> splitFields(QByteArrayView text);

// Field n up to its line end: the part before its first CR LF, nullopt when
// the text has fewer fields.
std::optional<QByteArray> fieldToLineEnd(const QList<QByteArray>& fields, qsizetype n);

// True when the field reads as a number, the form of the service's error replies.
bool isNumericField(QByteArrayView field);

// A field may go on the wire only when it is non-empty and holds no space and
// no control character: a space would shift the fields, CR or LF would start a
// second command, and a server may cut at a TAB or choke on a NUL.
bool isWireField(QByteArrayView field);

// Joins the fields with single spaces and ends the line with CR LF; nullopt
// when any field is unfit for the wire, so nothing half-built is ever sent.
std::optional<QByteArray> buildLine(const QList<QByteArray>& fields);

// The dispatch server's port when a host[:port] names none.
inline constexpr quint16 kDispatchPort = 1863;

// "host:port" cut at its colon; a port is required unless a default is given.
// "[v6]:port" keeps the colons of an IPv6 address. nullopt for an empty host
// or a port that is not 1..65535.
std::optional<QPair<QString, quint16>> parseHostPort(QStringView text,
                                                     std::optional<quint16> defaultPort = std::nullopt);

// 32 lower-case hex digits of the MD5 digest of the text's UTF-8 bytes.
QString MD5Hex(const QString& text);
// The same for bytes as they are: a challenge is hashed as it came off the
// wire, whatever its encoding.
QString MD5HexOfBytes(QByteArrayView bytes);

// Gathers arrived bytes into complete lines. The bytes of an unfinished last
// line wait for their CR LF; every complete line comes out once, in order,
// without its CR LF.
class LineFramer {
public:
    // A line that grows past this without a line end is dropped whole, so a
    // peer cannot make us buffer without limit.
    static constexpr qsizetype MaxLineLength = 64 * 1024;

    void append(QByteArrayView data);
    std::optional<QByteArray> takeLine();
    // The next n bytes are a message body, not lines.
    void skipPayload(qsizetype n);
    void clear();
    qsizetype pendingBytes() const { return m_buffer.size(); }

private:
    QByteArray m_buffer;
    qsizetype m_scanFrom = 0; // where the search for CR LF resumes
    qsizetype m_skip = 0;     // body bytes still to drop
    bool m_dropping = false;  // inside an overlong line, dropped up to its end
};

// The largest body a line may announce. A bigger one is a server trying to
// make us skip (or hold) everything after it.
inline constexpr qint64 MaxPayloadLength = 64 * 1024;

// A command line whose last field gives the length of a body that follows it
// ("MSG Hotmail Hotmail 350"); nullopt for lines without a body. A length of
// more digits than any sane body has reads as the largest number.
std::optional<qint64> payloadLength(const QList<QByteArray>& fields);

// An error code that says the server is busy or that the account asks too fast, not that the
// request was wrong: the same request may be asked again later, more slowly.
bool isBusyCode(int code);
// The same for a reply's first field.
bool isBusyReply(QByteArrayView command);
