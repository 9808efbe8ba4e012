// SPDX-License-Identifier: GPL-3.0-or-later
// The find box's search over a contact file: words typed key by key, the time of each keystroke's
// search, and what its result costs.
//
//   velmora_bench_find FILE [runs] [--check]
//
// Each run starts with nothing found before (the first key searches every row), types each word
// one key at a time, then takes its last letter back (a full search again) and empties the box.
// Prints, per key of each word, the median, 95th percentile and worst time over the runs, the rows
// found and the bytes the result keeps. --check compares every result of the first run with
// decoding every row and looking in the folded text (slow).

#include "bench/BenchSupport.h"
#include "contacts/ContactSearch.h"
#include "contacts/ContactStore.h"

#include <QString>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

struct Figures {
    double p50 = 0, p95 = 0, max = 0;
};

// Nearest rank, so 20 runs give the 19th for the 95th percentile.
Figures figures(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    auto rank = [&](double p) { return ms[size_t(std::max(1.0, std::ceil(p * double(ms.size())))) - 1]; };
    return {rank(0.50), rank(0.95), ms.back()};
}

long long threadCpuNs() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

std::vector<quint32> naive(const ContactStore& store, const QString& text) {
    const QString folded = text.toCaseFolded();
    std::vector<quint32> rows;
    for (qint32 row = 0; row < store.rowCount(); ++row) {
        if (store.rowField(row, ContactField::Name).toCaseFolded().contains(folded) ||
            store.rowField(row, ContactField::Email).toCaseFolded().contains(folded))
            rows.push_back(quint32(row));
    }
    return rows;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [runs] [--check]\n", argv[0]);
        return 2;
    }
    int runs = 20;
    bool check = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0)
            check = true;
        else
            runs = std::max(1, std::atoi(argv[i]));
    }

    ContactStore store;
    const double t0 = bench::nowMs();
    const LoadResult loaded = store.load(QString::fromLocal8Bit(argv[1]));
    const double loadMs = bench::nowMs() - t0;
    if (loaded.status != LoadStatus::Loaded) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    const long rssLoadedKb = bench::peakRssKb();
    const double tc = bench::nowMs();
    ContactSearch search(store);
    const double constructMs = bench::nowMs() - tc;

    const QStringList words = {QStringLiteral("e"), QStringLiteral("smith"), QStringLiteral("gmail"),
                               QStringLiteral("j\u00FCrg"), QStringLiteral("jos\u00E9")};
    struct Step {
        QString text;
        std::vector<double> ms;
        std::vector<double> cpuMs; // the search's own time, without the time others had the core
        size_t rows = 0;
        size_t bytes = 0;
    };
    std::vector<std::vector<Step>> steps;
    for (const QString& word : words) {
        std::vector<Step> s;
        for (qsizetype n = 1; n <= word.size(); ++n)
            s.push_back({word.left(n), {}, {}, 0, 0});
        if (word.size() > 1)
            s.push_back({word.chopped(1), {}, {}, 0, 0}); // the last letter taken back
        s.push_back({QString(), {}, {}, 0, 0});           // the box emptied
        steps.push_back(std::move(s));
    }

    int mismatches = 0;
    for (int run = 0; run < runs; ++run) {
        for (auto& word : steps) {
            search.forget();
            for (Step& step : word) {
                const long long ca = threadCpuNs();
                const long long a = bench::nowNs();
                const std::vector<quint32>& rows = search.find(step.text);
                const long long b = bench::nowNs();
                const long long cb = threadCpuNs();
                step.ms.push_back(double(b - a) / 1e6);
                step.cpuMs.push_back(double(cb - ca) / 1e6);
                step.rows = rows.size();
                step.bytes = std::max(step.bytes, rows.capacity() * sizeof(quint32));
                if (check && run == 0 && rows != naive(store, step.text)) {
                    std::fprintf(stderr, "MISMATCH for \"%s\"\n", qPrintable(step.text));
                    ++mismatches;
                }
            }
        }
    }

    std::printf("records=%d load_ms=%.1f construct_ms=%.1f runs=%d\n", store.ContactCount(), loadMs,
                constructMs, runs);
    std::printf("\n| text typed | key     | p50 ms | p95 ms | max ms | rows found | result KB |\n");
    std::printf("|------------|---------|-------:|-------:|-------:|-----------:|----------:|\n");
    std::vector<double> typed;    // every keystroke that adds a letter
    std::vector<double> edited;   // and those that take one back
    std::vector<double> typedCpu; // every keystroke that adds a letter, the search's own time
    for (size_t w = 0; w < steps.size(); ++w) {
        for (size_t i = 0; i < steps[w].size(); ++i) {
            const Step& s = steps[w][i];
            const bool adds = i < size_t(words[qsizetype(w)].size());
            const char* what = adds ? "" : s.text.isEmpty() ? "emptied" : "back";
            if (adds) {
                typed.insert(typed.end(), s.ms.begin(), s.ms.end());
                typedCpu.insert(typedCpu.end(), s.cpuMs.begin(), s.cpuMs.end());
            }
            if (!s.text.isEmpty())
                edited.insert(edited.end(), s.ms.begin(), s.ms.end());
            const Figures f = figures(s.ms);
            char key[24];
            std::snprintf(key, sizeof key, "%zu", i + 1);
            // Padded by characters, not bytes.
            const QString shown = s.text.isEmpty() ? QStringLiteral("\"\"") : s.text;
            std::printf("| %s%*s | %-7s | %6.2f | %6.2f | %6.2f | %10zu | %9.0f |\n", qPrintable(shown),
                        int(std::max<qsizetype>(0, 10 - shown.size())), "", adds ? key : what, f.p50, f.p95,
                        f.max, s.rows, double(s.bytes) / 1024.0);
        }
    }
    double bytesPerRow = 0;
    for (const auto& word : steps) {
        for (const Step& step : word)
            bytesPerRow = std::max(bytesPerRow, step.rows ? double(step.bytes) / double(step.rows) : 0.0);
    }
    const Figures all = figures(typed);
    const Figures any = figures(edited);
    const Figures cpu = figures(typedCpu);
    std::printf("\nevery letter typed: p50_ms=%.2f p95_ms=%.2f max_ms=%.2f\n", all.p50, all.p95, all.max);
    std::printf(
        "every letter typed, processor time of the search alone: p50_ms=%.2f p95_ms=%.2f max_ms=%.2f\n",
        cpu.p50, cpu.p95, cpu.max);
    std::printf("with the letters taken back: p50_ms=%.2f p95_ms=%.2f max_ms=%.2f\n", any.p50, any.p95,
                any.max);
    std::printf("result: %.2f bytes a row found at most; peak_rss_mb=%.1f (after the load %.1f)%s\n",
                bytesPerRow, double(bench::peakRssKb()) / 1024.0, double(rssLoadedKb) / 1024.0,
                check ? (mismatches ? "; CHECK FAILED" : "; checked: the same rows as decoding every row")
                      : "");
    return mismatches ? 1 : 0;
}
