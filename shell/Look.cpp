// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Look.h"

#include <QFile>
#include <QFontDatabase>
#include <QWidget>

// The pictures live in a resource of the static core library, which the
// linker keeps only when something asks for it.
static void initAssets() { Q_INIT_RESOURCE(assets); }

namespace Look {

void ensureResources()
{
    static const bool done = (initAssets(), true);
    Q_UNUSED(done);
}

void installFonts()
{
    // Wine ships a Tahoma-metric font outside fontconfig's paths.
    for (const char* path : {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"})
        if (QFile::exists(QString::fromLatin1(path)))
            QFontDatabase::addApplicationFont(QString::fromLatin1(path));
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Verdana"), {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Times New Roman"),
                               {QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});
}

static QFont font(const char* family, qreal points)
{
    QFont f(QString::fromLatin1(family));
    f.setPointSizeF(points);
    return f;
}

QFont tahoma() { return font("Tahoma", 8.25); }
QFont verdana() { return font("Verdana", 8.25); }
QFont timesNewRoman() { return font("Times New Roman", 9.75); }

void setTextColor(QWidget* w, const QColor& c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Text, c);
    w->setPalette(p);
}

void place(QWidget* w, int x, int y, int width, int height)
{
    w->setGeometry(x, y, width, height);
}

} // namespace Look
