// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "contacts/ContactFile.h"

#include <QString>
#include <functional>

// The rules that never lose a contact: saving, the paced runs that follow a save, and leaving.
// The file work comes first, inside the command; a paced run then fills the bar and reports
// "Save Complete". Only a save that worked gets its run, and nothing ends the program while a
// contact exists nowhere but in the window.
class SaveRules {
public:
    enum class Run {
        Save, // after "Save": reports, nothing more
        Exit, // after "Exit" and Yes: reports, then the program ends
    };
    enum class Answer { Yes, No, TurnedAway };
    enum class Leave { Stay, EndNow, Saved };

    // What the window shows and does for the rules.
    class Display {
    public:
        virtual ~Display() = default;
        virtual void showBar(bool visible, int value) = 0;
        virtual void startRun(Run run) = 0; // its ticks come back through tick(run)
        virtual void stopRun(Run run) = 0;
        virtual bool running(Run run) const = 0;
        virtual void tellSaveFailed(const QString& error, bool leavingCalledOff) = 0;
        virtual void tellSaveComplete() = 0; // returns once the user has dismissed it
        virtual int boxesOpen() const = 0;
        virtual bool ending() const = 0;
        virtual void endAtOnce() = 0;
    };

    // append writes the contacts no save has written yet; unsaved says whether there are any.
    SaveRules(Display& display, std::function<SaveResult()> append, std::function<bool()> unsaved);

    // "Save": the file work, then the paced run.
    void save();
    // The answer to the leave question asked by "Exit".
    void exitAnswered(Answer answer);
    // The answer to the leave question asked by closing the window: whether it may close, and how.
    Leave closeAnswered(Answer answer);
    // One tick of a paced run.
    void tick(Run run);

private:
    bool append();
    void startAfterSave(Run run);
    void complete(Run run);

    Display& m_display;
    std::function<SaveResult()> m_append;
    std::function<bool()> m_unsaved;
    int m_bar = 0; // never set back: a later run shows a full bar and completes at its first tick
};
