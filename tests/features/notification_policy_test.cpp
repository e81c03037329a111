// Mention matching, the notification and announcement policies: which lines notify under each
// Notify choice and which are announced, how a burst folds into one notification or announcement,
// and that announcements wait while the user types.
#include "features/announcement_policy.h"
#include "features/mention.h"
#include "features/notification_policy.h"
#include "features/notification_text.h"
#include "features/theme.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct MentionCase {
    const char* name;
    const char* text;
    const char* ownName;
    bool mentioned;
};

const MentionCase MENTION_CASES[] = {
    {"WholeWord", "hi Ann, how are you", "Ann", true},
    {"AnyCase", "ANN: look", "ann", true},
    {"StartAndEnd", "Ann", "Ann", true},
    {"InsideAWordIsNoMention", "Annabel and Joanne", "Ann", false},
    {"DigitsAndUnderscoreAreWordCharacters", "Ann2 Ann_x", "Ann", false},
    {"NonAsciiLetterNextToItIsAWordCharacter",
     "\xC3\xA9"
     "Ann",
     "Ann", false},
    {"LaterWholeWordAfterAPartOne", "Annie? no, Ann!", "Ann", true},
    {"NameWithPunctuationAtItsEnds", "hello <name>!", "<name>", true},
    {"NameWithASpace", "ask ann lee", "Ann Lee", true},
    {"EmptyNameIsNeverMentioned", "anything", "", false},
    {"NonAsciiName", "salut \xC3\x89lodie", "\xC3\x89lodie", true},
};

void PrintTo(const MentionCase& row, std::ostream* out) {
    *out << row.name;
}

class MentionTest : public testing::TestWithParam<MentionCase> {};

TEST_P(MentionTest, Rule) {
    EXPECT_EQ(MentionsName(GetParam().text, GetParam().ownName), GetParam().mentioned);
}

INSTANTIATE_TEST_SUITE_P(Mentions, MentionTest, testing::ValuesIn(MENTION_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

struct RecordingNotifier : Notifier {
    std::vector<Notification> shown;
    int withdrawn = 0;
    void show(const Notification& notification) override { shown.push_back(notification); }
    void withdraw() override { ++withdrawn; }
};

using Clock = NotificationPolicy::Clock;
using std::chrono::milliseconds;

class PolicyTest : public testing::Test {
protected:
    PolicyTest() { policy.setOwnName("Ann"); }

    // A line as the log holds it: "<name>: text" for chat, the bare text for the program's lines.
    void chat(const std::string& name, const std::string& text, int atMs, bool active = false) {
        policy.lineArrived("<" + name + ">: " + text,
                           {std::chrono::system_clock::now(), name.size()}, active, at(atMs));
    }
    void programLine(const std::string& line, int atMs) {
        policy.lineArrived(line, {std::chrono::system_clock::now()}, false, at(atMs));
    }
    Clock::time_point at(int ms) const { return start + milliseconds(ms); }

    RecordingNotifier notifier;
    NotificationPolicy policy{notifier};
    const Clock::time_point start = Clock::now();
};

TEST_F(PolicyTest, LineFromSomeoneElseNotifiesWithItsTextOthersNever) {
    programLine("<<Connected to: 10.0.0.1 on port 5000>>", 0);
    programLine("Server disconnected", 0);
    chat("Ann", "my own line", 0);
    chat("Bob", "seen while looking", 0, true);
    EXPECT_TRUE(notifier.shown.empty());

    chat("Bob", "hi <b>there</b>\x07", 10);
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].summary, "Bob in Parlox");
    EXPECT_EQ(notifier.shown[0].body, "hi <b>there</b> ");
    EXPECT_FALSE(notifier.shown[0].replaces);
    EXPECT_FALSE(notifier.shown[0].sound); // off unless chosen
}

// The sound comes with a burst's first notification, never with its updates; every line from
// someone else in the background counts as unread, whatever the choice.
TEST_F(PolicyTest, SoundOncePerBurstAndUnreadCountsEveryLineFromOthers) {
    policy.setSound(true);
    chat("Bob", "one", 0);
    chat("Bob", "two", 10);
    policy.tick(at(2000));
    chat("Bob", "after the burst", 9000);
    ASSERT_EQ(notifier.shown.size(), 3u);
    EXPECT_TRUE(notifier.shown[0].sound);
    EXPECT_FALSE(notifier.shown[1].sound);
    EXPECT_TRUE(notifier.shown[2].sound);

    policy.setMode(NotifyMode::None);
    chat("Cy", "quiet", 20000);
    chat("Ann", "mine", 20000);
    programLine("<<Error: x>>", 20000);
    EXPECT_EQ(policy.unreadLines(), 4);
    policy.windowActivated();
    EXPECT_EQ(policy.unreadLines(), 0);
}

TEST_F(PolicyTest, BurstFoldsIntoOneUpdateEveryTwoSeconds) {
    chat("Bob", "one", 0);
    // 10,000 lines within the next second: nothing more until two seconds have passed.
    for (int i = 0; i < 10000; ++i)
        chat(i % 2 ? "Bob" : "Cy", "flood", 1 + i / 10);
    policy.tick(at(1999));
    ASSERT_EQ(notifier.shown.size(), 1u);
    ASSERT_TRUE(policy.nextDue().has_value());
    EXPECT_EQ(*policy.nextDue(), at(2000));

    policy.tick(at(2000));
    ASSERT_EQ(notifier.shown.size(), 2u);
    EXPECT_TRUE(notifier.shown[1].replaces);
    EXPECT_EQ(notifier.shown[1].body, "10001 new lines");
    EXPECT_EQ(notifier.shown[1].summary, "Bob in Parlox");
    EXPECT_FALSE(policy.nextDue().has_value());

    // A line within two seconds of that update updates it again, two seconds after it.
    chat("Bob", "more", 3000);
    policy.tick(at(3999));
    EXPECT_EQ(notifier.shown.size(), 2u);
    policy.tick(at(4000));
    ASSERT_EQ(notifier.shown.size(), 3u);
    EXPECT_EQ(notifier.shown[2].body, "10002 new lines");

    // Later than that, a line stands on its own again.
    chat("Bob", "quiet now", 9000);
    ASSERT_EQ(notifier.shown.size(), 4u);
    EXPECT_FALSE(notifier.shown[3].replaces);
    EXPECT_EQ(notifier.shown[3].body, "quiet now");
}

TEST_F(PolicyTest, ActivatingTheWindowEndsTheBurst) {
    chat("Bob", "one", 0);
    chat("Bob", "two", 100);
    policy.windowActivated();
    EXPECT_EQ(notifier.withdrawn, 1);
    EXPECT_FALSE(policy.nextDue().has_value());
    chat("Bob", "three", 200);
    ASSERT_EQ(notifier.shown.size(), 2u);
    EXPECT_EQ(notifier.shown[1].body, "three");
    policy.windowActivated();
    policy.windowActivated(); // nothing unread: nothing to withdraw
    EXPECT_EQ(notifier.withdrawn, 2);
}

TEST_F(PolicyTest, TheThreeChoices) {
    policy.setMode(NotifyMode::Mentions);
    chat("Bob", "hello all", 0);
    EXPECT_TRUE(notifier.shown.empty());
    chat("Bob", "hello ANN", 5000);
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_TRUE(policy.mentionsMe("<Bob>: hello ANN", {{}, 3}));
    EXPECT_FALSE(policy.mentionsMe("<Ann>: I am Ann", {{}, 3})); // own lines are never bold
    EXPECT_FALSE(policy.mentionsMe("<<Ann>>", {}));

    policy.setMode(NotifyMode::None);
    chat("Bob", "hello Ann", 10000);
    EXPECT_EQ(notifier.shown.size(), 1u);

    policy.setMode(NotifyMode::EveryLine);
    chat("Bob", "hello all", 20000);
    EXPECT_EQ(notifier.shown.size(), 2u);
}

TEST(NotificationTextTest, UntrustedTextIsCutBlankedAndEscaped) {
    const std::string longText(1015, 'x');
    const std::string body = NotificationBody(longText);
    EXPECT_EQ(body, std::string(BODY_LIMIT, 'x') + "\xE2\x80\xA6");
    // Never cut inside a character: 199 bytes of ASCII then a two-byte letter.
    EXPECT_EQ(NotificationBody(std::string(199, 'a') + "\xC3\xA9z"),
              std::string(199, 'a') + "\xE2\x80\xA6");
    EXPECT_EQ(NotificationSummary(std::string(100, 'n') + "\n"),
              std::string(SUMMARY_NAME_LIMIT, 'n') + " in Parlox");
    EXPECT_EQ(EscapeMarkup("<a href=\"x\">&amp;</a>"), "&lt;a href=\"x\"&gt;&amp;amp;&lt;/a&gt;");
    EXPECT_EQ(AnnouncedLine("B\tob", "hi\nall"), "B ob: hi all");
    EXPECT_EQ(NewLinesFrom(2, {"Bob"}), "2 new lines, from Bob");
    EXPECT_EQ(NewLinesFrom(5, {"Bob", "Ann"}), "5 new lines, from Bob and Ann");
    EXPECT_EQ(NewLinesFrom(3, {"Bob", "Ann", "Cy"}), "3 new lines, from Bob, Ann and Cy");
    EXPECT_EQ(NewLinesFrom(9, {"Bob", "Ann", "Cy", "Dee"}),
              "9 new lines, from Bob, Ann, Cy and 1 other");
    EXPECT_EQ(NewLinesFrom(9, {"Bob", std::string(300, 'n'), "Cy", "Dee", "Eve"}),
              "9 new lines, from Bob, " + std::string(SUMMARY_NAME_LIMIT, 'n') +
                  ", Cy and 2 others");
    EXPECT_EQ(UnreadToolTip(0), "Parlox");
    EXPECT_EQ(UnreadToolTip(1), "Parlox: 1 unread line");
    EXPECT_EQ(UnreadToolTip(12), "Parlox: 12 unread lines");
}

struct RecordingAnnouncer : Announcer {
    std::vector<std::string> said;
    void announce(const std::string& text) override { said.push_back(text); }
};

class AnnouncementTest : public testing::Test {
protected:
    AnnouncementTest() { policy.setOwnName("Ann"); }

    // One refresh of the view bringing these lines: {name, text}, an empty name for a program line.
    void refresh(std::vector<std::pair<std::string, std::string>> lines, int atMs,
                 bool active = true) {
        ChatViewModel::LogUpdate update;
        for (const auto& [name, text] : lines) {
            update.added.push_back(name.empty() ? text : "<" + name + ">: " + text);
            update.addedInfo.push_back(
                {std::chrono::system_clock::now(),
                 name.empty() ? ChatViewModel::LineInfo::NOT_CHAT : name.size()});
        }
        policy.linesArrived(update, active, at(atMs));
    }
    Clock::time_point at(int ms) const { return start + milliseconds(ms); }

    RecordingAnnouncer announcer;
    AnnouncementPolicy policy{announcer};
    const Clock::time_point start = Clock::now();
};

TEST_F(AnnouncementTest, LinesFromOthersWhileActiveOnly) {
    refresh({{"", "<<Connected to: 10.0.0.1 on port 5000>>"}, {"Ann", "my own"}}, 0);
    refresh({{"Bob", "in the background"}}, 0, false);
    EXPECT_TRUE(announcer.said.empty());
    EXPECT_FALSE(policy.nextDue().has_value());

    refresh({{"Bob", "hi <all>\x07"}}, 10);
    EXPECT_EQ(announcer.said, std::vector<std::string>{"Bob: hi <all> "});

    policy.setEnabled(false);
    refresh({{"Bob", "not heard"}}, 10000);
    EXPECT_EQ(announcer.said.size(), 1u);
    EXPECT_FALSE(policy.nextDue().has_value());
}

TEST_F(AnnouncementTest, BurstsFoldIntoOneAnnouncementNamingTheWriters) {
    // Lines that come in one refresh are one announcement.
    refresh({{"Bob", "1"}, {"Cy", "2"}, {"Bob", "3"}, {"Ann", "mine"}, {"Cy", "4"}, {"Bob", "5"}},
            0);
    EXPECT_EQ(announcer.said, std::vector<std::string>{"5 new lines, from Bob and Cy"});

    // Within two seconds of it, lines wait and then go out together.
    refresh({{"Dee", "a"}}, 500);
    refresh({{"Eve", "b"}, {"Fay", "c"}, {"Gus", "d"}}, 1500);
    ASSERT_EQ(policy.nextDue(), at(2000));
    policy.tick(at(1999));
    EXPECT_EQ(announcer.said.size(), 1u);
    policy.tick(at(2000));
    EXPECT_EQ(announcer.said.back(), "4 new lines, from Dee, Eve, Fay and 1 other");
    EXPECT_FALSE(policy.nextDue().has_value());

    // One line waiting alone is told with its text.
    refresh({{"Bob", "alone"}}, 3000);
    policy.tick(at(4000));
    EXPECT_EQ(announcer.said.back(), "Bob: alone");
    EXPECT_EQ(announcer.said.size(), 3u);
}

TEST_F(AnnouncementTest, TypingHoldsAnnouncementsUntilThePause) {
    policy.keyTyped(at(0));
    refresh({{"Bob", "while you type"}}, 100);
    EXPECT_TRUE(announcer.said.empty());
    EXPECT_EQ(policy.nextDue(), at(1500));
    policy.keyTyped(at(1000)); // still typing: the pause starts again
    policy.tick(at(1500));
    EXPECT_TRUE(announcer.said.empty());
    EXPECT_EQ(policy.nextDue(), at(2500));
    policy.tick(at(2500));
    EXPECT_EQ(announcer.said, std::vector<std::string>{"Bob: while you type"});

    // Going to the background drops what waits: notifications tell of what comes next.
    policy.keyTyped(at(3000));
    refresh({{"Bob", "dropped"}}, 3100);
    policy.dropWaiting();
    policy.tick(at(10000));
    EXPECT_EQ(announcer.said.size(), 1u);
}

TEST(ThemeTest, ChoiceAndDesktop) {
    EXPECT_EQ(SchemeFromPortal(std::nullopt), DesktopScheme::NoPreference);
    EXPECT_EQ(SchemeFromPortal(0), DesktopScheme::NoPreference);
    EXPECT_EQ(SchemeFromPortal(1), DesktopScheme::Dark);
    EXPECT_EQ(SchemeFromPortal(2), DesktopScheme::Light);
    EXPECT_EQ(SchemeFromPortal(7), DesktopScheme::NoPreference);
    for (DesktopScheme desktop :
         {DesktopScheme::NoPreference, DesktopScheme::Dark, DesktopScheme::Light}) {
        EXPECT_EQ(ThemeFor(ThemeChoice::Light, desktop), Theme::Light);
        EXPECT_EQ(ThemeFor(ThemeChoice::Dark, desktop), Theme::Dark);
    }
    EXPECT_EQ(ThemeFor(ThemeChoice::FollowDesktop, DesktopScheme::NoPreference), Theme::System);
    EXPECT_EQ(ThemeFor(ThemeChoice::FollowDesktop, DesktopScheme::Dark), Theme::Dark);
    EXPECT_EQ(ThemeFor(ThemeChoice::FollowDesktop, DesktopScheme::Light), Theme::Light);

    // A background too light behind white text darkens in steps until the text stands 4.5:1, one
    // that is readable already stays; a dark text takes a lighter background.
    const Rgb white{255, 255, 255}, black{0, 0, 0};
    const Rgb selection{48, 140, 198};
    const Rgb readable = Readable(selection, white);
    EXPECT_GE(Contrast(readable, white), MIN_CONTRAST);
    EXPECT_LT(readable.blue, selection.blue);
    EXPECT_GT(readable.blue, 150); // a shade of the same blue, not black
    EXPECT_EQ(Readable({0, 0, 0x80}, white).blue, 0x80);
    EXPECT_GE(Contrast(Readable({90, 90, 90}, black), black), MIN_CONTRAST);
    EXPECT_NEAR(Contrast(white, black), 21.0, 1e-9);
}

} // namespace
