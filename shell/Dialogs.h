// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

// Every message the program shows goes through here, so tests can read and
// answer them.
namespace Dialogs {

enum class Buttons { Ok, YesNo };
enum class Icon { None, Information, Question, Warning };
// Closed: the user turned a Yes/No box away (Esc, the close button) without
// picking either answer; each caller decides what that means.
enum class Answer { Ok, Yes, No, Closed };

struct Request {
    QString prompt;
    QString caption;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
};

inline const QString kAppTitle = QStringLiteral("Tavlo");

Answer show(QWidget* parent, const QString& prompt, Buttons buttons = Buttons::Ok, Icon icon = Icon::None,
            const QString& caption = kAppTitle);

// How many boxes are up just now, one inside another.
int openCount();

using Responder = std::function<Answer(const Request&)>;
// Tests answer instead of the user; an empty function restores real boxes.
void setResponder(Responder responder);

// A box that asks for a password, shown as stars; nullopt when the user cancels it.
std::optional<QString> askPassword(QWidget* parent, const QString& prompt, const QString& caption);
// The same for a line of plain text.
std::optional<QString> askText(QWidget* parent, const QString& prompt, const QString& caption);
// Tests answer both kinds of question.
using PasswordResponder = std::function<std::optional<QString>(const Request&)>;
void setPasswordResponder(PasswordResponder responder);

// A box with a name and an address to change; nullopt when cancelled.
std::optional<std::pair<QString, QString>> askContact(QWidget* parent, const QString& caption, const QString& name,
                                                      const QString& address);
// A box of choices, each ticked or not; OK (its default button) says which, nullopt: cancelled.
std::optional<QList<bool>> askChoices(QWidget* parent, const QString& caption, const QString& prompt,
                                      const QStringList& choices, const QList<bool>& ticked, const QString& okText);
// The desktop's own file dialogs; nullopt when cancelled.
std::optional<QString> openFileName(QWidget* parent, const QString& caption, const QString& filters);
// The name, and in *filter the filter chosen.
std::optional<QString> saveFileName(QWidget* parent, const QString& caption, const QString& filters, QString* filter);
// Tests answer these: given what the box would show (a contact's fields, the choices' ticks as
// "1"/"0", or the filters), they return what the user would have left in it, nullopt for Cancel.
using ValuesResponder = std::function<std::optional<QStringList>(const Request&, const QStringList& shown)>;
void setValuesResponder(ValuesResponder responder);

} // namespace Dialogs
