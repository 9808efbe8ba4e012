// SPDX-License-Identifier: GPL-3.0-or-later
// The find box as the user feels it: from a key press in the box to the next paint of the e-mail
// list, over a contact file, words typed key by key.
//
//   velmora_bench_findbox FILE [runs=20]
//
// Each run empties the box first (not timed), then types each word one key at a time. Prints, per
// word and key, the median, 95th percentile and worst over the runs, and the rows shown.

#include "bench/BenchSupport.h"
#include "contacts/ContactFile.h"
#include "shell/Look.h"
#include "shell/MainWindow.h"
#include "tests/support/ShellHarness.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <cmath>

namespace {

// Waits for the next paint of a widget, and a little past it: the pass that painted it is done.
class NextPaint : public QObject {
public:
    explicit NextPaint(QWidget* w) : widget(w) { w->installEventFilter(this); }
    double wait() {
        painted = false;
        QElapsedTimer t;
        t.start();
        while (!painted && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        return at;
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        const bool result = QObject::eventFilter(o, e);
        if (e->type() == QEvent::Paint && o == widget) {
            painted = true;
            at = bench::nowMs();
        }
        return result;
    }

private:
    QWidget* widget;
    bool painted = false;
    double at = 0;
};

double rank(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[size_t(std::max(1.0, std::ceil(p * double(v.size())))) - 1];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [runs]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    qputenv("VELMORA_DISPATCH_SERVER", "127.0.0.1:9");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    Look::installFonts();
    QApplication::setFont(Look::tahoma());

    ShellHarness h;
    h.messenger->setStatus(1);
    h.dialogs.upFor = {};
    h.otherContactFile = QString::fromLocal8Bit(argv[1]);
    MainWindow* w = h.mainWindow(Layout::Full);
    w->show();
    (void)QTest::qWaitForWindowExposed(w);
    auto* list = w->findChild<QAbstractItemView*>(QStringLiteral("lvEmail"));
    NextPaint paints(list->viewport());
    w->mnuFind_Click();
    auto* box = w->findChild<QLineEdit*>(QStringLiteral("txtFind"));
    paints.wait();

    const QStringList words{QStringLiteral("e"), QStringLiteral("smith"), QStringLiteral("gmail"),
                            QString::fromUtf8("j\xc3\xbcrg"), QString::fromUtf8("jos\xc3\xa9")};
    std::map<std::pair<int, int>, std::vector<double>> ms; // (word, key) → over the runs
    std::map<std::pair<int, int>, int> shown;
    for (int run = 0; run < runs; ++run) {
        for (int word = 0; word < words.size(); ++word) {
            if (!box->text().isEmpty()) {
                box->selectAll();
                QTest::keyClick(box, Qt::Key_Backspace);
                paints.wait();
            }
            for (int key = 0; key < words[word].size(); ++key) {
                const double t0 = bench::nowMs();
                QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, words[word].mid(key, 1), Qt::NoModifier);
                ms[{word, key}].push_back(paints.wait() - t0);
                shown[{word, key}] = list->model()->rowCount();
            }
        }
    }
    std::vector<double> all;
    for (int word = 0; word < words.size(); ++word)
        for (int key = 0; key < words[word].size(); ++key) {
            const auto& v = ms[{word, key}];
            all.insert(all.end(), v.begin(), v.end());
            std::printf("platform=%s word=%s key=%d typed=%s rows=%d p50_ms=%.1f p95_ms=%.1f max_ms=%.1f\n",
                        qPrintable(QGuiApplication::platformName()), qPrintable(words[word]), key + 1,
                        qPrintable(words[word].left(key + 1)), shown[{word, key}], rank(v, 0.5), rank(v, 0.95),
                        *std::max_element(v.begin(), v.end()));
        }
    std::printf("platform=%s all p50_ms=%.1f p95_ms=%.1f max_ms=%.1f\n", qPrintable(QGuiApplication::platformName()),
                rank(all, 0.5), rank(all, 0.95), *std::max_element(all.begin(), all.end()));
    std::fflush(stdout);
    h.dir.remove();
    std::_Exit(0);
}
