#include "shell/Dialogs.h"

#include <QMessageBox>

namespace Dialogs {
namespace {
Responder& responder()
{
    static Responder r;
    return r;
}
} // namespace

Answer show(QWidget* parent, const QString& prompt, Buttons buttons, Icon icon, const QString& caption)
{
    const Request request{prompt, caption.isEmpty() ? kAppTitle : caption, buttons, icon};
    if (responder())
        return responder()(request);

    QMessageBox box(parent);
    box.setWindowTitle(request.caption);
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
        // Closing the box is not a third answer: there is no Cancel.
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

void setResponder(Responder r)
{
    responder() = std::move(r);
}

} // namespace Dialogs
