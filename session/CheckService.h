#pragma once

#include "session/CheckEngine.h"

#include <QObject>
#include <QString>

// The status checks the program offers, whoever asks for them: the window's single check from
// the contact menu. Plain inputs (the account, a contact) and plain outcomes; the window puts
// them into words.
class CheckService : public QObject {
    Q_OBJECT
public:
    explicit CheckService(CheckEngine& engine, QObject* parent = nullptr);

    // Hands the account over; the session waits for it when it starts before the hand-over.
    void setCredentials(const QString& account, const QString& password);
    void start();
    void stop();
    SessionStatus status() const { return m_engine.status(); }

    // Checks one contact. A single check ends the one under way, whose answer is never told.
    void check(const QString& contact);

signals:
    void statusChanged(const SessionStatus& status);
    // The answer to the latest single check.
    void checked(const QString& contact, Outcome outcome);

private:
    void ended(int id, const QString& contact, Outcome outcome);

    CheckEngine& m_engine;
    int m_lastId = 0;
    int m_single = 0; // the single check under way
};
