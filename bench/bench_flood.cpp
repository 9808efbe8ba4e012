// SPDX-License-Identifier: GPL-3.0-or-later
// A notification server floods the session with CHG lines, each of which the session
// answers. Prints how the session ended and the memory the process held:
//
//   velmora_bench_flood reading|unread SECONDS
//
// "reading": the server takes the answers in (and floods a little longer than SECONDS), so the
// session is still signed in when the benchmark stops.
// "unread": it never reads them; the session must leave rather than keep them all.
#include "bench/BenchSupport.h"
#include "session/ServiceSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("reading");
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("python3"), {QStringLiteral(VELMORA_SOURCE_DIR "/bench/flood_server.py"),
                                             mode, QString::number(seconds + 5)});
    if (!server.waitForReadyRead(10000))
        return 1;
    qputenv("VELMORA_DISPATCH_SERVER", "127.0.0.1:" + server.readLine().trimmed());

    ServiceSession session(nullptr);
    session.setCredentials(QStringLiteral("me@example.com"), QStringLiteral("x"));
    QString status;
    QElapsedTimer clock;
    qint64 endedMs = -1;
    QObject::connect(&session, &ServiceSession::statusChanged, [&](const SessionStatus& now) {
        status = now.state == SessionState::SignedIn     ? QStringLiteral("signed in")
                 : now.state == SessionState::Connecting ? QStringLiteral("connecting")
                                                         : QStringLiteral("lost or refused");
        if (now.state != SessionState::SignedIn && now.state != SessionState::Connecting && endedMs < 0) {
            endedMs = clock.elapsed();
            app.quit();
        }
    });
    long peakKb = 0;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] { peakKb = std::max(peakKb, bench::residentKb()); });
    sample.start(100);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    clock.start();
    session.start();
    app.exec();

    std::printf("mode=%s ran=%.1fs status=\"%s\" answered=%d peak_rss_mb=%.1f\n", qPrintable(mode),
                (endedMs < 0 ? clock.elapsed() : endedMs) / 1000.0, qPrintable(status), session.TrID(),
                peakKb / 1024.0);
    server.kill();
    server.waitForFinished();
    return 0;
}
