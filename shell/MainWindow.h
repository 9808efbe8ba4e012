#pragma once

#include "shell/Dialogs.h"
#include "shell/MainLayout.h"

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class ClickableLabel;
class ContactListModel;
class Messenger;
struct ClientResult;
class QAbstractItemView;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSystemTrayIcon;
class QTimer;
class CheckDatabase;
class ServiceSession;
struct SessionStatus;
enum class Outcome;

// The main window, frmMain or frmMain2: one class, the layout chosen by table.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // The single instance of a run; created and loaded on first use.
    static MainWindow* obtain(Layout layout);
    static MainWindow* existing();
    static void destroyInstance();

    ~MainWindow() override;

    const MainLayout& layoutTable() const { return table; }
    void setHandOver(const QString& account, const QString& password);
    qint32 entryCount() const { return EntryCount; }
    ServiceSession* session() const { return Session; }

    // Whether a tray exists; tests replace it. Without one, hiding minimises.
    static std::function<bool()> trayAvailable;

    // Handlers, under the names the rest of the program knows them by.
    void Form_Load();
    void LoadContactFile();
    bool AppendNewContacts();
    void mnuSave_Click();
    void mnuExit_Click();
    void Timer1_Timer();
    void Timer3_Timer();
    void tpb_Timer();
    void tpb1_Timer();
    void lblAdd_Click();
    void Image4_Click();
    void txtName_GotFocus();
    void txtEmail_GotFocus();
    void cmdAdd_Click();
    void lvEmail_Click();
    void lvEmail_DblClick();
    void mnuSysTray_Click();
    void cSysTray2_MouseEvent();
    void mnuStats_Click();
    void mnStats_Click();
    void mnuConvo_Click();
    void mnuEmail_Click();
    void mnuProfile_Click();
    void mnuVConvo_Click();
    void mnuHelp1_Click();
    void mnuAbout_Click();

protected:
    void closeEvent(QCloseEvent* event) override; // Form_Unload
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit MainWindow(Layout layout);
    void buildControls();
    void buildMenus();
    void buildTimers();
    void setPictures(const PanelPictures& p);
    void closePanel();
    void setListHeights(int height);
    void giveFocus(QLineEdit* box);
    std::optional<QString> selectedContact() const;
    Dialogs::Answer askSaveOnExit();
    void progressTick(QTimer* timer, bool endsProgram);
    void saveWithProgress(QTimer* run);
    void startProbe();
    void stopFollowingClient();
    void showSessionStatus(const SessionStatus& status);
    void showCheckOutcome(int id, const QString& contact, Outcome outcome);
    void startSessionOnceClientIsOnline();
    void reportClientFailure(const ClientResult& result);
    Messenger& messenger();
    void statusTestedAction(ClientResult (Messenger::*call)(const QString&));
    bool requireSelection(QString* contact);
    void appendRow();
    void setStatusText(QLabel* label, const QString& text);
    void popContactMenu(const QPoint& globalPos);
    void popContactMenuAtSelection();
    void letKeyboardReachHotSpot();

    const MainLayout& table;

    // Window state
    Messenger* MessengerClient = nullptr;
    std::unique_ptr<CheckDatabase> database;
    ServiceSession* Session = nullptr;
    int currentCheck = 0; // the check whose answer the status line waits for
    bool waitingForClient = false; // the session starts once the offline client signs in
    // Rows in the two lists; wider than the old 16 bits so long lists never wrap.
    qint32 EntryCount = 0;
    qint32 shownEntryCount = -1; // what Label6 says, so Timer3 knows when it has news
    // Label1 follows the client from the load until sign-in or a check; Timer1
    // rests meanwhile whenever the client has no news.
    bool statusFollowsClient = false;
    QStringList pendingNotices; // told once the window is on screen
    bool releaseEndsDoubleClick = false; // the release that follows a double-click is no click
    QPoint clickedAt; // where the last click on the e-mail list was let go, in global coordinates

    // Controls
    QWidget* client = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    ClickableLabel* Image4 = nullptr;
    QLabel* Image5 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    ClickableLabel* lblAdd = nullptr;
    QAbstractItemView* lvName = nullptr;
    QAbstractItemView* lvEmail = nullptr;
    ContactListModel* nameRows = nullptr;
    ContactListModel* emailRows = nullptr;
    QLineEdit* txtName = nullptr;
    QLineEdit* txtEmail = nullptr;
    QLineEdit* handOverAccount = nullptr;
    QLineEdit* handOverPassword = nullptr;
    QPushButton* cmdAdd = nullptr;
    QProgressBar* pb1 = nullptr;

    QTimer* Timer1 = nullptr;
    QTimer* Timer3 = nullptr;
    QTimer* tpb = nullptr;
    QTimer* tpb1 = nullptr;
    QTimer* popupDelay = nullptr;

    QMenu* contactMenu = nullptr;
    QAction* mnuOpen = nullptr;
    QSystemTrayIcon* cSysTray2 = nullptr;
};
