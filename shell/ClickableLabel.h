// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>
#include <QMouseEvent>

// A label or picture that answers a click, as the link labels, hot spots and
// pictures of the windows do.
class ClickableLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // A picture that acts as a button or a link.
    static ClickableLabel* picture(QWidget* parent, const char* name, const QRect& where, const QString& file,
                                   const QString& toolTip)
    {
        auto* l = new ClickableLabel(parent);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(where);
        l->setPixmap(QPixmap(file));
        l->setToolTip(toolTip);
        l->setCursor(Qt::PointingHandCursor);
        return l;
    }

    // One that acts as a button for everybody: Tab reaches it, Space or Enter
    // presses it, and a screen reader reads it out as a button by this name.
    void actAsButton(const QString& accessibleName);
    bool actsAsButton() const { return button; }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
            emit clicked();
        QLabel::mouseReleaseEvent(e);
    }
    // A click must reach this label, not fall through to what lies beneath.
    void mousePressEvent(QMouseEvent* e) override { e->accept(); }
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    bool button = false;
    bool focusFromKeyboard = false; // the frame is for the keyboard user, not after a click
};
