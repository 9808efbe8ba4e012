// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ClickableLabel.h"

#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QPainter>

namespace {
class ClickableLabelAccessible : public QAccessibleWidget {
public:
    explicit ClickableLabelAccessible(ClickableLabel* label) : QAccessibleWidget(label, QAccessible::Button)
    {
    }

    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction())
            emit static_cast<ClickableLabel*>(widget())->clicked();
        else
            QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface* accessibleButton(const QString&, QObject* object)
{
    auto* label = qobject_cast<ClickableLabel*>(object);
    return label && label->actsAsButton() ? new ClickableLabelAccessible(label) : nullptr;
}
} // namespace

void ClickableLabel::actAsButton(const QString& accessibleName)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleButton);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    button = true;
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(accessibleName);
}

void ClickableLabel::keyPressEvent(QKeyEvent* e)
{
    if (button && (e->key() == Qt::Key_Space || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(e);
}

void ClickableLabel::focusInEvent(QFocusEvent* e)
{
    // Focus that merely comes back (another window, a menu) keeps what the focus was.
    const Qt::FocusReason why = e->reason();
    if (why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason && why != Qt::MenuBarFocusReason)
        focusFromKeyboard = why == Qt::TabFocusReason || why == Qt::BacktabFocusReason || why == Qt::ShortcutFocusReason;
    QLabel::focusInEvent(e);
}

void ClickableLabel::paintEvent(QPaintEvent* e)
{
    QLabel::paintEvent(e);
    if (!hasFocus() || !focusFromKeyboard)
        return;
    // The style's own focus frame all but vanishes over the window's pictures:
    // a keyboard user must see at once where the focus is.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().color(QPalette::Highlight), 2));
    p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 3, 3);
}
