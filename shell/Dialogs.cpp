// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>

namespace Dialogs {
namespace {
Responder& responder()
{
    static Responder r;
    return r;
}

PasswordResponder& passwordResponder()
{
    static PasswordResponder r;
    return r;
}

// Notices Esc and the window's close button on a box.
class TurnedAway : public QObject {
public:
    bool happened = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if ((event->type() == QEvent::KeyPress &&
             static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)) ||
            (event->type() == QEvent::Close && event->spontaneous()))
            happened = true;
        return QObject::eventFilter(watched, event);
    }
};

int g_open = 0;

struct Open {
    Open() { ++g_open; }
    ~Open() { --g_open; }
};
} // namespace

int openCount()
{
    return g_open;
}

Answer show(QWidget* parent, const QString& prompt, Buttons buttons, Icon icon, const QString& caption)
{
    const Request request{prompt, caption.isEmpty() ? kAppTitle : caption, buttons, icon};
    const Open open;
    if (responder())
        return responder()(request);

    QMessageBox box(parent);
    box.setWindowTitle(request.caption);
    // Prompts carry names, addresses and servers' words: shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(prompt);
    switch (icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
    case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
    }
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        TurnedAway away;
        box.installEventFilter(&away);
        box.exec();
        QAbstractButton* const clicked = box.clickedButton();
        if (clicked && clicked == box.button(QMessageBox::Yes))
            return Answer::Yes;
        // No button pressed: Esc, the close button, or the program ending under the box.
        return away.happened || !clicked ? Answer::Closed : Answer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

void setResponder(Responder r)
{
    responder() = std::move(r);
}

namespace {
std::optional<QString> ask(QWidget* parent, const QString& prompt, const QString& caption, QLineEdit::EchoMode echo)
{
    const Request request{prompt, caption, Buttons::Ok, Icon::None};
    const Open open;
    if (passwordResponder())
        return passwordResponder()(request);
    bool ok = false;
    const QString text = QInputDialog::getText(parent, caption, prompt, echo, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return text;
}
} // namespace

std::optional<QString> askPassword(QWidget* parent, const QString& prompt, const QString& caption)
{
    return ask(parent, prompt, caption, QLineEdit::Password);
}

std::optional<QString> askText(QWidget* parent, const QString& prompt, const QString& caption)
{
    return ask(parent, prompt, caption, QLineEdit::Normal);
}

void setPasswordResponder(PasswordResponder r)
{
    passwordResponder() = std::move(r);
}

} // namespace Dialogs

namespace Dialogs {
namespace {
ValuesResponder& valuesResponder()
{
    static ValuesResponder r;
    return r;
}

std::optional<QStringList> answered(const QString& caption, const QString& prompt, const QStringList& shown)
{
    return valuesResponder()(Request{prompt, caption, Buttons::Ok, Icon::None}, shown);
}

QDialogButtonBox* buttons(QDialog* dialog, const QString& okText)
{
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    box->setObjectName(QStringLiteral("buttons"));
    if (!okText.isEmpty())
        box->button(QDialogButtonBox::Ok)->setText(okText);
    box->button(QDialogButtonBox::Ok)->setDefault(true);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}
} // namespace

void setValuesResponder(ValuesResponder r)
{
    valuesResponder() = std::move(r);
}

std::optional<std::pair<QString, QString>> askContact(QWidget* parent, const QString& caption, const QString& name,
                                                      const QString& address)
{
    const Open open;
    if (valuesResponder()) {
        const std::optional<QStringList> v = answered(caption, QString(), {name, address});
        if (!v || v->size() < 2)
            return std::nullopt;
        return std::pair{v->at(0), v->at(1)};
    }
    QDialog dialog(parent);
    dialog.setWindowTitle(caption);
    auto* form = new QFormLayout(&dialog);
    auto* txtName = new QLineEdit(name, &dialog);
    txtName->setObjectName(QStringLiteral("txtName"));
    auto* txtEmail = new QLineEdit(address, &dialog);
    txtEmail->setObjectName(QStringLiteral("txtEmail"));
    form->addRow(QStringLiteral("Name:"), txtName);
    form->addRow(QStringLiteral("E-Mail:"), txtEmail);
    form->addRow(buttons(&dialog, QString()));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return std::pair{txtName->text(), txtEmail->text()};
}

std::optional<QList<bool>> askChoices(QWidget* parent, const QString& caption, const QString& prompt,
                                      const QStringList& choices, const QList<bool>& ticked, const QString& okText)
{
    const Open open;
    if (valuesResponder()) {
        QStringList shown;
        for (qsizetype i = 0; i < choices.size(); ++i)
            shown << choices[i] + (ticked.value(i) ? QStringLiteral("=1") : QStringLiteral("=0"));
        const std::optional<QStringList> v = answered(caption, prompt, shown);
        if (!v)
            return std::nullopt;
        QList<bool> result;
        for (const QString& s : *v)
            result << s.endsWith(QLatin1String("=1"));
        return result;
    }
    QDialog dialog(parent);
    dialog.setWindowTitle(caption);
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(prompt, &dialog);
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    QList<QCheckBox*> boxes;
    for (qsizetype i = 0; i < choices.size(); ++i) {
        auto* box = new QCheckBox(choices[i], &dialog);
        box->setObjectName(QStringLiteral("choice%1").arg(i));
        box->setChecked(ticked.value(i));
        layout->addWidget(box);
        boxes << box;
    }
    layout->addWidget(buttons(&dialog, okText));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    QList<bool> result;
    for (QCheckBox* box : boxes)
        result << box->isChecked();
    return result;
}

std::optional<QString> openFileName(QWidget* parent, const QString& caption, const QString& filters)
{
    const Open open;
    if (valuesResponder()) {
        const std::optional<QStringList> v = answered(caption, QString(), {filters});
        return v && !v->isEmpty() && !v->first().isEmpty() ? std::optional(v->first()) : std::nullopt;
    }
    const QString name = QFileDialog::getOpenFileName(parent, caption, QString(), filters);
    return name.isEmpty() ? std::nullopt : std::optional(name);
}

std::optional<QString> saveFileName(QWidget* parent, const QString& caption, const QString& filters, QString* filter)
{
    const Open open;
    if (valuesResponder()) {
        const std::optional<QStringList> v = answered(caption, QString(), {filters});
        if (!v || v->isEmpty() || v->first().isEmpty())
            return std::nullopt;
        *filter = v->value(1);
        return v->first();
    }
    const QString name = QFileDialog::getSaveFileName(parent, caption, QString(), filters, filter);
    return name.isEmpty() ? std::nullopt : std::optional(name);
}

} // namespace Dialogs
