// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScriptedMsnpServer.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

static int loopbackSocket(sockaddr_in& address) {
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::socket(AF_INET, SOCK_STREAM, 0);
}

ScriptedMsnpServer::ScriptedMsnpServer(Mode mode, QObject* parent) : QObject(parent), m_mode(mode) {
    if (mode == Mode::Answer) {
        m_server = new QTcpServer(this);
        m_server->listen(QHostAddress::LocalHost, 0);
        m_port = m_server->serverPort();
        connect(m_server, &QTcpServer::newConnection, this, &ScriptedMsnpServer::accept);
        return;
    }
    // Take a free port from the system and keep it bound, so nobody else gets
    // it while the test runs.
    sockaddr_in address;
    m_stallFd = loopbackSocket(address);
    ::bind(m_stallFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(m_stallFd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    if (mode == Mode::Refuse)
        return; // bound but not listening: the kernel answers connects with a reset
    // A backlog of 0 holds one connection; once a filler takes that place,
    // the kernel drops further SYNs and the client's connect hangs.
    ::listen(m_stallFd, 0);
    sockaddr_in filler;
    m_fillerFd = loopbackSocket(filler);
    ::connect(m_fillerFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
}

ScriptedMsnpServer::~ScriptedMsnpServer() {
    for (Client& client : m_clients)
        if (client.socket)
            client.socket->disconnect(this);
    if (m_fillerFd >= 0)
        ::close(m_fillerFd);
    if (m_stallFd >= 0)
        ::close(m_stallFd);
}

QString ScriptedMsnpServer::address() const {
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

void ScriptedMsnpServer::on(const QByteArray& command, Script script) {
    m_script[command] = std::move(script);
}

QList<QByteArray> ScriptedMsnpServer::linesOn(int connection) const {
    if (connection < 0 || connection >= connectionCount())
        return {};
    return m_clients[connection].lines;
}

bool ScriptedMsnpServer::isOpen(int connection) const {
    if (connection < 0 || connection >= connectionCount())
        return false;
    const Client& client = m_clients[connection];
    return client.socket && !client.closedByPeer && client.socket->state() == QAbstractSocket::ConnectedState;
}

void ScriptedMsnpServer::accept() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        const int index = connectionCount();
        m_clients.push_back(Client{socket, {}, {}, {}, false, false, false, true});
        connect(socket, &QTcpSocket::readyRead, this, [this, index] { read(index); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, index] { m_clients[index].closedByPeer = true; });
    }
}

void ScriptedMsnpServer::read(int index) {
    Client& client = m_clients[index];
    if (!client.reading)
        return;
    client.pending += client.socket->readAll();
    qsizetype end;
    while ((end = client.pending.indexOf("\r\n")) >= 0) {
        const QByteArray line = client.pending.left(end);
        client.pending.remove(0, end + 2);
        m_lines.append(line);
        client.lines.append(line);
        const QList<QByteArray> fields = line.split(' ');
        const auto found = m_script.find(fields.first());
        if (found == m_script.end())
            continue;
        queueReply(index, found->second(fields), !m_dropAfter.isEmpty() && line.startsWith(m_dropAfter));
    }
}

void ScriptedMsnpServer::queueReply(int index, const Reply& reply, bool dropAfter) {
    Client& client = m_clients[index];
    client.queue += reply;
    client.dropWhenFlushed = client.dropWhenFlushed || dropAfter;
    if (!client.writing)
        writeNext(index);
}

void ScriptedMsnpServer::writeNext(int index) {
    Client& client = m_clients[index];
    if (!client.socket)
        return;
    if (client.queue.isEmpty()) {
        client.writing = false;
        if (client.dropWhenFlushed)
            client.socket->disconnectFromHost();
        return;
    }
    client.writing = true;
    client.socket->write(client.queue.takeFirst());
    client.socket->flush();
    QTimer::singleShot(client.queue.isEmpty() ? 0 : m_chunkDelayMs, this,
                       [this, index] { writeNext(index); });
}

void ScriptedMsnpServer::send(const QByteArray& data) {
    if (!m_clients.empty())
        queueReply(connectionCount() - 1, {data}, false);
}

void ScriptedMsnpServer::drop() {
    if (!m_clients.empty() && m_clients.back().socket)
        m_clients.back().socket->disconnectFromHost();
}

void ScriptedMsnpServer::floodWithoutReading(const QByteArray& line, qint64 bytes) {
    if (m_clients.empty() || !m_clients.back().socket)
        return;
    Client& client = m_clients.back();
    client.reading = false;
    // Qt stops taking bytes off the connection once this much is unread.
    client.socket->setReadBufferSize(1);
    const QByteArray batch = line.repeated(std::max<qsizetype>(1, 64 * 1024 / line.size()));
    QTcpSocket* socket = client.socket;
    auto left = std::make_shared<qint64>(bytes);
    auto topUp = [socket, batch, left] {
        while (*left > 0 && socket->bytesToWrite() < 256 * 1024) {
            socket->write(batch);
            *left -= batch.size();
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, this, topUp);
    topUp();
}
