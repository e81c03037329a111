// ChatViewModel: the user list by participant id, the log cap, the deltas a view reads, the pager
// that shows them in slices, and appends from several threads at once.
#include "model/chat_view_model.h"

#include "model/log_pager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// A change of the user list: a name for an id, or (name null) the id's departure.
struct UserChange {
    int64_t id;
    const char* name;
};

struct UserListCase {
    const char* name;
    std::vector<UserChange> changes;
    std::vector<std::string> expected;
};

const UserListCase USER_LIST_CASES[] = {
    {"NamesInTheOrderTheyCame", {{-1, "Ann"}, {5, "Bob"}, {0, "Cid"}}, {"Ann", "Bob", "Cid"}},
    {"SecondNameReplacesInPlace",
     {{-1, "Ann"}, {0, "Bob"}, {1, "Cid"}, {0, "Rob"}, {-1, "Zed"}},
     {"Zed", "Rob", "Cid"}},
    {"DepartureTakesItsOwnEntry",
     {{-1, "bob"}, {0, "Bob"}, {1, "BOB"}, {1, nullptr}},
     {"bob", "Bob"}},
    {"HostsNamesakeLeavesHostStays", {{-1, "Ann"}, {0, "Ann"}, {0, nullptr}}, {"Ann"}},
    {"UnlistedIdRemovesNothing", {{-1, "Ann"}, {3, nullptr}}, {"Ann"}},
    {"ReturningIdGoesLast", {{0, "Bob"}, {1, "Cid"}, {0, nullptr}, {0, "Bob"}}, {"Cid", "Bob"}},
    {"IdsOutsideTheRoomIgnored", {{-2, "x"}, {32, "y"}, {1LL << 40, "z"}, {31, "Last"}}, {"Last"}},
};

class UserListTest : public testing::TestWithParam<UserListCase> {};

TEST_P(UserListTest, Rule) {
    ChatViewModel model;
    for (const UserChange& change : GetParam().changes) {
        if (change.name)
            model.setUser(change.id, change.name);
        else
            model.removeUser(change.id);
    }
    EXPECT_EQ(model.users(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Users, UserListTest, testing::ValuesIn(USER_LIST_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(ChatViewModelTest, LogCapDropsOldestWholeLines) {
    ChatViewModel model;
    // 9,999 lines of 10 bytes with their newlines, then 9 more bytes: exactly at the limit.
    for (int i = 0; i < 9999; ++i)
        model.appendLine(std::string(9, 'a'));
    model.appendLine("12345678");
    EXPECT_EQ(model.logBytes(), ChatViewModel::LOG_LIMIT);
    EXPECT_EQ(model.logText().substr(0, 10), "aaaaaaaaa\n");

    model.appendLine(""); // one byte over: the first line goes, whole
    EXPECT_EQ(model.logBytes(), ChatViewModel::LOG_LIMIT - 9);
    model.appendLine(std::string(25, 'b')); // two more lines go
    EXPECT_EQ(model.logBytes(), ChatViewModel::LOG_LIMIT - 9 + 26 - 20);
    const std::string text = model.logText();
    EXPECT_EQ(text.size(), model.logBytes());
    EXPECT_EQ(text.substr(text.size() - 36), "12345678\n\n" + std::string(25, 'b') + "\n");

    model.appendLine(std::string(200000, 'c')); // longer than the whole log: its start is kept
    EXPECT_EQ(model.logText(), std::string(ChatViewModel::LOG_LIMIT - 1, 'c') + "\n");
}

// Applies updates the way a view does, so that what it shows can be compared with the model.
struct View {
    void apply(const ChatViewModel::LogUpdate& update) {
        if (update.cleared)
            lines.clear();
        ASSERT_LE(update.droppedFront, lines.size());
        lines.erase(lines.begin(), lines.begin() + std::ptrdiff_t(update.droppedFront));
        lines.insert(lines.end(), update.added.begin(), update.added.end());
    }
    std::string text() const {
        std::string all;
        for (const std::string& line : lines)
            all += line + "\n";
        return all;
    }
    ChatViewModel::LogCursor cursor;
    std::deque<std::string> lines;
};

// A log control that keeps text blocks, as a document does: a line with line feeds in it takes
// one block per piece.
struct BlockLog : LogControl {
    void clear() override { blocks.clear(); }
    std::vector<size_t> edit(size_t dropUnits, const std::vector<LogLine>& lines) override {
        EXPECT_LE(dropUnits, blocks.size());
        EXPECT_LE(lines.size(), LogPager::LINES_PER_REFRESH);
        blocks.erase(blocks.begin(),
                     blocks.begin() + std::ptrdiff_t(std::min(dropUnits, blocks.size())));
        std::vector<size_t> units;
        for (const LogLine& shown : lines) {
            const std::string& line = shown.text;
            size_t pieces = 0;
            for (size_t at = 0;; at = line.find('\n', at) + 1) {
                blocks.push_back(line.substr(at, line.find('\n', at) - at));
                ++pieces;
                if (line.find('\n', at) == std::string::npos)
                    break;
            }
            units.push_back(pieces);
        }
        return units;
    }
    std::string text() const {
        std::string all;
        for (const std::string& block : blocks)
            all += block + "\n";
        return all;
    }
    std::deque<std::string> blocks;
};

TEST(ChatViewModelTest, ViewPollingAtRandomGetsOnlyWhatChanged) {
    // Appends of up to 4,000 bytes, some with line feeds in them, drop old lines often; now and
    // then the log is cleared. The pager follows the same model one slice per poll.
    ChatViewModel model;
    View view;
    LogPager pager;
    BlockLog control;
    std::mt19937 random(7);
    size_t appended = 0;
    bool cleared = false;
    for (int step = 0; step < 3000; ++step) {
        const unsigned roll = random() % 100;
        if (roll < 2) {
            model.reset(roll == 0);
            cleared = cleared || roll == 0;
        } else {
            std::string line(random() % 4000, char('a' + step % 26));
            if (roll % 5 == 0 && !line.empty())
                line[random() % line.size()] = '\n';
            model.appendLine(line);
            ++appended;
        }
        if (roll % 3 == 0) {
            const ChatViewModel::LogUpdate update = model.logSince(view.cursor);
            EXPECT_EQ(update.cleared, cleared);
            EXPECT_LE(update.added.size(), appended);
            view.apply(update);
            ASSERT_EQ(view.text(), model.logText()) << "step " << step;
            appended = 0;
            cleared = false;
            // Whole texts of up to 100 KB: a difference is reported by size, not printed.
            if (!pager.refresh(model, control)) {
                ASSERT_TRUE(control.text() == model.logText())
                    << "step " << step << ": " << control.text().size() << " bytes shown of "
                    << model.logBytes();
            }
        }
    }
    while (pager.refresh(model, control)) {
    }
    EXPECT_TRUE(control.text() == model.logText());
}

TEST(ChatViewModelTest, PagerShowsSlicesDropsFromTheTopAndStartsOverAfterAClear) {
    // Lines of 100 bytes with their newline, every seventh in two blocks: the log holds 999.
    const auto line = [](int i) {
        std::string text = std::to_string(i) + std::string(99 - std::to_string(i).size(), '.');
        if (i % 7 == 0)
            text[50] = '\n';
        return text;
    };
    const auto lines = [&](int from, int to) {
        std::string all;
        for (int i = from; i < to; ++i)
            all += line(i) + "\n";
        return all;
    };
    ChatViewModel model;
    LogPager pager;
    BlockLog control;
    for (int i = 0; i < 300; ++i)
        model.appendLine(line(i));
    EXPECT_TRUE(pager.refresh(model, control));
    EXPECT_EQ(control.text(), lines(0, 100));

    // The log lets go of lines 0 to 150: all 100 shown ones leave the top, 51 waiting ones never
    // show.
    for (int i = 300; i < 1150; ++i)
        model.appendLine(line(i));
    EXPECT_TRUE(pager.refresh(model, control));
    EXPECT_EQ(control.text(), lines(151, 251));
    EXPECT_TRUE(pager.refresh(model, control));
    EXPECT_EQ(control.text(), lines(151, 351));
    while (pager.refresh(model, control)) {
    }
    EXPECT_EQ(control.text(), lines(151, 1150));

    // 600 shown lines go at once: each refresh takes at most 200 of them from the top.
    for (int i = 1150; i < 1750; ++i)
        model.appendLine(line(i));
    EXPECT_TRUE(pager.refresh(model, control));
    EXPECT_EQ(control.text(), lines(351, 1250));
    while (pager.refresh(model, control)) {
    }
    EXPECT_EQ(control.text(), lines(751, 1750));

    // A clear while lines wait: none of them shows, only what came after the clear.
    model.reset(true);
    model.appendLine("after");
    EXPECT_FALSE(pager.refresh(model, control));
    EXPECT_EQ(control.text(), "after\n");
    EXPECT_FALSE(pager.refresh(model, control));
    EXPECT_EQ(control.text(), "after\n");
}

TEST(ChatViewModelTest, AppendsFromSeveralThreadsLoseNothingAndKeepOrder) {
    constexpr int THREADS = 4;
    constexpr int LINES = 2000;
    ChatViewModel model;
    std::atomic<int> notices{0};
    // The observer reads the model: it would deadlock if it were called under the model's lock.
    model.setObserver([&] {
        (void)model.logBytes();
        ++notices;
    });
    std::atomic<bool> done{false};
    std::thread reader([&] {
        View view;
        while (!done)
            view.apply(model.logSince(view.cursor));
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < THREADS; ++t) {
        writers.emplace_back([&model, t] {
            for (int i = 0; i < LINES; ++i)
                model.appendLine(std::to_string(t) + ":" + std::to_string(i));
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    done = true;
    reader.join();

    EXPECT_EQ(notices, THREADS * LINES);
    int next[THREADS] = {};
    const std::string text = model.logText();
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        const int thread = line[0] - '0';
        ASSERT_EQ(line, std::to_string(thread) + ":" + std::to_string(next[thread]));
        ++next[thread];
        at = end + 1;
    }
    for (int count : next)
        EXPECT_EQ(count, LINES);
}

} // namespace
