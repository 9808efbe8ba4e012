// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "contacts/SaveRules.h"
#include "session/CheckOutcome.h"
#include "shell/ContactActions.h"
#include "shell/Dialogs.h"
#include "shell/MainControls.h"
#include "shell/MainLayout.h"
#include "shell/MainMenus.h"
#include "shell/ProgramParts.h"

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class CheckService;
class FindBox;
class ListChecks;
class ListKeeping;
class RowFilter;
class ContactListInput;
class EntryPanel;
class Messenger;
class QTimer;
class SaveDisplay;
class StatusLine;
class WatchNotices;

// The main window, frmMain or frmMain2: one class, the layout chosen by table. It builds its
// controls and menus from the table, asks the rules below it (saving and leaving, the entry
// checks, the check service) and shows what they say.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // One a run, made by the one place that builds the program, which runs Form_Load next.
    MainWindow(Layout layout, const ProgramParts& parts);
    ~MainWindow() override;

    void setHandOver(const QString& account, const QString& password);

    // Handlers, under the names the rest of the program knows them by.
    void Form_Load();
    void LoadContactFile();
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
    void mnuFind_Click();
    void mnuCheckAll_Click();
    void mnuOnlineOnly_Click();
    void mnuClearResults_Click();
    void mnuSignInAgain_Click();
    void mnuWatch_Click();
    void mnuWatchedOnly_Click();
    void trayStartAtLogin_Click();
    void mnuUndoRemove_Click();
    void mnuCleanUp_Click();
    void mnuImport_Click();
    void mnuExport_Click();
    void mnuEditContact_Click();
    void mnuRemoveContact_Click();
    // The window in front (back from the tray if need be) with the contact's row selected.
    void showContact(const QString& address);

protected:
    void closeEvent(QCloseEvent* event) override; // Form_Unload
    void showEvent(QShowEvent* event) override;

private:
    void buildTimers();
    void startChecks();
    void startSessionOnceClientIsOnline();
    void startSessionAsClientAllows();
    void sessionChanged(const SessionStatus& status);
    std::optional<QString> selectedContact() const;
    bool requireSelection(QString* contact);
    SaveRules::Answer askSaveOnExit();
    void startProbe();
    Messenger& messenger();
    void statusTestedAction(ContactActions::Call call);
    void appendRow();
    void rowsChanged(const std::vector<qint32>& select);
    void popContactMenuAtSelection();


    const MainLayout& table;
    ProgramParts parts;
    MainControls c;
    MainMenus menus;

    // Window state
    Messenger& MessengerClient;
    CheckService& checks;
    StatusLine* statusLine = nullptr;
    EntryPanel* panel = nullptr;
    ContactListInput* listInput = nullptr;
    std::unique_ptr<ContactActions> actions;
    std::unique_ptr<RowFilter> filter; // what the lists show: every row, or what is found
    ListChecks* listChecks = nullptr;
    FindBox* findBox = nullptr;
    ListKeeping* keeping = nullptr;
    WatchNotices* watchNotices = nullptr;
    std::unique_ptr<SaveDisplay> saveDisplay;
    std::unique_ptr<SaveRules> saving;
    // Rows in the two lists; wider than the old 16 bits so long lists never wrap.
    qint32 EntryCount = 0;
    qint32 shownEntryCount = -1;   // what Label6 says, so Timer3 knows when it has news
    QStringList pendingNotices;    // told once the window is on screen
    bool waitingForClient = false; // the session starts once the offline client signs in
    bool waitingForClientStatus = false; // the client has not said its status yet
    bool toldSignedInElsewhere = false; // told once while it stays so

    QTimer* Timer1 = nullptr;
    QTimer* Timer3 = nullptr;
    QTimer* tpb = nullptr;
    QTimer* tpb1 = nullptr;
};
