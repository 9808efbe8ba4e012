// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ListChecks.h"

#include "contacts/ContactListModel.h"
#include "contacts/ContactStore.h"
#include "shell/Dialogs.h"
#include "shell/MainControls.h"
#include "shell/Marks.h"
#include "services/ProgramSettings.h"
#include "session/Watches.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDateTime>
#include <QItemSelectionModel>
#include <QLocale>
#include <QTime>
#include <QTimer>

namespace {

// How often, at most, the marks and the line under the lists follow the news.
constexpr int NewsMs = 300;

// [Checks] in the settings file: gentle by default, for a public server.
Pace paceFromSettings() {
    QSettings settings = programSettings();
    Pace pace;
    pace.perSecond = settings.value(QStringLiteral("Checks/PerSecond"), pace.perSecond).toDouble();
    pace.atOnce = settings.value(QStringLiteral("Checks/AtOnce"), pace.atOnce).toInt();
    return pace;
}

QString number(qint64 n) {
    return QLocale(QLocale::English).toString(n);
}

// "14:02" today, "3 Dec" this year, "3 Dec 2025" before.
QString when(qint64 ms) {
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms);
    const QDate today = QDate::currentDate();
    if (at.date() == today)
        return at.toString(QStringLiteral("HH:mm"));
    return at.toString(at.date().year() == today.year() ? QStringLiteral("d MMM") : QStringLiteral("d MMM yyyy"));
}

// "Offline, 14:02 · last seen online 3 Dec"
QString describe(const CheckResults::Result& result) {
    QString text = Marks::words(result.kind) + QStringLiteral(", ") + when(result.checkedAt);
    if (result.kind != ResultKind::Online && result.seenOnlineAt)
        text += QStringLiteral(" · last seen online ") + when(result.seenOnlineAt);
    if (result.kind == ResultKind::Uncertain)
        text += QStringLiteral("\nThe server said \"not online\", but it does not keep this contact's\n"
                               "status up to date for your second account, so that says nothing");
    return text;
}

QString duration(qint64 seconds) {
    const qint64 minutes = std::max<qint64>(1, (seconds + 30) / 60);
    if (minutes < 60)
        return minutes == 1 ? QStringLiteral("About a minute") : QStringLiteral("About %1 minutes").arg(minutes);
    const qint64 hours = minutes / 60;
    const qint64 rest = minutes % 60;
    QString text = hours == 1 ? QStringLiteral("About an hour") : QStringLiteral("About %1 hours").arg(hours);
    if (rest >= 5)
        text += QStringLiteral(" %1 minutes").arg(rest);
    return text;
}

// "1,204 of 5,000 · 87 online · 21 min left"
QString runLine(const RunProgress& p) {
    QString line = QStringLiteral("%1 of %2 · %3 online").arg(number(p.checked), number(p.total), number(p.online));
    if (p.paused)
        return line + QStringLiteral(" · waiting for the connection");
    if (p.slowed)
        return line + QStringLiteral(" · server busy, slowing down");
    const qint64 minutes = (p.secondsLeft + 30) / 60;
    if (p.secondsLeft < 0)
        return line;
    if (p.secondsLeft < 60)
        return line + QStringLiteral(" · under a minute left");
    if (minutes < 100)
        return line + QStringLiteral(" · %1 min left").arg(minutes);
    return line + QStringLiteral(" · %1 h left").arg(number((minutes + 30) / 60));
}

} // namespace

ListChecks::ListChecks(QWidget* window, MainControls& controls, const ContactStore& store, RowFilter& filter,
                       CheckService& checks, CheckResults& results, Watches& watches, QAction* checkAll,
                       QAction* onlineOnly, QAction* watchedOnly)
    : QObject(window), m_window(window), c(controls), m_filter(filter), m_store(store), m_checks(checks), m_results(results),
      m_checkAll(checkAll), m_onlineOnly(onlineOnly), m_watchedOnly(watchedOnly), m_watches(watches),
      m_marks(new MarkDelegate(c.lvEmail)), m_news(new QTimer(this)) {
    m_checks.setPace(paceFromSettings());
    m_marks->setRoomForMarks(m_results.any());
    m_marks->setRoomForEyes(m_watches.count() > 0);
    connect(&m_watches, &Watches::changed, this, &ListChecks::watchesChanged);
    c.lvEmail->setItemDelegate(m_marks);
    c.emailRows->setExtra([this](qint32 row, int role) { return extra(row, role); });
    m_news->setSingleShot(true);
    m_news->setInterval(NewsMs);
    connect(m_news, &QTimer::timeout, this, &ListChecks::showNews);
    connect(&m_results, &CheckResults::recorded, this, &ListChecks::recorded);
    connect(&m_checks, &CheckService::runChanged, this, &ListChecks::runChanged);
}

void ListChecks::runChanged(const RunProgress& progress) {
    if (progress.going) {
        m_lastProgress = progress;
        if (!m_news->isActive())
            m_news->start();
        return;
    }
    if (std::exchange(m_lastProgress.going, false)) {
        // Kept until the next run: a user who looked away still reads how it went.
        const QString checked = progress.completed || progress.checked >= progress.total
                                    ? number(progress.checked)
                                    : QStringLiteral("%1 of %2").arg(number(progress.checked), number(progress.total));
        m_summary = QStringLiteral("%1 checked at %2 · %3 online")
                        .arg(checked, QTime::currentTime().toString(QStringLiteral("HH:mm")), number(progress.online));
    }
    showNews(); // the menu says "Check Everyone" again at once
}

ListChecks::~ListChecks() = default;

// ---- the list as the run sees it ---------------------------------------------

AddressIndex& ListChecks::index() {
    if (!m_index) {
        m_index = std::make_unique<AddressIndex>();
        m_index->build(m_store);
    } else {
        m_index->catchUp();
    }
    return *m_index;
}

qint32 ListChecks::rows() const {
    return m_store.rowCount();
}

QString ListChecks::address(qint32 row) const {
    return m_store.rowField(row, ContactField::Email);
}

bool ListChecks::firstOfItsAddress(qint32 row) const {
    return const_cast<ListChecks*>(this)->index().firstOfItsAddress(row, address(row));
}

qint64 ListChecks::addresses() const {
    return const_cast<ListChecks*>(this)->index().distinct();
}

// ---- marks ---------------------------------------------------------------------

QVariant ListChecks::extra(qint32 storeRow, int role) {
    if (role != Marks::KindRole && role != Marks::WatchedRole && role != Qt::ToolTipRole &&
        role != Qt::AccessibleTextRole)
        return {};
    const QString contact = address(storeRow);
    const bool watched = m_watches.count() > 0 && m_watches.contains(contact);
    if (role == Marks::WatchedRole)
        return watched ? QVariant(true) : QVariant();
    const std::optional<CheckResults::Result> result = m_results.find(contact);
    if (!result && !watched)
        return {};
    if (role == Marks::KindRole)
        return result ? QVariant(int(result->kind)) : QVariant();
    QStringList parts{contact};
    if (role == Qt::ToolTipRole) {
        if (result)
            parts << describe(*result);
        if (watched)
            parts << QStringLiteral("Watched");
        return parts.join(QLatin1Char('\n'));
    }
    if (result)
        parts << Marks::words(result->kind);
    if (watched)
        parts << QStringLiteral("watched");
    return parts.join(QStringLiteral(", "));
}

void ListChecks::recorded(const QString& address, const CheckResults::Result&) {
    m_changed.insert(address);
    m_marks->setRoomForMarks(true);
    if (!m_news->isActive())
        m_news->start();
}

void ListChecks::showNews() {
    m_news->stop();
    if (!m_changed.isEmpty()) {
        if (m_filter.online())
            updateOnlineRows();
        c.emailRows->extraChanged();
        m_changed.clear();
    }
    m_checkAll->setText(m_checks.runGoing() ? QStringLiteral("Stop Checking") : QStringLiteral("Check Everyone"));
    showLine();
}

void ListChecks::showLine() {
    QStringList lines;
    if (const RunProgress progress = m_checks.progress(); progress.going)
        lines << runLine(progress);
    else if (!m_summary.isEmpty())
        lines << m_summary;
    if (!m_note.isEmpty())
        lines << m_note;
    if (m_filter.active())
        lines << QStringLiteral("%1 of %2 shown").arg(number(m_filter.shown()), number(m_store.rowCount()));
    c.showListInfo(lines.join(QLatin1Char('\n')));
}

// ---- the whole list ------------------------------------------------------------

void ListChecks::checkEveryoneOrStop() {
    if (m_checks.runGoing()) {
        m_checks.stopChecking();
        return;
    }
    const CheckService::Plan plan = m_checks.plan(*this);
    if (plan.seconds > 60) {
        const QString what = plan.resuming
                                 ? QStringLiteral("This goes on with the %1 contacts not checked yet, calling each once")
                                 : QStringLiteral("This calls each of your %1 contacts once");
        const QString question = what.arg(number(plan.addresses)) +
                                 QStringLiteral("; an online contact's messenger sees a call that ends at once. "
                                                "%1. Go on?")
                                     .arg(duration(plan.seconds));
        if (Dialogs::show(m_window, question, Dialogs::Buttons::YesNo, Dialogs::Icon::Question,
                          QStringLiteral("Check Everyone")) != Dialogs::Answer::Yes)
            return;
    }
    m_summary.clear();
    m_checks.checkEveryone(*this);
    showNews();
}

// ---- who is online -------------------------------------------------------------

// The store rows of these addresses, ascending.
std::vector<quint32> ListChecks::rowsOfAll(const QStringList& addresses) {
    std::vector<quint32> rows;
    for (const QString& address : addresses)
        for (quint32 row : index().rowsOf(address))
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void ListChecks::setOnlineOnly(bool on) {
    m_onlineOnly->setChecked(on);
    std::optional<std::vector<quint32>> rows;
    if (on)
        rows = rowsOfAll(m_results.online());
    c.keepEmailSelection([&] { m_filter.setOnline(std::move(rows)); });
    showLine();
}

void ListChecks::setWatchedOnly(bool on) {
    m_watchedOnly->setChecked(on);
    std::optional<std::vector<quint32>> rows;
    if (on)
        rows = rowsOfAll(m_watches.addresses());
    c.keepEmailSelection([&] { m_filter.setWatched(std::move(rows)); });
    showLine();
}

void ListChecks::watchesChanged() {
    m_marks->setRoomForEyes(m_watches.count() > 0);
    if (m_filter.watched())
        setWatchedOnly(true);
    c.emailRows->extraChanged();
}

void ListChecks::setNote(const QString& note) {
    m_note = note;
    showLine();
}

std::vector<quint32> ListChecks::rowsOf(const QString& address) {
    return index().rowsOf(address);
}

QString ListChecks::nameOf(const QString& address) {
    const std::vector<quint32> rows = rowsOf(address);
    return rows.empty() ? address : m_store.rowField(qint32(rows.front()), ContactField::Name);
}

// Contacts that went online join the lists, those that went offline leave them.
void ListChecks::updateOnlineRows() {
    std::vector<quint32> rows = *m_filter.online();
    for (const QString& changed : std::as_const(m_changed)) {
        const std::vector<quint32> its = index().rowsOf(changed);
        const auto result = m_results.find(changed);
        if (result && result->kind == ResultKind::Online) {
            rows.insert(rows.end(), its.begin(), its.end());
        } else {
            std::erase_if(rows, [&](quint32 row) { return std::binary_search(its.begin(), its.end(), row); });
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    c.keepEmailSelection([&] { m_filter.setOnline(std::move(rows)); });
}

void ListChecks::rowsChanged() {
    m_index.reset();
    if (m_filter.online())
        m_filter.setOnline(rowsOfAll(m_results.online()));
    if (m_filter.watched())
        m_filter.setWatched(rowsOfAll(m_watches.addresses()));
    showLine();
}

void ListChecks::contactAdded() {
    if (m_index)
        m_index->catchUp();
    c.nameRows->showNewRows();
    c.emailRows->showNewRows();
    if (m_filter.online()) {
        // Added while only online contacts are shown, it stays shown: it is what the user just did.
        std::vector<quint32> rows = *m_filter.online();
        rows.push_back(quint32(m_store.rowCount() - 1));
        c.keepEmailSelection([&] { m_filter.setOnline(std::move(rows)); });
    }
    showLine();
}

void ListChecks::clearResults() {
    if (Dialogs::show(m_window,
                      QStringLiteral("Forget every check result? The marks go, and so does who was online; your "
                                     "contacts stay as they are."),
                      Dialogs::Buttons::YesNo, Dialogs::Icon::Question,
                      QStringLiteral("Clear Check Results")) != Dialogs::Answer::Yes)
        return;
    m_checks.stopChecking();
    m_summary.clear();
    m_results.clear();
    m_marks->setRoomForMarks(false);
    if (m_filter.online())
        m_filter.setOnline(std::vector<quint32>{});
    c.emailRows->extraChanged();
    showNews();
}
