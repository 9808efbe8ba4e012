// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "contacts/AddressIndex.h"
#include "contacts/RowFilter.h"
#include "session/CheckResults.h"
#include "session/CheckService.h"

#include <QObject>
#include <QSet>
#include <memory>

class ContactStore;
class Watches;
class MarkDelegate;
class QAction;
class QTimer;
class QWidget;
struct MainControls;

// What the window shows of checks over the whole list: "Check Everyone" and its question, the
// line under the lists with the run's progress (then its summary, until the next run) and what
// the filter shows, a mark per row of the e-mail list and an eye beside it for a watched contact,
// "Show Online Only" and "Watched Contacts Only". The checks themselves are the check service's.
class ListChecks : public QObject, private RunList {
    Q_OBJECT
public:
    ListChecks(QWidget* window, MainControls& controls, const ContactStore& store, RowFilter& filter,
               CheckService& checks, CheckResults& results, Watches& watches, QAction* checkAll,
               QAction* onlineOnly, QAction* watchedOnly);
    ~ListChecks() override;

    // "Check Everyone", or "Stop Checking" while a run goes.
    void checkEveryoneOrStop();
    void setOnlineOnly(bool on);
    void setWatchedOnly(bool on);
    // A line of its own under the lists, kept until the next one; empty: none.
    void setNote(const QString& note);
    // The store rows of an address, in any letter case, and the name on its first.
    std::vector<quint32> rowsOf(const QString& address);
    QString nameOf(const QString& address);
    void clearResults();
    // A contact joined the lists: found by the run, and shown while only online contacts are.
    void contactAdded();
    // Rows went, came back or changed: rows are found afresh.
    void rowsChanged();
    // The rows shown changed (the find box): the line under the lists says so.
    void showLine();

private:
    // RunList
    qint32 rows() const override;
    QString address(qint32 row) const override;
    bool firstOfItsAddress(qint32 row) const override;
    qint64 addresses() const override;

    AddressIndex& index();
    QVariant extra(qint32 storeRow, int role);
    void recorded(const QString& address, const CheckResults::Result& result);
    void showNews();
    void updateOnlineRows();
    void watchesChanged();
    std::vector<quint32> rowsOfAll(const QStringList& addresses);
    void runChanged(const RunProgress& progress);

    QWidget* m_window;
    MainControls& c;
    RowFilter& m_filter;
    const ContactStore& m_store;
    CheckService& m_checks;
    CheckResults& m_results;
    QAction* m_checkAll;
    QAction* m_onlineOnly;
    QAction* m_watchedOnly;
    Watches& m_watches;
    RunProgress m_lastProgress;
    QString m_summary; // of the run that ended last
    QString m_note;
    MarkDelegate* m_marks;
    std::unique_ptr<AddressIndex> m_index;
    QSet<QString> m_changed; // addresses with news since the lists were last told
    QTimer* m_news;          // the lists and the line are told at most a few times a second
};
