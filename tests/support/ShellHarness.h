// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/Program.h"
#include "messenger/Messenger.h"
#include "shell/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPoint>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <deque>

// A messenger client the tests steer and watch. Like the libpurple bridge it says when its
// status changes, unless it is one that can only be polled.
class FakeMessenger : public Messenger {
public:
    bool running = true; // a client answers at all
    bool hung = false;   // it is there but answers nothing in time
    bool polled = false; // it cannot say when its status changes: the window asks at every tick
    bool pending = false; // it has not said its status yet
    bool silent = false;  // it takes actions and never answers them
    bool takes = true;    // it can reach the contacts (an MSN account, or they are its buddies)
    std::optional<QString> signinName = QStringLiteral("me@example.com");
    ClientResult answer; // what every action returns
    QStringList calls;   // "InstantMessage:addr", ...
    int statusReads = 0;

    void setStatus(int status)
    {
        m_status = status;
        if (!polled)
            statusMayHaveChanged();
    }
    bool present() override { return running; }
    bool statusPending() override { return pending; }
    bool answering() override { return !hung; }
    int MyStatus() override
    {
        ++statusReads;
        return m_status;
    }
    bool reportsStatusChanges() const override { return !polled; }
    std::optional<QString> MySigninName() override { return signinName; }
    void takesContact(const QString& c, std::function<void(bool)> then) override { then(takes && !c.isEmpty()); }
    void InstantMessage(const QString& c, Done done) override { record("InstantMessage", c, done); }
    void StartVoice(const QString& c, Done done) override { record("StartVoice", c, done); }
    void SendMail(const QString& c, Done done) override { record("SendMail", c, done); }
    void ViewProfile(const QString& c, Done done) override { record("ViewProfile", c, done); }
    // The client says its status for the first time.
    void answerStatus(int status)
    {
        pending = false;
        m_status = status;
        statusMayHaveChanged();
    }

private:
    void record(const char* what, const QString& c, const Done& done)
    {
        calls << QStringLiteral("%1:%2").arg(QLatin1String(what), c);
        if (!silent)
            done(answer);
    }
    int m_status = 2;
};

// Answers message boxes in place of the user and keeps what they said. Like a
// real box, each one stays up a moment before it is answered, and everything
// else goes on meanwhile: timers tick and sockets deliver under it.
class DialogScript {
public:
    explicit DialogScript(std::function<bool()> programEnding) : ending(std::move(programEnding))
    {
        Dialogs::setResponder([this](const Dialogs::Request& r) {
            shown.push_back(r);
            // Like a real box it is modal: while it is up the window gets no input.
            Modal modal;
            qApp->installEventFilter(&modal);
            if (onShow)
                onShow(r);
            Dialogs::Answer a =
                r.buttons == Dialogs::Buttons::YesNo ? Dialogs::Answer::No : Dialogs::Answer::Ok;
            if (!answers.empty()) {
                a = answers.front();
                answers.pop_front();
            }
            if (upFor.count() > 0) {
                QEventLoop up;
                QTimer::singleShot(upFor, &up, &QEventLoop::quit);
                loops.push_back(&up);
                up.exec();
                loops.pop_back();
            }
            qApp->removeEventFilter(&modal);
            // The program ended under the box: nobody answered it.
            if (ending() && r.buttons == Dialogs::Buttons::YesNo)
                return Dialogs::Answer::Closed;
            return a;
        });
    }
    ~DialogScript() { Dialogs::setResponder({}); }

    // The program ends as a real one does: every box that is up goes with it, unanswered.
    void endEveryBox()
    {
        for (QEventLoop* loop : loops)
            loop->exit();
    }

    QStringList prompts() const
    {
        QStringList out;
        for (const auto& r : shown)
            out << r.prompt;
        return out;
    }

    std::deque<Dialogs::Answer> answers;
    std::vector<Dialogs::Request> shown;
    std::function<void(const Dialogs::Request&)> onShow;
    // How long a box is up before it is answered: longer than the progress
    // timers' interval, so they tick under it as they do under a user's box.
    // Zero answers at once, for measurements that must not include a wait.
    std::chrono::milliseconds upFor{150};

private:
    // Swallows the input a modal box keeps from every other window.
    class Modal : public QObject {
    protected:
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::Wheel:
                return true;
            default:
                return QObject::eventFilter(watched, event);
            }
        }
    };

    std::function<bool()> ending;   // whether the program is ending
    std::vector<QEventLoop*> loops; // of the boxes up just now, innermost last
};

// A double-click as real input delivers it: press, release, press,
// double-click, release.
void doubleClick(QWidget* widget, QPoint at);

// Everything a shell test needs set aside for it: a temporary program folder with data/, a
// private settings store, a fake client, answered dialogs and an observed program end; and the
// program built as the real one is, from these, when first asked for.
class ShellHarness {
public:
    explicit ShellHarness(bool withDataFolder = true);
    ~ShellHarness();

    QString dataDir() const { return dir.path() + QStringLiteral("/data"); }
    QString contactFile() const { return dataDir() + QStringLiteral("/database.dat"); }
    void writeContactFile(const QByteArray& bytes) const;
    QByteArray contactFileBytes() const;

    Program& program();
    // The program ends and the next program() is a new start over the same folder and settings.
    void restart();
    const ProgramParts& parts() { return program().parts; }
    // The run's main window, made and loaded on first ask, as the sign-in step gets it.
    MainWindow* mainWindow(Layout layout) { return parts().mainWindow(layout); }
    MainWindow* existingMainWindow() { return built ? parts().existingMainWindow() : nullptr; }

    QTemporaryDir dir;
    FakeMessenger* messenger; // owned by the program
    DialogScript dialogs;
    int programEnds = 0;
    QStringList openedLinks;
    Desktop desktop; // where the program's links go: into openedLinks

    // What the program is built with; change before the first program().
    double screenTwips = 19200.0; // a wide screen: the full layout
    bool tray;                    // whether the desktop has a tray
    std::function<std::unique_ptr<Keyring>()> keyring; // none: no keyring
    QString otherContactFile; // the list elsewhere than in dataDir()
    int keyringWaitMs = 5000;
    std::unique_ptr<Messenger> client; // in place of the fake, when set
    RunClock* watchClock = nullptr;    // the watch's rounds on the test's time, when set; outlives the harness

private:
    std::unique_ptr<FakeMessenger> fake;
    std::unique_ptr<Program> built;
};
