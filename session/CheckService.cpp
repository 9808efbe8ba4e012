#include "session/CheckService.h"

CheckService::CheckService(CheckEngine& engine, QObject* parent) : QObject(parent), m_engine(engine) {
    connect(&m_engine, &CheckEngine::statusChanged, this, &CheckService::statusChanged);
    connect(&m_engine, &CheckEngine::checkEnded, this, &CheckService::ended);
}

void CheckService::setCredentials(const QString& account, const QString& password) {
    m_engine.setCredentials(account, password);
}

void CheckService::start() {
    m_engine.start();
}

void CheckService::stop() {
    m_engine.stop();
}

void CheckService::check(const QString& contact) {
    // No answer of an older check may ever stand beside the newer contact's name.
    if (const int older = std::exchange(m_single, ++m_lastId))
        m_engine.cancel(older);
    m_engine.check(m_single, contact);
}

void CheckService::ended(int id, const QString& contact, Outcome outcome) {
    if (id != m_single)
        return;
    m_single = 0;
    emit checked(contact, outcome);
}
