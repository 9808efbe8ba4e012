// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/MainWindow.h"

#include "contacts/ContactEntry.h"
#include "contacts/ContactListModel.h"
#include "contacts/ContactStore.h"
#include "contacts/RowFilter.h"
#include "messenger/Messenger.h"
#include "session/CheckDatabase.h"
#include "session/CheckResults.h"
#include "session/CheckService.h"
#include "shell/AboutWindow.h"
#include "services/AccountStore.h"
#include "shell/ClickableLabel.h"
#include "shell/ContactActions.h"
#include "shell/ContactListInput.h"
#include "shell/EntryPanel.h"
#include "shell/FindBox.h"
#include "shell/HelpWindow.h"
#include "shell/ListChecks.h"
#include "shell/ListKeeping.h"
#include "shell/Look.h"
#include "shell/Notices.h"
#include "shell/SaveDisplay.h"
#include "shell/ServerQuestion.h"
#include "shell/Shutdown.h"
#include "shell/StatusLine.h"
#include "shell/WatchNotices.h"
#include "services/Autostart.h"
#include "session/Watches.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QShortcut>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

const QString kExitPrompt = QStringLiteral("You will lose all your information of you don't save.\r\n"
                                           "Do You want to save your list?");

} // namespace

MainWindow::MainWindow(Layout layout, const ProgramParts& parts)
    : table(mainLayout(layout)), parts(parts), MessengerClient(parts.messenger), checks(parts.checks) {
    Look::ensureResources();
    setObjectName(QLatin1String(table.formName));
    setWindowTitle(QStringLiteral("Velmora"));
    if (table.ownIcon)
        setWindowIcon(QIcon(QStringLiteral(":/velmora32.png")));
    c = MainControls::build(this, table, parts.contacts);
    menus = MainMenus::build(this, table);
    buildTimers();
    // The layout is drawn for one size; a larger window only shows empty area around it.
    QMainWindow::layout()->setSizeConstraint(QLayout::SetFixedSize);

    statusLine = new StatusLine(c.Label1, c.Label2, this);
    connect(statusLine, &StatusLine::stoppedFollowingClient, Timer1, &QTimer::stop);
    panel = new EntryPanel(c, table, this);
    listInput = new ContactListInput(c.lvEmail);
    connect(listInput, &ContactListInput::clicked, this, &MainWindow::lvEmail_Click);
    connect(listInput, &ContactListInput::doubleClicked, this, &MainWindow::lvEmail_DblClick);
    connect(listInput, &ContactListInput::menuKeyPressed, this, &MainWindow::popContactMenuAtSelection);
    connect(c.cmdAdd, &QPushButton::clicked, this, &MainWindow::cmdAdd_Click);
    connect(c.txtEmail, &QLineEdit::returnPressed, c.cmdAdd, &QPushButton::click);
    connect(c.Image4, &ClickableLabel::clicked, this, &MainWindow::Image4_Click);
    connect(c.lblAdd, &ClickableLabel::clicked, this, &MainWindow::lblAdd_Click);
    actions = std::make_unique<ContactActions>(this, MessengerClient, parts.desktop);
    saveDisplay = std::make_unique<SaveDisplay>(this, c.pb1, tpb, tpb1, parts.shutdown);
    saving = std::make_unique<SaveRules>(
        *saveDisplay,
        [this] {
            const SaveResult saved = this->parts.contacts.save(this->parts.contactFile.file);
            if (saved.fileChanged) {
                // Told from the event loop: the save's bar is still running.
                QTimer::singleShot(0, this, [this] {
                    rowsChanged({});
                    Dialogs::show(this,
                                  QStringLiteral("%1 was changed by another program since Velmora read it. Your "
                                                 "added contacts were added to it, and your removals and edits "
                                                 "made to the contacts still in it; the lists now show the file.")
                                      .arg(this->parts.contactFile.file),
                                  Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
                });
            }
            return saved;
        },
        [this] { return this->parts.contacts.hasUnsavedChanges(); });
    startChecks();
}

MainWindow::~MainWindow() {
    // The run's rows go before the lists they mark.
    delete watchNotices;
    delete findBox;
    delete listChecks;
    checks.disconnect(this);
    MessengerClient.setStatusListener(nullptr, {});
}

void MainWindow::startChecks() {
    filter = std::make_unique<RowFilter>(std::vector<ContactListModel*>{c.nameRows, c.emailRows});
    listChecks = new ListChecks(this, c, parts.contacts, *filter, checks, parts.results, parts.watches,
                                menus.mnuCheckAll, menus.mnuOnlineOnly, menus.mnuWatchedOnly);
    findBox = new FindBox(c, parts.contacts, *filter, [this] { listChecks->showLine(); }, this);
    watchNotices = new WatchNotices(
        this, parts, *listChecks, menus,
        [this](const QString& address) { actions->handOff(&Messenger::InstantMessage, address, true); },
        [this](const QString& address) { showContact(address); });
    keeping = new ListKeeping(
        this, c, parts, *listChecks, [this](const std::vector<qint32>& select) { rowsChanged(select); },
        [this] { return messenger().MySigninName(); });
    for (QAbstractItemView* list : {static_cast<QAbstractItemView*>(c.lvName), static_cast<QAbstractItemView*>(c.lvEmail)}) {
        auto* del = new QShortcut(QKeySequence::Delete, list, nullptr, nullptr, Qt::WidgetShortcut);
        connect(del, &QShortcut::activated, this, &MainWindow::mnuRemoveContact_Click);
    }
    menus.trayStartAtLogin->setChecked(Autostart::enabled());
    connect(menus.contactMenu, &QMenu::aboutToShow, this, [this] {
        const std::optional<QString> contact = selectedContact();
        menus.mnuWatch->setEnabled(contact.has_value());
        menus.mnuWatch->setChecked(contact && parts.watches.contains(*contact));
    });
    connect(&parts.results, &CheckResults::notSaved, this, [this](const QString& error) {
        // Told from the event loop: the write may have been asked for from inside a list's paint.
        QTimer::singleShot(0, this, [this, error] {
            Dialogs::show(this,
                          QStringLiteral("Check results could not be saved: %1\n\nThey are in %2. Velmora keeps "
                                         "them and tries again every second.")
                              .arg(error, parts.database.path()),
                          Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
        });
    });
    connect(&checks, &CheckService::statusChanged, statusLine, &StatusLine::showSession);
    connect(&checks, &CheckService::statusChanged, this, &MainWindow::sessionChanged);
    connect(&checks, &CheckService::checked, statusLine,
            [this](const QString&, Outcome outcome) { statusLine->showOutcome(outcome); });
}

void MainWindow::buildTimers() {
    auto timer = [this](const char* name, int ms, void (MainWindow::*handler)()) {
        auto* t = new QTimer(this);
        t->setObjectName(QLatin1String(name));
        t->setInterval(ms);
        connect(t, &QTimer::timeout, this, handler);
        return t;
    };
    Timer1 = timer("Timer1", table.timer1Ms, &MainWindow::Timer1_Timer);
    if (table.hasTimer3)
        Timer3 = timer("Timer3", 1, &MainWindow::Timer3_Timer);
    tpb = timer("tpb", 100, &MainWindow::tpb_Timer);
    tpb1 = timer("tpb1", table.tpb1Ms, &MainWindow::tpb1_Timer);
    Timer1->start();
    if (Timer3)
        Timer3->start();
}

// ---- start-up and shut-down -------------------------------------------------

void MainWindow::Form_Load() {
    EntryCount = 0;
    menuBar()->setFont(Look::tahoma());
    statusLine->setHeading(QStringLiteral("My Status: "));
    menus.mnuOpen->setEnabled(false);

    MessengerClient.setStatusListener(this, [this] {
        if (std::exchange(waitingForClientStatus, false)) {
            startSessionAsClientAllows();
            return;
        }
        if (statusLine->followsClient() && !Timer1->isActive())
            Timer1->start();
        startSessionOnceClientIsOnline();
    });
    if (!MessengerClient.present()) {
        // Checks need no client: only the actions that hand a contact over do. Told under the
        // lists, where it does not stand in the way of the first click.
        listChecks->setNote(Notices::noClient());
        checks.start();
    } else if (MessengerClient.statusPending()) {
        waitingForClientStatus = true; // decided once the client has said
    } else {
        startSessionAsClientAllows();
    }
    if (const QString told = Notices::database(parts.database); !told.isEmpty())
        pendingNotices << told;

    LoadContactFile();
}

void MainWindow::startSessionAsClientAllows() {
    if (MessengerClient.MyStatus() == Messenger::MISTATUS_OFFLINE && !MessengerClient.answering()) {
        checks.start(); // a client that hangs is no client to wait for
    } else if (MessengerClient.MyStatus() == Messenger::MISTATUS_OFFLINE) {
        Dialogs::show(nullptr, QStringLiteral("MSN Is currently not connected.\r\nPlease connect to MSN"));
        waitingForClient = true;
    } else {
        checks.start();
    }
}

// A client that was offline at load and signs in later gets its session then.
void MainWindow::startSessionOnceClientIsOnline() {
    if (waitingForClient &&
        (messenger().MyStatus() != Messenger::MISTATUS_OFFLINE || !messenger().answering())) {
        waitingForClient = false;
        checks.start();
    }
}

// Stopped for good, the session starts again only when the user says so: after a sign-in
// elsewhere, once the other one is gone; after a refused sign-in, with a new password.
void MainWindow::sessionChanged(const SessionStatus& status) {
    const bool forGood = status.state == SessionState::GaveUp &&
                         (status.problem == SessionProblem::SignedInElsewhere ||
                          status.problem == SessionProblem::SignInRefused || status.problem == SessionProblem::NoServer);
    menus.mnuSignInAgain->setEnabled(forGood);
    const bool elsewhere = forGood && status.problem == SessionProblem::SignedInElsewhere;
    if (!elsewhere) {
        toldSignedInElsewhere = false;
        return;
    }
    if (std::exchange(toldSignedInElsewhere, true))
        return;
    // Told from the event loop: the session is still handing out its news.
    QTimer::singleShot(0, this, [this, account = c.handOverAccount->text()] {
        Dialogs::show(this,
                      QStringLiteral("Your second account, %1, was signed in somewhere else, so the service "
                                     "signed it out here and status checks have stopped. Once it is signed out "
                                     "there, choose File, Sign In Again.")
                          .arg(account),
                      Dialogs::Buttons::Ok, Dialogs::Icon::Warning, QStringLiteral("Signed in elsewhere"));
    });
}

void MainWindow::mnuSignInAgain_Click() {
    if (checks.status().state != SessionState::GaveUp)
        return;
    if (checks.status().problem == SessionProblem::NoServer && !askForServer(this))
        return;
    if (checks.status().problem == SessionProblem::SignInRefused) {
        const QString account = c.handOverAccount->text();
        const std::optional<QString> password = Dialogs::askPassword(
            this, QStringLiteral("The service refused the password of %1. Password:").arg(account),
            QStringLiteral("Sign In Again"));
        if (!password || password->isEmpty())
            return;
        setHandOver(account, *password);
        parts.passwords.save(account, *password, account, [this](const QString& notice) {
            QTimer::singleShot(0, this, [this, notice] {
                Dialogs::show(this, notice, Dialogs::Buttons::Ok, Dialogs::Icon::Information);
            });
        });
    }
    checks.start();
}

void MainWindow::setHandOver(const QString& account, const QString& password) {
    c.handOverAccount->setText(account);
    c.handOverPassword->setText(password);
    checks.setCredentials(account, password);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!pendingNotices.isEmpty()) {
        // Told once the window is up, not inside the load step where a modal box would let the
        // session's replies run before the account is set.
        QTimer::singleShot(0, this, [this] {
            const QStringList notices = std::exchange(pendingNotices, QStringList());
            if (!notices.isEmpty())
                Dialogs::show(this, notices.join(QStringLiteral("\n\n")), Dialogs::Buttons::Ok,
                              Dialogs::Icon::Warning);
        });
    }
}

SaveRules::Answer MainWindow::askSaveOnExit() {
    switch (Dialogs::show(this, kExitPrompt, Dialogs::Buttons::YesNo, Dialogs::Icon::Question,
                          QStringLiteral("Do you want to..."))) {
    case Dialogs::Answer::Yes:
        return SaveRules::Answer::Yes;
    case Dialogs::Answer::No:
        return SaveRules::Answer::No;
    default:
        return SaveRules::Answer::TurnedAway;
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (parts.shutdown.ending()) {
        event->accept();
        return;
    }
    const SaveRules::Answer answer = askSaveOnExit();
    // The exit run may have ended the program while the question was up.
    const SaveRules::Leave leave =
        parts.shutdown.ending() ? SaveRules::Leave::EndNow : saving->closeAnswered(answer);
    if (leave == SaveRules::Leave::Stay) {
        event->ignore();
        return;
    }
    if (leave == SaveRules::Leave::Saved) {
        checks.stop();
        for (QTimer* t : findChildren<QTimer*>())
            t->stop();
        menus.cSysTray2->hide();
    }
    event->accept();
    if (!parts.shutdown.ending())
        parts.shutdown.endAtOnce();
}

void MainWindow::mnuExit_Click() {
    saving->exitAnswered(askSaveOnExit());
}

void MainWindow::mnuSave_Click() {
    saving->save();
}

void MainWindow::tpb_Timer() {
    saving->tick(SaveRules::Run::Save);
}

void MainWindow::tpb1_Timer() {
    saving->tick(SaveRules::Run::Exit);
}

// ---- contact list and file --------------------------------------------------

void MainWindow::appendRow() {
    listChecks->contactAdded();
    findBox->contactAdded();
    ++EntryCount;
    if (Timer3)
        Timer3->start();
}

// Rows went, came back or changed: the lists, what they show and the count start again from the store.
void MainWindow::rowsChanged(const std::vector<qint32>& select) {
    c.nameRows->reset();
    c.emailRows->reset();
    listChecks->rowsChanged();
    findBox->rowsChanged();
    EntryCount = parts.contacts.rowCount();
    if (Timer3)
        Timer3->start();
    menus.mnuUndoRemove->setEnabled(keeping->canUndo());
    const int row = select.empty() ? -1 : c.emailRows->rowOf(select.front());
    const int shown = row >= 0 ? row : std::min(c.emailRows->rowCount() - 1, select.empty() ? -1 : int(select.front()));
    if (shown < 0)
        return;
    const QModelIndex at = c.emailRows->index(shown);
    c.lvEmail->selectionModel()->select(at, QItemSelectionModel::ClearAndSelect);
    c.lvEmail->setCurrentIndex(at);
    c.lvEmail->scrollTo(at);
}

void MainWindow::mnuUndoRemove_Click() {
    keeping->undoRemove();
}

void MainWindow::mnuCleanUp_Click() {
    keeping->cleanUp();
}

void MainWindow::mnuImport_Click() {
    keeping->importContacts();
}

void MainWindow::mnuExport_Click() {
    keeping->exportContacts();
}

void MainWindow::mnuEditContact_Click() {
    keeping->editSelected();
}

void MainWindow::mnuRemoveContact_Click() {
    keeping->removeSelected();
}

void MainWindow::LoadContactFile() {
    // The rows join the lists in one go, which nobody can tell apart from row by row inside the
    // load step.
    ContactStore& store = parts.contacts;
    const LoadResult result = store.load(parts.contactFile.file);
    EntryCount = store.rowCount();
    if (Timer3)
        Timer3->start();
    c.nameRows->showNewRows();
    c.emailRows->showNewRows();
    // A missing file is nothing saved yet: the first save creates it.
    pendingNotices << Notices::load(result, parts.contactFile.file);
    for (const QString& told :
         {Notices::readOnlyContactFile(parts.contactFile), Notices::sharedDataFolder(parts.contactFile)})
        if (!told.isEmpty())
            pendingNotices << told;
}

void MainWindow::Timer3_Timer() {
    // The line changes only with EntryCount, and whatever changes EntryCount starts the timer
    // again: between changes it rests instead of waking the program a thousand times a second.
    if (EntryCount != shownEntryCount) {
        shownEntryCount = EntryCount;
        c.Label6->setText(QStringLiteral("You have %1 enteries in your database.").arg(EntryCount));
    }
    Timer3->stop();
}

// ---- entry panel ------------------------------------------------------------

void MainWindow::lblAdd_Click() {
    panel->open();
}

void MainWindow::Image4_Click() {
    panel->close();
}

void MainWindow::txtName_GotFocus() {
    c.txtName->clear();
}

void MainWindow::txtEmail_GotFocus() {
    c.txtEmail->clear();
}

void MainWindow::cmdAdd_Click() {
    const QString name = c.txtName->text();
    const QString email = c.txtEmail->text();
    if (Dialogs::show(this, entryConfirmation(name, email), Dialogs::Buttons::YesNo, Dialogs::Icon::Question,
                      QStringLiteral("Is this correct?")) != Dialogs::Answer::Yes) {
        panel->giveFocus(c.txtName);
        return;
    }
    switch (judgeNewContact(name, email, messenger().MySigninName(), parts.contacts.NewContactCount())) {
    case EntryVerdict::NotAddable:
        Dialogs::show(this, QStringLiteral("Sorry, we cant add that email to your database."));
        return;
    case EntryVerdict::Unstorable:
        Dialogs::show(this, Notices::unstorable());
        return;
    case EntryVerdict::ListFull:
        Dialogs::show(this,
                      QStringLiteral("Your contact list is full: no more contacts can be added in this run. "
                                     "Save, then start Velmora again to add more."));
        return;
    case EntryVerdict::Add:
        break;
    }
    panel->close();
    parts.contacts.add(name, email);
    appendRow();
}

// ---- menus and tray ---------------------------------------------------------

void MainWindow::lvEmail_Click() {
    // Where the click was: later, under Wayland, the program no longer knows where the pointer is.
    menus.contactMenu->popup(listInput->clickedAt());
}

void MainWindow::popContactMenuAtSelection() {
    if (menus.contactMenu->isVisible())
        return;
    QPoint at(0, 0);
    const QModelIndexList rows = c.lvEmail->selectionModel()->selectedRows();
    if (!rows.isEmpty()) {
        c.lvEmail->scrollTo(rows.first());
        at = c.lvEmail->visualRect(rows.first()).bottomLeft();
    }
    menus.contactMenu->popup(c.lvEmail->viewport()->mapToGlobal(at));
}

void MainWindow::mnuSysTray_Click() {
    if (!parts.trayExists()) {
        // Hidden with no tray icon to bring it back, the window would be lost along with its
        // unsaved contacts: minimise instead.
        showMinimized();
        return;
    }
    menus.cSysTray2->show();
    hide();
}

void MainWindow::cSysTray2_MouseEvent() {
    showNormal();
    menus.cSysTray2->hide();
}

void MainWindow::mnuHelp1_Click() {
    HelpWindow help(parts.desktop, this);
    help.exec();
}

void MainWindow::mnuAbout_Click() {
    AboutWindow about(parts.desktop, this);
    about.exec();
}

void MainWindow::mnuFind_Click() {
    findBox->open();
}

void MainWindow::mnuCheckAll_Click() {
    listChecks->checkEveryoneOrStop();
}

void MainWindow::mnuOnlineOnly_Click() {
    listChecks->setOnlineOnly(menus.mnuOnlineOnly->isChecked());
}

void MainWindow::mnuClearResults_Click() {
    listChecks->clearResults();
}

// ---- status line and checks -------------------------------------------------

void MainWindow::Timer1_Timer() {
    statusLine->showClient(messenger().MyStatus() == Messenger::MISTATUS_OFFLINE);
    // A client that says when its status changes starts the timer again then; until that, every
    // tick would find the same.
    if (messenger().reportsStatusChanges())
        Timer1->stop();
    else
        startSessionOnceClientIsOnline();
}

std::optional<QString> MainWindow::selectedContact() const {
    const QModelIndexList rows = c.lvEmail->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return c.emailRows->text(rows.first().row());
}

bool MainWindow::requireSelection(QString* contact) {
    if (const auto s = selectedContact()) {
        *contact = *s;
        return true;
    }
    Dialogs::show(this, Notices::selectFirst());
    return false;
}

void MainWindow::startProbe() {
    if (c.emailRows->rowCount() == 0)
        return;
    QString contact;
    if (!requireSelection(&contact))
        return;
    statusLine->checkStarted(contact);
    checks.check(contact);
}

void MainWindow::mnuStats_Click() {
    startProbe();
}

void MainWindow::mnStats_Click() {
    startProbe();
}

// ---- contact actions --------------------------------------------------------

void MainWindow::lvEmail_DblClick() {
    QString contact;
    if (requireSelection(&contact))
        actions->conversationUnlessOwn(contact);
}

Messenger& MainWindow::messenger() {
    return MessengerClient;
}

// Conversation, e-mail and profile are silently skipped while the client is offline; the status
// is read before the selection.
void MainWindow::statusTestedAction(ContactActions::Call call) {
    if (actions->clientOffline())
        return;
    QString contact;
    if (requireSelection(&contact))
        actions->run(call, contact);
}

void MainWindow::mnuConvo_Click() {
    QString contact;
    if (selectedContact() || !actions->clientOffline())
        if (requireSelection(&contact))
            actions->handOff(&Messenger::InstantMessage, contact, true);
}

void MainWindow::mnuEmail_Click() {
    statusTestedAction(&Messenger::SendMail);
}

void MainWindow::mnuProfile_Click() {
    statusTestedAction(&Messenger::ViewProfile);
}

void MainWindow::mnuVConvo_Click() {
    QString contact;
    if (requireSelection(&contact))
        actions->handOff(&Messenger::StartVoice, contact, false);
}

// ---- watched contacts ---------------------------------------------------------

void MainWindow::mnuWatch_Click() {
    QString contact;
    if (!requireSelection(&contact))
        return;
    if (parts.watches.contains(contact)) {
        parts.watches.remove(contact);
        return;
    }
    const auto result = parts.results.find(contact);
    if (!parts.watches.add(contact, result && result->kind == ResultKind::Online))
        Dialogs::show(this,
                      QStringLiteral("The watch could not be kept in %1: %2\n\n%3 is watched until Velmora ends.")
                          .arg(parts.database.path(), parts.watches.problem(), contact),
                      Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
}

void MainWindow::mnuWatchedOnly_Click() {
    listChecks->setWatchedOnly(menus.mnuWatchedOnly->isChecked());
}

void MainWindow::trayStartAtLogin_Click() {
    const bool on = menus.trayStartAtLogin->isChecked();
    QString error;
    if (!Autostart::set(on, &error)) {
        menus.trayStartAtLogin->setChecked(!on);
        Dialogs::show(this, QStringLiteral("Velmora could not change how it starts at login: %1").arg(error),
                      Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
    }
}

void MainWindow::showContact(const QString& address) {
    if (isHidden())
        cSysTray2_MouseEvent();
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    for (const quint32 storeRow : listChecks->rowsOf(address)) {
        const int row = c.emailRows->rowOf(qint32(storeRow));
        if (row < 0)
            continue;
        const QModelIndex index = c.lvEmail->model()->index(row, 0);
        c.lvEmail->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
        c.lvEmail->scrollTo(index);
        return;
    }
}
