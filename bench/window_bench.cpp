// window_bench: whether the window stays responsive while the room is busy. Offscreen, it appends
// 100,000 lines to the log from a worker thread at full rate, then 100 batches of 1,000 lines each
// waited for until shown (the cost of an append early and late), then hosts a 32-client room that
// floods at full rate; a 2 ms timer records the event loop's longest gap all along (must stay
// under 50 ms). Not part of ctest. Run with QT_QPA_PLATFORM=offscreen (the default here).
//
//   window_bench --serve PORT [--gap-file PATH]   the window hosting on PORT (the number typed into
//                                                 the Port field) until SIGTERM, for relay_bench;
//                                                 the longest event-loop gap goes to PATH
#include "app/qt/close_on_signal.h"
#include "app/qt/main_window.h"
#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "commands/commands.h"
#include "commands/host_commands.h"
#include "tests/support/loopback.h"

#include <QApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>

#include <fcntl.h>
#include <sys/epoll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double GAP_LIMIT_MS = 50;
constexpr int FLOOD_CLIENTS = 32;
constexpr int FLOOD_LINES = 20000; // per client: a few seconds of flood

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The longest interval between ticks of a 2 ms timer on the window's thread.
class GapMeter {
public:
    GapMeter() {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(2);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            longest =
                std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        });
    }
    void start() {
        longest = 0;
        last = Clock::now();
        timer.start();
    }
    double stop() {
        timer.stop();
        return longest;
    }

private:
    QTimer timer;
    Clock::time_point last;
    double longest = 0;
};

// Runs the window's event loop until done() or timeoutMs; true when done() was reached. The loop
// sleeps until an event comes, and a 5 ms timer makes sure one does.
bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
    QTimer tick;
    tick.start(5);
    const auto start = Clock::now();
    while (!done()) {
        if (MsSince(start) > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

std::string LogLine(int i) {
    char text[64];
    std::snprintf(text, sizeof text, "line %06d of the append bench, at full rate", i);
    return text;
}

QString Shown(int i) {
    return QString::fromStdString("<bench>: " + LogLine(i));
}

bool LastShownIs(QPlainTextEdit* log, const QString& line) {
    return log->document()->lastBlock().text() == line;
}

// (a) 100,000 lines at full rate from a worker thread.
bool AppendAtFullRate(QPlainTextEdit* log) {
    constexpr int LINES = 100000;
    std::atomic<bool> done{false};
    std::vector<double> perThousand; // worker's ms per 1,000 appends
    GapMeter gaps;
    gaps.start();
    const auto start = Clock::now();
    std::thread worker([&] {
        auto batch = Clock::now();
        for (int i = 0; i < LINES; ++i) {
            AppendChatLine("bench", LogLine(i));
            if ((i + 1) % 1000 == 0) {
                perThousand.push_back(MsSince(batch));
                batch = Clock::now();
            }
        }
        done = true;
    });
    const bool shown = RunUntil([&] { return done && LastShownIs(log, Shown(LINES - 1)); }, 120000);
    worker.join();
    const double gap = gaps.stop();
    const auto mean = [](auto from, auto to) {
        double sum = 0;
        for (auto it = from; it != to; ++it)
            sum += *it;
        return sum / static_cast<double>(to - from);
    };
    std::printf("(a) %d lines appended from a worker at full rate\n", LINES);
    std::printf("    until the window showed the last line: %.0f ms (%s)\n", MsSince(start),
                shown ? "shown" : "NOT SHOWN within 120 s");
    std::printf(
        "    worker, ms per 1,000 appends: first 10,000 lines %.3f, last 10,000 lines %.3f\n",
        mean(perThousand.begin(), perThousand.begin() + 10),
        mean(perThousand.end() - 10, perThousand.end()));
    std::printf("    longest event-loop gap: %.1f ms (limit %.0f)\n", gap, GAP_LIMIT_MS);
    return shown && gap < GAP_LIMIT_MS;
}

// (a) continued: 100 batches of 1,000 lines, each waited for until the window shows it, so that
// the time per batch is what an append costs the window as the log fills and then stays full.
bool AppendCostByLength(QPlainTextEdit* log) {
    constexpr int BATCHES = 100;
    constexpr int BATCH = 1000;
    std::atomic<int> requested{-1}; // last line of the batch the worker has appended
    std::atomic<int> shown{-1};
    std::atomic<bool> done{false};
    std::vector<double> perBatch;
    GapMeter gaps;
    gaps.start();
    std::thread worker([&] {
        for (int b = 0; b < BATCHES; ++b) {
            const auto start = Clock::now();
            const int first = 1000000 + b * BATCH;
            for (int i = first; i < first + BATCH; ++i)
                AppendChatLine("bench", LogLine(i));
            requested = first + BATCH - 1;
            while (shown.load() != requested.load() && MsSince(start) < 10000)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            perBatch.push_back(MsSince(start));
        }
        done = true;
    });
    RunUntil(
        [&] {
            const int wanted = requested;
            if (wanted >= 0 && LastShownIs(log, Shown(wanted)))
                shown = wanted;
            return done.load();
        },
        600000);
    worker.join();
    const double gap = gaps.stop();
    const auto mean = [&](size_t from, size_t to) {
        double sum = 0;
        for (size_t i = from; i < to; ++i)
            sum += perBatch[i];
        return sum / static_cast<double>(to - from);
    };
    const double early = mean(0, 10);
    const double late = mean(BATCHES - 10, BATCHES);
    std::printf("(a) %d batches of %d lines, each until shown: ms per batch, first 10 %.2f, "
                "last 10 %.2f (late/early %.2f); the log holds %zu bytes, %d blocks shown\n",
                BATCHES, BATCH, early, late, late / early, ChatView.logBytes(),
                log->document()->blockCount());
    std::printf("    longest event-loop gap: %.1f ms\n", gap);
    // Growing cost would show as late batches costing several times the early ones.
    return late < 2 * early + 1 && gap < GAP_LIMIT_MS;
}

// (b) A hosting window with 32 raw clients that log in and flood FLOOD_LINES lines each as fast
// as they can, reading everything the host relays.
bool FloodHostingWindow(QPlainTextEdit* log) {
    const ReservedPort port;
    const uint16_t tcpPort = port.tcpPort;
    HostCommand({"host", "", std::to_string(ProgramPort(tcpPort))});
    if (ChatView.users().size() != 1) {
        std::printf("(b) the host did not start: %s\n", ChatView.logText().c_str());
        return false;
    }
    std::atomic<bool> done{false};
    std::atomic<long> delivered{0};
    std::atomic<int> stillIn{0}; // clients in the room when the flood ended
    double floodMs = 0;
    bool joined = false;
    GapMeter gaps;
    gaps.start();
    std::thread clients([&] {
        const int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
        std::vector<RawPeer> peers;
        std::vector<std::string> out(FLOOD_CLIENTS);
        std::vector<size_t> sentBytes(FLOOD_CLIENTS, 0);
        std::vector<std::string> carry(FLOOD_CLIENTS);
        for (int i = 0; i < FLOOD_CLIENTS; ++i) {
            peers.push_back(RawPeer::connectTo(tcpPort));
            char name[16];
            std::snprintf(name, sizeof name, "b%02d", i);
            peers.back().send(std::string("login\n") + name + "\n");
        }
        const auto joinStart = Clock::now();
        while (ChatView.users().size() < FLOOD_CLIENTS + 1 && MsSince(joinStart) < 10000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        joined = ChatView.users().size() == FLOOD_CLIENTS + 1;
        for (int i = 0; i < FLOOD_CLIENTS; ++i) {
            for (int seq = 0; seq < FLOOD_LINES; ++seq) {
                char line[64];
                std::snprintf(line, sizeof line, "msg\nflood %02d %06d from a busy room\n", i, seq);
                out[static_cast<size_t>(i)] += line;
            }
            const int fd = peers[static_cast<size_t>(i)].handle();
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            epoll_event event{};
            event.events = EPOLLIN | EPOLLOUT;
            event.data.u32 = static_cast<uint32_t>(i);
            ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event);
        }
        const long expected = static_cast<long>(FLOOD_CLIENTS) * FLOOD_CLIENTS * FLOOD_LINES;
        const auto start = Clock::now();
        auto lastProgress = start;
        epoll_event events[64];
        char chunk[65536];
        while (delivered < expected && MsSince(lastProgress) < 10000) {
            const int n = ::epoll_wait(epollFd, events, 64, 100);
            for (int e = 0; e < n; ++e) {
                const size_t i = events[e].data.u32;
                const int fd = peers[i].handle();
                if (events[e].events & EPOLLOUT) {
                    // At most 4 KB per turn: every client reads between its sends, as a room's
                    // clients do, so that none falls behind the host only because this thread
                    // was busy sending.
                    const ssize_t sent =
                        ::send(fd, out[i].data() + sentBytes[i],
                               std::min<size_t>(out[i].size() - sentBytes[i], 4096), MSG_NOSIGNAL);
                    if (sent > 0)
                        sentBytes[i] += static_cast<size_t>(sent);
                    if (sentBytes[i] == out[i].size()) {
                        epoll_event event{};
                        event.events = EPOLLIN;
                        event.data.u32 = static_cast<uint32_t>(i);
                        ::epoll_ctl(epollFd, EPOLL_CTL_MOD, fd, &event);
                    }
                }
                if (events[e].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
                    // Count relayed lines by their marker. The last bytes of a read go before the
                    // next one, in case a marker is split between them; they are too few to hold
                    // a whole marker, so none is counted twice.
                    std::string& tail = carry[i];
                    for (int round = 0; round < 8; ++round) {
                        std::memcpy(chunk, tail.data(), tail.size());
                        const ssize_t got =
                            ::recv(fd, chunk + tail.size(), sizeof chunk - tail.size(), 0);
                        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                            ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
                            break;
                        }
                        if (got < 0)
                            break;
                        const std::string_view text(chunk, tail.size() + static_cast<size_t>(got));
                        long found = 0;
                        for (size_t at = text.find("flood "); at != std::string_view::npos;
                             at = text.find("flood ", at + 6))
                            ++found;
                        delivered += found;
                        tail = std::string(
                            text.substr(text.size() - std::min<size_t>(text.size(), 5)));
                        lastProgress = Clock::now();
                    }
                }
            }
        }
        floodMs = std::chrono::duration<double, std::milli>(lastProgress - start).count();
        stillIn = static_cast<int>(ChatView.users().size()) - 1;
        ::close(epollFd);
        done = true;
        // The peers hang up here, after the flood; the host sees them go.
    });
    RunUntil([&] { return done.load(); }, 300000);
    clients.join();
    const double floodGap = gaps.stop();
    // Then the window catches up with whatever the log still has for it.
    gaps.start();
    const auto catchUp = Clock::now();
    const auto lastLine = [] {
        const std::string text = ChatView.logText();
        const size_t end = text.size() - 1;
        const size_t begin = text.rfind('\n', end - 1);
        return QString::fromStdString(
            text.substr(begin == std::string::npos ? 0 : begin + 1,
                        end - (begin == std::string::npos ? 0 : begin + 1)));
    };
    const bool caughtUp = RunUntil([&] { return LastShownIs(log, lastLine()); }, 30000);
    const double catchUpMs = MsSince(catchUp);
    const double catchUpGap = gaps.stop();
    HostTeardown();
    const long expected = static_cast<long>(FLOOD_CLIENTS) * FLOOD_CLIENTS * FLOOD_LINES;
    std::printf("(b) hosting window, %d clients %s, %d lines each at full rate\n", FLOOD_CLIENTS,
                joined ? "logged in" : "NOT ALL logged in", FLOOD_LINES);
    std::printf(
        "    relayed %ld of %ld deliveries in %.0f ms (%.0f deliveries/s); %d clients still "
        "in the room\n",
        delivered.load(), expected, floodMs,
        floodMs > 0 ? static_cast<double>(delivered.load()) * 1000 / floodMs : 0, stillIn.load());
    std::printf("    longest event-loop gap during the flood: %.1f ms; window caught up %.0f ms "
                "later (%s), longest gap meanwhile %.1f ms\n",
                floodGap, catchUpMs, caughtUp ? "yes" : "NO", catchUpGap);
    return joined && delivered == expected && caughtUp &&
           std::max(floodGap, catchUpGap) < GAP_LIMIT_MS;
}

// The hosting window as one relay of relay_bench: hosts on the port in the program's own event
// loop until SIGTERM closes the window as it closes the program, with the gap meter running all
// along, then writes the longest gap.
int ServeWindow(QApplication& app, MainWindow& window, const std::string& port,
                const char* gapFile) {
    CloseOnSignal closeOnSignal(&window);
    HostCommand({"host", "", port});
    if (ChatView.users().size() != 1) {
        std::fprintf(stderr, "window_bench: the host did not start: %s\n",
                     ChatView.logText().c_str());
        return 1;
    }
    // Tells relay_bench that the room may join once the window is on the screen and shows the
    // host in its list, as people join a host who is already there: a room that joins while the
    // window paints for the first time measures the start-up instead.
    auto* users = window.findChild<QListWidget*>(QStringLiteral("IDC_USERS"));
    RunUntil(
        [&window, users] {
            return window.windowHandle() && window.windowHandle()->isExposed() && users &&
                   users->count() == 1;
        },
        5000);
    QCoreApplication::processEvents();
    if (gapFile)
        std::ofstream(std::string(gapFile) + ".ready") << "shown\n";
    GapMeter gaps;
    gaps.start();
    app.exec();
    const double longest = gaps.stop();
    if (gapFile)
        std::ofstream(gapFile) << longest << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    if (argc >= 3 && std::string(argv[1]) == "--serve")
        return ServeWindow(app, window, argv[2],
                           argc >= 5 && std::string(argv[3]) == "--gap-file" ? argv[4] : nullptr);
    auto* log = window.findChild<QPlainTextEdit*>(QStringLiteral("IDC_LOG"));
    if (!log) {
        std::fprintf(stderr, "window_bench: no log control\n");
        return 1;
    }
    const bool fullRate = AppendAtFullRate(log);
    const bool byLength = AppendCostByLength(log);
    const bool flood = FloodHostingWindow(log);
    std::printf("window_bench: %s\n", fullRate && byLength && flood ? "PASS" : "FAIL");
    return fullRate && byLength && flood ? 0 : 1;
}
