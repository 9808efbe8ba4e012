#include "shell/MainWindow.h"

#include "contacts/ContactFile.h"
#include "contacts/ContactListModel.h"
#include "contacts/ContactStore.h"
#include "messenger/Messenger.h"
#include "session/CheckDatabase.h"
#include "session/ServiceSession.h"
#include "session/SessionText.h"
#include "shell/AboutWindow.h"
#include "shell/ClickableLabel.h"
#include "shell/Dialogs.h"
#include "shell/HelpWindow.h"
#include "shell/Look.h"
#include "shell/Shutdown.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>

#include <memory>

namespace {

std::unique_ptr<MainWindow>& theWindow()
{
    static std::unique_ptr<MainWindow> w;
    return w;
}

const QString kExitPrompt = QStringLiteral("You will lose all your information of you don't save.\r\n"
                                           "Do You want to save your list?");

QLabel* picture(QWidget* parent, const char* name, const QRect& r, const char* file)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    if (file)
        l->setPixmap(QPixmap(QLatin1String(file)));
    return l;
}

QLabel* label(QWidget* parent, const char* name, const QRect& r, const QString& caption)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    return l;
}

// A one-column report list. A table with its row header hidden keeps 8 bytes a row (a tree view
// keeps an item of its own for every row), so a million contacts cost the list little.
class ReportList : public QTableView {
public:
    using QTableView::QTableView;

protected:
    // Home and End go to the first and the last row, as in any list; a table
    // would only move along the one column.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override
    {
        if (action == MoveHome || action == MoveEnd)
            modifiers |= Qt::ControlModifier;
        return QTableView::moveCursor(action, modifiers);
    }
};

QAbstractItemView* listView(QWidget* parent, const char* name, const QRect& r, ContactListModel* model)
{
    auto* v = new ReportList(parent);
    v->setObjectName(QLatin1String(name));
    v->setGeometry(r);
    v->setModel(model);
    v->setShowGrid(false);
    v->setWordWrap(false);
    v->setCornerButtonEnabled(false);
    v->setTabKeyNavigation(false); // Tab goes on to the next list, not down the rows
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->setSelectionMode(QAbstractItemView::SingleSelection);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    Look::setTextColor(v, Look::kInactiveCaption);

    // Rows as high as a report list's: one line of text in the list's font.
    QStyleOptionViewItem row;
    row.initFrom(v);
    row.font = v->font();
    row.fontMetrics = v->fontMetrics();
    row.features = QStyleOptionViewItem::HasDisplay;
    row.text = QStringLiteral("Ag");
    QHeaderView* rows = v->verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(1);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(
        v->style()->sizeFromContents(QStyle::CT_ItemViewItem, &row, QSize(), v).height());

    QHeaderView* caption = v->horizontalHeader();
    caption->setStretchLastSection(true);
    caption->setSectionsClickable(false);
    caption->setHighlightSections(false);
    caption->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return v;
}

QLineEdit* entryField(QWidget* parent, const char* name, const QRect& r, const QString& text)
{
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(r);
    e->setFrame(false);
    QPalette p = e->palette();
    p.setColor(QPalette::Base, Look::kEntryFieldBack);
    p.setColor(QPalette::Text, Look::kInactiveCaptionText);
    e->setPalette(p);
    return e;
}

QString sessionStatusText(const SessionStatus& status)
{
    switch (status.state) {
    case SessionState::Stopped:
        return {};
    case SessionState::Connecting:
        return status.again ? QString::fromLatin1(SessionText::Reconnecting) : QString();
    case SessionState::SignedIn:
        return QString::fromLatin1(SessionText::SignedIn);
    case SessionState::WaitingToRetry:
    case SessionState::GaveUp:
        break;
    }
    switch (status.problem) {
    case SessionProblem::None: return {};
    case SessionProblem::CannotConnect: return QString::fromLatin1(SessionText::CannotConnect);
    case SessionProblem::ConnectionLost: return QString::fromLatin1(SessionText::ConnectionLost);
    case SessionProblem::SignInStalled: return QString::fromLatin1(SessionText::SignInStalled);
    case SessionProblem::SignInRefused: return QString::fromLatin1(SessionText::SignInRefused);
    case SessionProblem::BadAccount: return QString::fromLatin1(SessionText::BadAccount);
    }
    return {};
}

QString outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Online: return QString::fromLatin1(SessionText::Online);
    case Outcome::Offline: return QString::fromLatin1(SessionText::Offline);
    case Outcome::NoSuchUser: return QString::fromLatin1(SessionText::NoSuchUser);
    case Outcome::Refused: return QString::fromLatin1(SessionText::CheckRefused);
    case Outcome::NoAnswer: return QString::fromLatin1(SessionText::NoAnswer);
    case Outcome::BadContact: return QString::fromLatin1(SessionText::BadContact);
    case Outcome::NotConnected: return QString::fromLatin1(SessionText::NotConnected);
    case Outcome::NotSignedIn: return QString::fromLatin1(SessionText::NotSignedIn);
    case Outcome::Interrupted: return QString::fromLatin1(SessionText::ConnectionLost);
    case Outcome::Cancelled: break;
    }
    return {};
}

QString databaseNotice(const CheckDatabase& database)
{
    return QStringLiteral("Velmora could not use its own database, so in this run it cannot check contacts "
                          "that are on none of your second account's lists.\n\n%1\n%2")
        .arg(database.path(), database.problem());
}

} // namespace

std::function<bool()> MainWindow::trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

MainWindow* MainWindow::obtain(Layout layout)
{
    auto& w = theWindow();
    if (!w) {
        w.reset(new MainWindow(layout));
        w->Form_Load();
    }
    return w.get();
}

MainWindow* MainWindow::existing()
{
    return theWindow().get();
}

void MainWindow::destroyInstance()
{
    theWindow().reset();
}

MainWindow::MainWindow(Layout layout) : table(mainLayout(layout))
{
    Look::ensureResources();
    setObjectName(QLatin1String(table.formName));
    setWindowTitle(QStringLiteral("Velmora"));
    if (table.ownIcon)
        setWindowIcon(QIcon(QStringLiteral(":/velmora32.png")));
    buildControls();
    buildMenus();
    buildTimers();
    // The layout is drawn for one size; a larger window only shows empty area around it.
    QMainWindow::layout()->setSizeConstraint(QLayout::SetFixedSize);
    database = std::make_unique<CheckDatabase>(checkDatabasePath(contactFilePath()));
    Session = new ServiceSession(database->usable() ? database.get() : nullptr, this);
    connect(Session, &ServiceSession::statusChanged, this, &MainWindow::showSessionStatus);
    connect(Session, &ServiceSession::checkEnded, this, &MainWindow::showCheckOutcome);
}

MainWindow::~MainWindow()
{
    // The session speaks to the database until it goes.
    delete Session;
}

void MainWindow::buildControls()
{
    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(table.client);
    setCentralWidget(client);

    const QRect bg(QPoint(0, 0), table.background);
    Image1 = picture(client, "Image1", bg, table.image1Picture);
    Image2 = picture(client, "Image2", bg, table.image2Picture);

    Label2 = label(client, "Label2", table.Label2, QStringLiteral("My Status:"));
    Look::setTextColor(Label2, Look::kGrey);
    if (table.label2Tahoma)
        Label2->setFont(Look::tahoma());
    Label1 = label(client, "Label1", table.Label1, QLatin1String(table.label1Caption));
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // They show a contact's address and what a server said: text, never markup.
    Label1->setTextFormat(Qt::PlainText);
    Label2->setTextFormat(Qt::PlainText);
    Label1->setFont(table.label1Verdana ? Look::verdana() : Look::tahoma());
    if (table.Label6)
        Label6 = label(client, "Label6", *table.Label6, QString());

    nameRows = new ContactListModel(contactStore(), ContactField::Name, QStringLiteral("Name:"), this);
    emailRows = new ContactListModel(contactStore(), ContactField::Email, QStringLiteral("E-Mail:"), this);
    lvName = listView(client, "lvName", table.lvName, nameRows);
    lvEmail = listView(client, "lvEmail", table.lvEmail, emailRows);
    lvEmail->viewport()->installEventFilter(this);
    lvEmail->installEventFilter(this);
    lvName->setAccessibleName(QStringLiteral("Contact names"));
    lvEmail->setAccessibleName(QStringLiteral("Contact e-mail addresses"));

    Label5 = label(client, "Label5", table.Label5, QStringLiteral("Add an Email"));
    Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label5->setFont(Look::timesNewRoman());
    Label3 = label(client, "Label3", table.Label3, QStringLiteral("Name:"));
    Label4 = label(client, "Label4", table.Label4, QStringLiteral("E-Mail:"));
    for (QLabel* l : {Label3, Label4, Label5})
        Look::setTextColor(l, Look::kInactiveCaption);
    txtName = entryField(client, "txtName", table.txtName, QStringLiteral("John Doe"));
    txtEmail = entryField(client, "txtEmail", table.txtEmail, QStringLiteral("someone@example.com"));
    txtName->installEventFilter(this);
    txtEmail->installEventFilter(this);
    Image3 = picture(client, "Image3", table.Image3, ":/contact32.png");
    cmdAdd = new QPushButton(QStringLiteral("Add Contact"), client);
    cmdAdd->setObjectName(QStringLiteral("cmdAdd"));
    cmdAdd->setGeometry(table.cmdAdd);
    connect(cmdAdd, &QPushButton::clicked, this, &MainWindow::cmdAdd_Click);
    connect(txtEmail, &QLineEdit::returnPressed, cmdAdd, &QPushButton::click);

    Image4 = ClickableLabel::picture(client, "Image4", table.Image4, QStringLiteral(":/close13.png"),
                                     QStringLiteral("Close Contact Addition"));
    Image4->actAsButton(QStringLiteral("Close Contact Addition"));
    connect(Image4, &ClickableLabel::clicked, this, &MainWindow::Image4_Click);

    if (table.Image5)
        Image5 = picture(client, "Image5", *table.Image5, table.image5Picture);

    pb1 = new QProgressBar(client);
    pb1->setObjectName(QStringLiteral("pb1"));
    pb1->setGeometry(table.pb1);
    pb1->setRange(0, 100);
    pb1->setValue(0);
    pb1->setTextVisible(false);

    lblAdd = new ClickableLabel(client);
    lblAdd->setObjectName(QStringLiteral("lblAdd"));
    lblAdd->setGeometry(table.lblAdd);
    lblAdd->setToolTip(QStringLiteral("Click Here to Add Contacts"));
    lblAdd->setCursor(Qt::PointingHandCursor);
    lblAdd->actAsButton(QStringLiteral("Add a Contact"));
    connect(lblAdd, &ClickableLabel::clicked, this, &MainWindow::lblAdd_Click);

    handOverAccount = new QLineEdit(client);
    handOverAccount->setObjectName(QLatin1String(table.accountField));
    handOverPassword = new QLineEdit(client);
    handOverPassword->setObjectName(QLatin1String(table.passwordField));
    handOverPassword->setEchoMode(QLineEdit::Password);

    // Initial state
    for (QWidget* w : {static_cast<QWidget*>(Label5), static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4),
                       static_cast<QWidget*>(txtName), static_cast<QWidget*>(txtEmail),
                       static_cast<QWidget*>(cmdAdd), static_cast<QWidget*>(Image4), static_cast<QWidget*>(pb1),
                       static_cast<QWidget*>(handOverAccount), static_cast<QWidget*>(handOverPassword)})
        w->hide();
    setPictures(table.atLoad);

    // Stacking: pictures and labels bottom up, then the controls above them all.
    for (const char* name : table.stacking)
        if (auto* w = client->findChild<QWidget*>(QLatin1String(name), Qt::FindDirectChildrenOnly))
            w->raise();
    for (QWidget* w : {static_cast<QWidget*>(lvName), static_cast<QWidget*>(lvEmail),
                       static_cast<QWidget*>(txtName), static_cast<QWidget*>(txtEmail),
                       static_cast<QWidget*>(cmdAdd), static_cast<QWidget*>(pb1)})
        w->raise();

    for (QWidget* w : client->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (w != lvName && w != lvEmail && w != txtName && w != txtEmail && w != cmdAdd && w != lblAdd &&
            w != Image4)
            w->setFocusPolicy(Qt::NoFocus);
    // The panel's boxes come first when it is open, the lists first while it is closed (hidden controls are
    // skipped); the chain is a ring, so both hold at once.
    QWidget* const ring[] = {txtName, txtEmail, cmdAdd, Image4, lvName, lvEmail, lblAdd};
    for (size_t i = 1; i < std::size(ring); ++i)
        setTabOrder(ring[i - 1], ring[i]);
}

void MainWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setFont(Look::tahoma());

    auto item = [this](QMenu* menu, const char* name, const QString& caption, void (MainWindow::*handler)(),
                       const QKeySequence& key = {}) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(key);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    auto separator = [](QMenu* menu, const char* name) { menu->addSeparator()->setObjectName(QLatin1String(name)); };
    auto menu = [](QWidget* parent, const char* name, const QString& caption) {
        auto* m = new QMenu(caption, parent);
        m->setObjectName(QLatin1String(name));
        m->menuAction()->setObjectName(QLatin1String(name));
        m->setFont(Look::tahoma());
        return m;
    };

    QMenu* file = menu(this, "mnuFile", QStringLiteral("&File"));
    item(file, "mnuSave", QStringLiteral("&Save"), &MainWindow::mnuSave_Click, QKeySequence(Qt::CTRL | Qt::Key_S));
    mnuOpen = file->addAction(QStringLiteral("&Open"));
    mnuOpen->setObjectName(QStringLiteral("mnuOpen"));
    mnuOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    separator(file, table.sepAfterOpen);
    item(file, "mnuStats", QStringLiteral("Check User Status"), &MainWindow::mnuStats_Click, QKeySequence(Qt::Key_F2));
    separator(file, table.sepAfterStats);
    item(file, "mnuSysTray", QLatin1String(table.sysTrayCaption), &MainWindow::mnuSysTray_Click, table.sysTrayKey);
    separator(file, table.sepBeforeExit);
    item(file, "mnuExit", QStringLiteral("E&xit"), &MainWindow::mnuExit_Click);
    bar->addMenu(file);

    QMenu* help = menu(this, "mnuHelp", QStringLiteral("&Help"));
    item(help, "mnuHelp1", QStringLiteral("&Help"), &MainWindow::mnuHelp1_Click, QKeySequence(Qt::Key_F1));
    separator(help, "mnuSep2");
    item(help, "mnuAbout", QStringLiteral("&About"), &MainWindow::mnuAbout_Click);
    bar->addMenu(help);

    // The contact menu sits on the bar hidden: only its pop-up is ever seen.
    contactMenu = menu(this, table.contactMenuName, QLatin1String(table.contactMenuCaption));
    item(contactMenu, "mnuConvo", QLatin1String(table.convoCaption), &MainWindow::mnuConvo_Click);
    separator(contactMenu, "sep7");
    item(contactMenu, "mnStats", QLatin1String(table.popupStatsCaption), &MainWindow::mnStats_Click);
    separator(contactMenu, "sep10");
    QMenu* view = menu(contactMenu, table.viewMenuName, QStringLiteral("&View"));
    item(view, "mnuProfile", QStringLiteral("&View Profile"), &MainWindow::mnuProfile_Click);
    separator(view, table.viewSepFirst);
    item(view, "mnuVConvo", QLatin1String(table.vconvoCaption), &MainWindow::mnuVConvo_Click);
    separator(view, table.viewSepSecond);
    item(view, "mnuEmail", QStringLiteral("&Send an Email"), &MainWindow::mnuEmail_Click);
    contactMenu->addMenu(view);
    bar->addMenu(contactMenu);
    contactMenu->menuAction()->setVisible(false);

    cSysTray2 = new QSystemTrayIcon(QIcon(QStringLiteral(":/velmora32.png")), this);
    cSysTray2->setObjectName(QStringLiteral("cSysTray2"));
    cSysTray2->setToolTip(QStringLiteral("Velmora v2.6"));
    // A right click asks for the icon's menu, not for the window.
    connect(cSysTray2, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
        if (why != QSystemTrayIcon::Context)
            cSysTray2_MouseEvent();
    });
    QMenu* tray = menu(this, "trayMenu", QString());
    tray->addAction(QStringLiteral("Restore"), this, &MainWindow::cSysTray2_MouseEvent)
        ->setObjectName(QStringLiteral("trayRestore"));
    // Leaving from the tray asks the same question, over the window it concerns.
    tray->addAction(QStringLiteral("Exit"), this,
                    [this] {
                        cSysTray2_MouseEvent();
                        mnuExit_Click();
                    })
        ->setObjectName(QStringLiteral("trayExit"));
    cSysTray2->setContextMenu(tray);
}

void MainWindow::buildTimers()
{
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
    statusFollowsClient = true;
    if (Timer3)
        Timer3->start();

    // A click on the e-mail list pops up the contact menu only once it is
    // clear that no double-click follows, so a double-click still reaches
    // its conversation.
    popupDelay = new QTimer(this);
    popupDelay->setObjectName(QStringLiteral("popupDelay"));
    popupDelay->setSingleShot(true);
    connect(popupDelay, &QTimer::timeout, this, &MainWindow::lvEmail_Click);
}

// ---- start-up and shut-down -------------------------------------------------

void MainWindow::Form_Load()
{
    EntryCount = 0;
    menuBar()->setFont(Look::tahoma());
    setStatusText(Label2, QStringLiteral("My Status: "));
    mnuOpen->setEnabled(false);

    MessengerClient = &programMessenger();
    MessengerClient->setStatusListener(this, [this] {
        if (statusFollowsClient && !Timer1->isActive())
            Timer1->start();
        startSessionOnceClientIsOnline();
    });
    if (!MessengerClient->present()) {
        // Checks need no client: only the actions that hand a contact over do.
        pendingNotices << QStringLiteral("No messenger client is running (Pidgin or Finch). Status checks work "
                                         "without one; conversations, voice calls, e-mail and profiles need one "
                                         "running.");
        Session->start();
    } else if (MessengerClient->MyStatus() == Messenger::MISTATUS_OFFLINE) {
        Dialogs::show(nullptr, QStringLiteral("MSN Is currently not connected.\r\nPlease connect to MSN"));
        waitingForClient = true;
    } else {
        Session->start();
    }
    if (!database->usable())
        pendingNotices << databaseNotice(*database);

    LoadContactFile();
}

// A client that was offline at load and signs in later gets its session then.
void MainWindow::startSessionOnceClientIsOnline()
{
    if (waitingForClient && messenger().MyStatus() != Messenger::MISTATUS_OFFLINE) {
        waitingForClient = false;
        Session->start();
    }
}

void MainWindow::setHandOver(const QString& account, const QString& password)
{
    handOverAccount->setText(account);
    handOverPassword->setText(password);
    Session->setCredentials(account, password);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!pendingNotices.isEmpty()) {
        // Told once the window is up, not inside the load step where a modal
        // box would let the session's replies run before the account is set.
        QTimer::singleShot(0, this, [this] {
            const QStringList notices = std::exchange(pendingNotices, QStringList());
            if (!notices.isEmpty())
                Dialogs::show(this, notices.join(QStringLiteral("\n\n")), Dialogs::Buttons::Ok,
                              Dialogs::Icon::Warning);
        });
    }
}

Dialogs::Answer MainWindow::askSaveOnExit()
{
    return Dialogs::show(this, kExitPrompt, Dialogs::Buttons::YesNo, Dialogs::Icon::Question,
                         QStringLiteral("Do you want to..."));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (Shutdown::ending()) {
        event->accept();
        return;
    }
    const Dialogs::Answer answer = askSaveOnExit();
    // The exit run may have ended the program while the question was up.
    if (Shutdown::ending()) {
        event->accept();
        return;
    }
    // Turning the question away is no answer: only No throws contacts away.
    if (answer == Dialogs::Answer::Closed) {
        event->ignore();
        return;
    }
    if (answer != Dialogs::Answer::Yes) {
        event->accept();
        Shutdown::endAtOnce();
        return;
    }
    if (!AppendNewContacts()) {
        // The contacts exist nowhere else: the window stays so they can be saved.
        event->ignore();
        return;
    }
    Session->stop();
    for (QTimer* t : findChildren<QTimer*>())
        t->stop();
    cSysTray2->hide();
    event->accept();
    Shutdown::endAtOnce();
}

void MainWindow::mnuExit_Click()
{
    const Dialogs::Answer answer = askSaveOnExit();
    if (Shutdown::ending() || answer == Dialogs::Answer::Closed)
        return;
    if (answer != Dialogs::Answer::Yes) {
        Shutdown::endAtOnce();
        return;
    }
    saveWithProgress(tpb1);
}

// ---- contact list and file --------------------------------------------------

void MainWindow::appendRow()
{
    nameRows->showNewRows();
    emailRows->showNewRows();
    ++EntryCount;
    if (Timer3)
        Timer3->start();
}

void MainWindow::LoadContactFile()
{
    // The rows join the lists in one go, which nobody can tell apart from
    // row by row inside the load step.
    const qint32 before = ContactCount;
    const LoadResult result = loadContactStore(contactFilePath());
    EntryCount += ContactCount - before;
    if (Timer3)
        Timer3->start();
    nameRows->showNewRows();
    emailRows->showNewRows();

    switch (result.status) {
    case LoadStatus::Loaded:
    case LoadStatus::FileMissing: // nothing saved yet: the first save creates it
        break;
    case LoadStatus::FolderMissing:
        pendingNotices << QStringLiteral("The folder for your contact list is missing, so no contacts were "
                                         "loaded and saving will fail until it exists.\n\n%1")
                              .arg(result.error);
        break;
    case LoadStatus::ReadError:
        pendingNotices << QStringLiteral("Your contact list could not be read.\n\n%1").arg(result.error);
        break;
    }
    // Each notice adds to the others: none may hide another.
    if (result.stats.damagedLines > 0)
        pendingNotices << QStringLiteral("%1 damaged line(s) in your contact file could not be read and were "
                                         "skipped. They stay in the file; every other contact was loaded.\n\n%2")
                              .arg(result.stats.damagedLines)
                              .arg(contactFilePath());
    if (result.leftOut > 0)
        pendingNotices << QStringLiteral("Your contact file holds more contacts than Velmora can show: %1 "
                                         "were left out. They stay in the file.")
                              .arg(result.leftOut);
}

bool MainWindow::AppendNewContacts()
{
    const bool nothingToWrite = SavedContactCount >= NewContactCount;
    const SaveResult result = appendUnsavedContacts(contactFilePath());
    // With nothing to write nothing can be lost: a folder that will not take
    // the empty file is no reason to hold the user back.
    if (result.ok || nothingToWrite)
        return true;
    // The failure box lets timers run: no paced run may go on to "Save
    // Complete", or to the end of the program, while it is up or after it.
    tpb->stop();
    tpb1->stop();
    pb1->hide();
    Dialogs::show(this, QStringLiteral("Your contacts were not saved.\n\n%1\n\nThey are still here; "
                                       "try saving again once the problem is fixed.")
                            .arg(result.error),
                  Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
    return false;
}

// The file work first; only a save that worked gets its paced run. A run
// already going keeps going.
void MainWindow::saveWithProgress(QTimer* run)
{
    if (!AppendNewContacts())
        return;
    pb1->show();
    if (!run->isActive())
        run->start();
}

void MainWindow::mnuSave_Click()
{
    saveWithProgress(tpb);
}

void MainWindow::Timer3_Timer()
{
    // The line changes only with EntryCount, and whatever changes EntryCount
    // starts the timer again: between changes it rests instead of waking the
    // program a thousand times a second.
    if (EntryCount != shownEntryCount) {
        shownEntryCount = EntryCount;
        Label6->setText(QStringLiteral("You have %1 enteries in your database.").arg(EntryCount));
    }
    Timer3->stop();
}

// ---- save progress ----------------------------------------------------------

void MainWindow::progressTick(QTimer* timer, bool endsProgram)
{
    const int value = pb1->value();
    if (value < 100) {
        pb1->setValue(value + 1);
        return;
    }
    timer->stop();
    // Contacts added while the exit run went on are written before the end;
    // if that fails the program stays, and the user has been told.
    if (endsProgram && !AppendNewContacts())
        return;
    pb1->hide();
    Dialogs::show(this, QStringLiteral("Save Complete"), Dialogs::Buttons::Ok, Dialogs::Icon::None,
                  QStringLiteral("Complete"));
    if (endsProgram && !Shutdown::ending())
        Shutdown::endAtOnce();
}

void MainWindow::tpb_Timer() { progressTick(tpb, false); }
void MainWindow::tpb1_Timer() { progressTick(tpb1, true); }

// ---- entry panel ------------------------------------------------------------

void MainWindow::setPictures(const PanelPictures& p)
{
    Image1->setVisible(p.Image1);
    Image2->setVisible(p.Image2);
    Image3->setVisible(p.Image3);
    if (Image5 && p.Image5)
        Image5->setVisible(*p.Image5);
}

void MainWindow::setListHeights(int height)
{
    lvName->resize(lvName->width(), height);
    lvEmail->resize(lvEmail->width(), height);
}

void MainWindow::giveFocus(QLineEdit* box)
{
    box->setFocus();
    // Receiving the focus empties the box, also where the platform sends no
    // focus event because the window is not active.
    box->clear();
}

void MainWindow::lblAdd_Click()
{
    Image4->show();
    setPictures(table.panelOpen);
    setListHeights(table.listOpenHeight);
    for (QWidget* w : {static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4),
                       static_cast<QWidget*>(txtName), static_cast<QWidget*>(txtEmail),
                       static_cast<QWidget*>(cmdAdd)})
        w->show();
    giveFocus(txtName);
    setTabOrder(txtName, txtEmail);
    letKeyboardReachHotSpot();
}

void MainWindow::closePanel()
{
    // Hiding the box that holds the focus would hand it to the next box,
    // which would empty that one: the focus goes back where the panel was opened.
    const QWidget* focused = client->focusWidget();
    if (focused == txtName || focused == txtEmail || focused == cmdAdd || focused == Image4)
        lblAdd->setFocus(Qt::OtherFocusReason);
    for (QWidget* w : {static_cast<QWidget*>(Image4), static_cast<QWidget*>(Label3),
                       static_cast<QWidget*>(Label4), static_cast<QWidget*>(txtName),
                       static_cast<QWidget*>(txtEmail), static_cast<QWidget*>(cmdAdd)})
        w->hide();
    setListHeights(table.lvName.height());
    setPictures(table.panelClosed);
    letKeyboardReachHotSpot();
}

// The keyboard reaches the hot spot only where the mouse can: a picture
// shown over it takes both.
void MainWindow::letKeyboardReachHotSpot()
{
    const bool reachable = client->childAt(lblAdd->geometry().center()) == lblAdd;
    lblAdd->setFocusPolicy(reachable ? Qt::TabFocus : Qt::NoFocus);
}

void MainWindow::Image4_Click() { closePanel(); }
void MainWindow::txtName_GotFocus() { txtName->clear(); }
void MainWindow::txtEmail_GotFocus() { txtEmail->clear(); }

namespace {
// The user's own moves into a box empty it; focus that merely comes back,
// from another window, a message box or a pop-up menu, leaves the text alone.
bool userMovedIn(Qt::FocusReason why)
{
    return why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason && why != Qt::MenuBarFocusReason;
}
} // namespace

void MainWindow::cmdAdd_Click()
{
    const QString name = txtName->text();
    const QString email = txtEmail->text();
    const QString confirm = name + QStringLiteral(": ") + email + QStringLiteral("\r\nIs this correct?");
    if (Dialogs::show(this, confirm, Dialogs::Buttons::YesNo, Dialogs::Icon::Question,
                      QStringLiteral("Is this correct?")) != Dialogs::Answer::Yes) {
        giveFocus(txtName);
        return;
    }
    // A client that cannot name its account cannot be matched; only the empty
    // address is refused then.
    const std::optional<QString> own = messenger().MySigninName();
    if (email.isEmpty() || (own && *own == email)) {
        Dialogs::show(this, QStringLiteral("Sorry, we cant add that email to your database."));
        return;
    }
    if (!isStorable(name) || !isStorable(email)) {
        Dialogs::show(this, QStringLiteral("A name or e-mail address cannot contain a double quote or a line "
                                           "break. Please change it and try again."));
        return;
    }
    if (NewContactCount >= kContactSlots) {
        Dialogs::show(this, QStringLiteral("Your contact list is full: no more contacts can be added in this "
                                           "run. Save, then start Velmora again to add more."));
        return;
    }
    closePanel();
    addContact(name, email);
    appendRow();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        if (userMovedIn(static_cast<QFocusEvent*>(event)->reason())) {
            if (watched == txtName)
                txtName_GotFocus();
            else if (watched == txtEmail)
                txtEmail_GotFocus();
        }
    } else if (watched == lvEmail->viewport()) {
        if (event->type() == QEvent::MouseButtonRelease) {
            // A double-click ends with a release of its own; it must not
            // start the pop-up over the conversation it opened.
            if (!std::exchange(releaseEndsDoubleClick, false)) {
                clickedAt = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
                popupDelay->start(QApplication::doubleClickInterval());
            }
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            popupDelay->stop();
            releaseEndsDoubleClick = true;
            lvEmail_DblClick();
            return true;
        }
    } else if (watched == lvEmail) {
        if (event->type() == QEvent::ContextMenu &&
            static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
            popContactMenuAtSelection(); // the Menu key, Shift+F10
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            const auto* k = static_cast<QKeyEvent*>(event);
            if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
                lvEmail_DblClick();
                return true;
            }
            // Some platforms turn these keys into the event above, others do not.
            if (k->key() == Qt::Key_Menu ||
                (k->key() == Qt::Key_F10 && k->modifiers() == Qt::ShiftModifier)) {
                popContactMenuAtSelection();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- menus and tray ---------------------------------------------------------

// The menu opens where the click was, not where the pointer is by the time it
// opens: under Wayland no program can ask where the pointer is, and what Qt
// keeps is only the last position it saw in one of this program's windows.
void MainWindow::lvEmail_Click()
{
    popContactMenu(clickedAt);
}

void MainWindow::popContactMenu(const QPoint& globalPos)
{
    contactMenu->popup(globalPos);
}

void MainWindow::popContactMenuAtSelection()
{
    if (contactMenu->isVisible())
        return;
    QPoint at(0, 0);
    const QModelIndexList rows = lvEmail->selectionModel()->selectedRows();
    if (!rows.isEmpty()) {
        lvEmail->scrollTo(rows.first());
        at = lvEmail->visualRect(rows.first()).bottomLeft();
    }
    popContactMenu(lvEmail->viewport()->mapToGlobal(at));
}

void MainWindow::mnuSysTray_Click()
{
    if (!trayAvailable()) {
        // Hidden with no tray icon to bring it back, the window would be lost
        // along with its unsaved contacts: minimise instead.
        showMinimized();
        return;
    }
    cSysTray2->show();
    hide();
}

void MainWindow::cSysTray2_MouseEvent()
{
    showNormal();
    cSysTray2->hide();
}

void MainWindow::mnuHelp1_Click()
{
    HelpWindow help(this);
    help.exec();
}

void MainWindow::mnuAbout_Click()
{
    AboutWindow about(this);
    about.exec();
}

// ---- service session and status ---------------------------------------------

void MainWindow::Timer1_Timer()
{
    const QString text = messenger().MyStatus() == Messenger::MISTATUS_OFFLINE
                             ? QStringLiteral("MSN  (Offline)")
                             : QStringLiteral("Signing You In...");
    if (Label1->text() != text)
        setStatusText(Label1, text);
    // A client that says when its status changes starts the timer again then;
    // until that, every tick would find the same.
    if (messenger().reportsStatusChanges())
        Timer1->stop();
    else
        startSessionOnceClientIsOnline();
}

// A screen reader reads the two labels as one line: whose status, then what it is.
void MainWindow::setStatusText(QLabel* label, const QString& text)
{
    label->setText(text);
    Label1->setAccessibleName(Label2->text() + Label1->text());
}

std::optional<QString> MainWindow::selectedContact() const
{
    const QModelIndexList rows = lvEmail->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return emailRows->text(rows.first().row());
}

bool MainWindow::requireSelection(QString* contact)
{
    if (const auto s = selectedContact()) {
        *contact = *s;
        return true;
    }
    Dialogs::show(this, QStringLiteral("Please select a contact in the E-Mail list first."));
    return false;
}

void MainWindow::startProbe()
{
    if (emailRows->rowCount() == 0)
        return;
    QString contact;
    if (!requireSelection(&contact))
        return;
    stopFollowingClient();
    setStatusText(Label2, contact + QLatin1String(SessionText::StatusSuffix));
    // The answer shown so far belongs to the contact checked before.
    setStatusText(Label1, QString());
    // A new check ends the one under way: no answer of an older check reaches the status line.
    if (const int older = std::exchange(currentCheck, Session->newCheckId()))
        Session->cancel(older);
    Session->check(currentCheck, contact);
}

void MainWindow::stopFollowingClient()
{
    statusFollowsClient = false;
    Timer1->stop();
}

void MainWindow::showSessionStatus(const SessionStatus& status)
{
    const QString text = sessionStatusText(status);
    if (text.isNull())
        return;
    // Timer1 would paint the client's status over the news.
    stopFollowingClient();
    setStatusText(Label1, text);
}

void MainWindow::showCheckOutcome(int id, const QString&, Outcome outcome)
{
    if (id != currentCheck || outcome == Outcome::Cancelled)
        return;
    currentCheck = 0;
    setStatusText(Label1, outcomeText(outcome));
}

void MainWindow::mnuStats_Click() { startProbe(); }
void MainWindow::mnStats_Click() { startProbe(); }

// ---- contact actions --------------------------------------------------------

void MainWindow::reportClientFailure(const ClientResult& result)
{
    if (!result.ok)
        Dialogs::show(this, result.error);
}

void MainWindow::lvEmail_DblClick()
{
    QString contact;
    if (!requireSelection(&contact))
        return;
    const std::optional<QString> own = messenger().MySigninName();
    if (own && *own == contact) {
        Dialogs::show(this, QStringLiteral("You cant send a msg to yourself."));
        return;
    }
    reportClientFailure(messenger().InstantMessage(contact));
}

Messenger& MainWindow::messenger()
{
    if (!MessengerClient)
        MessengerClient = &programMessenger();
    return *MessengerClient;
}

// Conversation, e-mail and profile are silently skipped while the client is
// offline; the status is read before the selection.
void MainWindow::statusTestedAction(ClientResult (Messenger::*call)(const QString&))
{
    if (messenger().MyStatus() == Messenger::MISTATUS_OFFLINE)
        return;
    QString contact;
    if (requireSelection(&contact))
        reportClientFailure((messenger().*call)(contact));
}

void MainWindow::mnuConvo_Click() { statusTestedAction(&Messenger::InstantMessage); }
void MainWindow::mnuEmail_Click() { statusTestedAction(&Messenger::SendMail); }
void MainWindow::mnuProfile_Click() { statusTestedAction(&Messenger::ViewProfile); }

void MainWindow::mnuVConvo_Click()
{
    QString contact;
    if (requireSelection(&contact))
        reportClientFailure(messenger().StartVoice(contact));
}
