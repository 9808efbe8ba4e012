// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/SaveRules.h"

SaveRules::SaveRules(Display& display, std::function<SaveResult()> append, std::function<bool()> unsaved)
    : m_display(display), m_append(std::move(append)), m_unsaved(std::move(unsaved)) {}

bool SaveRules::append() {
    const bool nothingToWrite = !m_unsaved();
    const SaveResult result = m_append();
    // With nothing to write nothing can be lost: a folder that will not take the empty file is no
    // reason to hold the user back.
    if (result.ok || nothingToWrite)
        return true;
    // The failure box lets timers run: no paced run may go on to "Save Complete", or to the end of
    // the program, while it is up or after it.
    const bool leaving = m_display.running(Run::Exit);
    m_display.stopRun(Run::Save);
    m_display.stopRun(Run::Exit);
    m_display.showBar(false, m_bar);
    m_display.tellSaveFailed(result.error, leaving);
    return false;
}

// A run already going keeps going.
void SaveRules::startAfterSave(Run run) {
    if (!append())
        return;
    m_display.showBar(true, m_bar);
    if (!m_display.running(run))
        m_display.startRun(run);
}

void SaveRules::save() {
    startAfterSave(Run::Save);
}

void SaveRules::exitAnswered(Answer answer) {
    if (m_display.ending() || answer == Answer::TurnedAway)
        return;
    if (answer == Answer::No) {
        m_display.endAtOnce();
        return;
    }
    startAfterSave(Run::Exit);
}

SaveRules::Leave SaveRules::closeAnswered(Answer answer) {
    // Turning the question away is no answer: only No throws contacts away.
    if (answer == Answer::TurnedAway)
        return Leave::Stay;
    if (answer == Answer::No)
        return Leave::EndNow;
    // The contacts exist nowhere else: the window stays so they can be saved.
    if (!append())
        return Leave::Stay;
    m_display.stopRun(Run::Save);
    m_display.stopRun(Run::Exit);
    return Leave::Saved;
}

void SaveRules::tick(Run run) {
    if (m_bar < 100) {
        m_display.showBar(true, ++m_bar);
        return;
    }
    // A box still open may yet add a contact (the add confirmation, say): the program ends only
    // once every box is answered and what it added is saved.
    if (run == Run::Exit && m_display.boxesOpen() > 0)
        return;
    complete(run);
}

void SaveRules::complete(Run run) {
    // Contacts added while the exit run went on are written before the end, while the run still
    // counts as leaving: if that fails the program stays, and the user is told that leaving was
    // called off.
    if (run == Run::Exit && !append())
        return;
    m_display.stopRun(run);
    m_display.showBar(false, m_bar);
    m_display.tellSaveComplete();
    if (run == Run::Exit && !m_display.ending())
        m_display.endAtOnce();
}
