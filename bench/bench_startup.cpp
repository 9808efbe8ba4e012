// SPDX-License-Identifier: GPL-3.0-or-later
// Time from process start to the sign-in window on screen (its first paint done).
//
//   velmora_bench_startup [runs]
//
// The parent reads the monotonic clock, spawns a child that starts exactly as the program does
// (app/main.cpp) and prints the monotonic clock once the sign-in window has painted, then leaves
// without tearing anything down. The difference covers exec, dynamic linking, Qt's platform
// plugin, fonts and the window itself. The settings store points at an empty folder, so a user's
// real account is neither read nor changed.

#include "bench/BenchSupport.h"
#include "shell/Startup.h"
#include "app/Program.h"

#include <QApplication>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>
#include <string>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

int child(int argc, char** argv) {
    // From here on this is app/main.cpp, up to the point where the window is on screen.
    QApplication app(argc, argv);
    prepareApplication();

    Program program(Platform::ofThisDesktop(QString()));
    program.start();
    QWidget* signIn = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("frmSignIn"))
            signIn = w;
    bench::FirstPaint painted({signIn});
    painted.wait(30000);
    std::printf("%lld\n", painted.done ? bench::nowNs() : -1LL);
    std::fflush(stdout);
    std::_Exit(0);
}

// Spawns the child and returns milliseconds from just before the spawn to its first paint.
double once(const char* self, const std::string& configHome) {
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    char arg0[] = "velmora_bench_startup";
    char arg1[] = "--child";
    char* args[] = {arg0, arg1, nullptr};
    setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);

    const long long t0 = bench::nowNs();
    pid_t pid;
    const int rc = posix_spawn(&pid, self, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        return -1;
    }
    char out[64] = {};
    size_t got = 0;
    for (ssize_t r; got < sizeof out - 1 && (r = ::read(fds[0], out + got, sizeof out - 1 - got)) > 0;)
        got += size_t(r);
    ::close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    const long long painted = std::atoll(out);
    return painted > 0 ? double(painted - t0) / 1e6 : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return child(argc, argv);

    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    QTemporaryDir config;
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return 1;
    self[n] = 0;

    std::vector<double> times;
    once(self, config.path().toStdString()); // warm the page cache: a second start is the usual one
    for (int i = 0; i < runs; ++i) {
        const double ms = once(self, config.path().toStdString());
        if (ms < 0) {
            std::fprintf(stderr, "the sign-in window did not paint\n");
            return 1;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("platform=%s runs=%d startup_ms_median=%.1f min=%.1f max=%.1f\n",
                qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("default")).toUtf8().constData(), runs,
                bench::median(times), times.front(), times.back());
    return 0;
}
