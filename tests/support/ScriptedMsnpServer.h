// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <map>

class QTcpServer;
class QTcpSocket;

// A stand-in for one server of the messaging service, on 127.0.0.1 at a port
// of the system's choosing. It answers each received line from a script keyed
// by the line's first field, records every line, and can misbehave on demand.
class ScriptedMsnpServer : public QObject {
    Q_OBJECT
public:
    // Each reply is a list of chunks; each chunk goes out in its own write,
    // a little after the one before, so the client sees them in separate reads.
    using Reply = QList<QByteArray>;
    using Script = std::function<Reply(const QList<QByteArray>& fields)>;

    enum class Mode {
        Answer, // accept and answer from the script
        Refuse, // nothing listens: connects are refused
        Stall,  // the accept queue is full: connects never complete
    };

    explicit ScriptedMsnpServer(Mode mode = Mode::Answer, QObject* parent = nullptr);
    ~ScriptedMsnpServer() override;

    quint16 port() const { return m_port; }
    QString address() const; // "127.0.0.1:port"

    // Replaces the answer to lines whose first field is command; an empty
    // reply leaves the line unanswered.
    void on(const QByteArray& command, Script script);
    // Hang up on the client right after answering a line that starts so.
    void dropAfter(const QByteArray& linePrefix) { m_dropAfter = linePrefix; }
    // Pause between the chunks of one reply.
    void setChunkDelay(int ms) { m_chunkDelayMs = ms; }

    // Every line received, without CR LF, over all connections in order.
    QList<QByteArray> lines() const { return m_lines; }
    // The lines received on the n-th connection (0 based).
    QList<QByteArray> linesOn(int connection) const;
    int connectionCount() const { return static_cast<int>(m_clients.size()); }
    // Whether the n-th connection is still open from the client's side.
    bool isOpen(int connection) const;

    void send(const QByteArray& data); // to the latest client
    void drop();                       // hang up on the latest client
    // Sends the line to the latest client over and over, bytes in all, as
    // fast as the client takes it, and reads nothing from it any more.
    void floodWithoutReading(const QByteArray& line, qint64 bytes);

private:
    struct Client {
        QPointer<QTcpSocket> socket;
        QByteArray pending;
        QList<QByteArray> lines;
        QList<QByteArray> queue; // chunks waiting for their turn
        bool writing = false;
        bool dropWhenFlushed = false;
        bool closedByPeer = false;
        bool reading = true;
    };

    void accept();
    void read(int index);
    void queueReply(int index, const Reply& reply, bool dropAfter);
    void writeNext(int index);

    Mode m_mode;
    QTcpServer* m_server = nullptr;
    int m_stallFd = -1;
    int m_fillerFd = -1;
    quint16 m_port = 0;
    std::map<QByteArray, Script> m_script;
    QByteArray m_dropAfter;
    int m_chunkDelayMs = 30;
    QList<QByteArray> m_lines;
    std::vector<Client> m_clients;
};
