// Files in the window's room, seen from outside: a peer that knows only the chat protocol sees the
// offer line and nothing else, whether the window hosts or joins; saved files hold the offered
// bytes; the window's list follows offerers who leave.
#include "commands/file_menu_items.h"
#include "commands/room_files.h"
#include "files/file_peer.h"
#include "files/file_relay.h"
#include "files/offer_line.h"
#include "model/ui_tasks.h"
#include "tests/commands/commands_fixture.h"
#include "tests/support/other_window.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Runs the tasks the window would run while waiting, as its event loop does.
template <class Condition> bool Pump(Condition condition, int timeoutMs = 5000) {
    return WaitFor(
        [&] {
            RunUiTasks();
            return condition();
        },
        timeoutMs);
}

bool LogHas(const std::string& text) {
    return LogText().find(text) != std::string::npos;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class RoomFiles : public Commands {
protected:
    void SetUp() override {
        Commands::SetUp();
        folder = fs::temp_directory_path() /
                 ("parlox-room-files-" + std::to_string(tcpPort) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        Commands::TearDown();
        fs::remove_all(folder);
    }
    std::string write(const std::string& name, const std::string& bytes) {
        std::ofstream(folder / name, std::ios::binary) << bytes;
        return (folder / name).string();
    }
    static std::string ownOfferId() { return offerFrom(""); }
    // The listed offer from the participant the room calls `from` ("": the window's own).
    static std::string offerFrom(const std::string& from) {
        for (const OfferView& view : RoomFileOffers())
            if (view.from == from && view.state != OfferView::State::Preparing)
                return view.offerId;
        return {};
    }

    fs::path folder;
};

TEST_F(RoomFiles, AChatOnlyClientOfTheHostedRoomSeesOfferLinesAndNothingElse) {
    RawPeer cid = hostWithGuest("Cid");
    OfferRoomFile(write("report.txt", "hello"));
    ASSERT_TRUE(Pump([] { return !ownOfferId().empty(); }));
    const FileOffer own{ownOfferId(), 5,
                        "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824",
                        "report.txt"};
    const std::string ownLine = OfferLineText(own);
    ASSERT_TRUE(Pump([&] { return cid.readUntil("msg\n-1\n" + ownLine + "\n", 10); }));
    EXPECT_TRUE(LogHas("<Ann>: Offering a file: report.txt (5 bytes). [Parlox file "));

    // Another Parlox window offers; the host's window lists it and saves it.
    auto bob = std::make_unique<OtherWindow>("Bob", ProgramPort(tcpPort));
    ASSERT_TRUE(bob->joined);
    bob->files.offerFile(write("b.bin", std::string("\0\1\2", 3)));
    ASSERT_TRUE(cid.readUntil("msg\n1\nOffering a file: b.bin (3 bytes). [Parlox file "));
    ASSERT_TRUE(Pump([] { return !offerFrom("Bob").empty(); }));
    const std::string bobsId = offerFrom("Bob");
    const std::string target = (folder / "saved.bin").string();
    SaveRoomFile(bobsId, target);
    ASSERT_TRUE(Pump([&] { return LogHas("<<Saved b.bin (3 bytes) as " + target + ">>"); }));
    EXPECT_EQ(ReadAll(target), std::string("\0\1\2", 3));

    // Bob leaves: his offer leaves the list; the host's own stays.
    bob.reset();
    ASSERT_TRUE(Pump([] { return RoomFileOffers().size() == 1; }));
    ASSERT_TRUE(cid.readUntil("logoff\n1\n"));
    EnterCommand("after");
    ASSERT_TRUE(cid.readUntil("msg\n-1\nafter\n"));
    const std::string seen = cid.take();
    EXPECT_EQ(seen.substr(0, seen.find("login\n1\nBob\n")), "msg\n-1\n" + ownLine + "\n");
    EXPECT_EQ(seen.substr(seen.find("logoff\n1\n")), "logoff\n1\nmsg\n-1\nafter\n");
}

TEST_F(RoomFiles, AHostThatKnowsOnlyTheChatSeesNothingOfFiles) {
    // Nobody else's file service on the port above while it runs.
    const ReservedPort ports;
    RawListener host(htonl(INADDR_LOOPBACK), ports.tcpPort);
    ConnectCommand(fields("Bob", "127.0.0.1", host.programPort()));
    RawPeer chat = host.accept();
    OfferRoomFile(write("x.txt", "x"));
    ASSERT_TRUE(Pump([] {
        return LogHas("<<Could not offer x.txt: this room's host does not pass files on>>");
    }));
    EnterCommand("marker");
    ASSERT_TRUE(chat.readUntil("msg\nmarker\n"));
    EXPECT_EQ(chat.take(), "login\nBob\nmsg\nmarker\n");
    EXPECT_FALSE(host.accept(0).valid()); // no other connection to the chat's port
}

TEST_F(RoomFiles, AJoinedRoomsFilesComeThroughItsHost) {
    // A host that relays chat by hand, with the file service beside it, on a port whose
    // neighbour no other test takes meanwhile.
    const ReservedPort ports;
    RawListener host(htonl(INADDR_LOOPBACK), ports.tcpPort);
    FileRelay relay;
    ASSERT_TRUE(relay.start(host.programPort())) << relay.lastError;
    ConnectCommand(fields("Bob", "127.0.0.1", host.programPort()));
    RawPeer chat = host.accept();
    chat.send("login\n-1\nHal\nlogin\n0\nBob\n");
    OfferRoomFile(write("mine.txt", "mine"));
    ASSERT_TRUE(Pump([&] { return chat.readUntil("(4 bytes). [Parlox file ", 10); }));
    ASSERT_TRUE(chat.readUntil("]\n"));
    const std::string said = chat.take();
    const std::string line = said.substr(said.find("msg\n") + 4);
    chat.send("msg\n0\n" + line);
    ASSERT_TRUE(Pump([] { return !ownOfferId().empty() && LogHas("<Bob>: Offering a file"); }));

    FilePeer hal("127.0.0.1", host.programPort(),
                 {[&](const std::string& text) { chat.send("msg\n-1\n" + text + "\n"); },
                  [](const std::string&) {},
                  [] {
                  }});
    hal.offerFile(write("hal.txt", "from hal"));
    ASSERT_TRUE(Pump([] { return !offerFrom("Hal").empty(); }));
    const std::string halsId = offerFrom("Hal");
    const std::string target = (folder / "got.txt").string();
    SaveRoomFile(halsId, target);
    ASSERT_TRUE(Pump([&] { return LogHas("<<Saved hal.txt (8 bytes) as " + target + ">>"); }));
    EXPECT_EQ(ReadAll(target), "from hal");
}

// The menu's items: what each state reads as, the name cut for the menu but not for saving, and
// the list cut at its limit.
TEST(FileMenu, ItemsSayWhatChoosingDoesAndStayBounded) {
    using State = OfferView::State;
    const std::string longName = std::string(100, 'n') + ".pdf";
    std::vector<OfferView> offers = {
        {"a", "mine.txt", 5, "", State::Offered, 0},
        {"", "big.iso", 0, "", State::Preparing, 0},
        {"b", "half.bin", 2000, "Bob", State::Saving, 1000},
        {"c", longName, 12582912, "Cy", State::Available, 0},
    };
    std::vector<FileMenuItem> items = FileMenuItems(offers);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].text, "mine.txt \u2014 5 bytes, from you (choose to withdraw)");
    EXPECT_EQ(items[0].action, FileMenuItem::Action::Withdraw);
    EXPECT_EQ(items[1].text, "big.iso \u2014 reading it to offer it\u2026");
    EXPECT_EQ(items[1].action, FileMenuItem::Action::None);
    EXPECT_EQ(items[2].text, "half.bin \u2014 saving, 50% of 2.0 KB (choose to cancel)");
    EXPECT_EQ(items[2].action, FileMenuItem::Action::Cancel);
    EXPECT_EQ(items[3].text, std::string(80, 'n') + "\u2026 \u2014 12.6 MB, from Cy");
    EXPECT_EQ(items[3].suggestedName, longName);

    offers.assign(FILE_MENU_LIMIT + 5, {"x", "x", 1, "Ann", State::Available, 0});
    items = FileMenuItems(offers);
    ASSERT_EQ(items.size(), FILE_MENU_LIMIT + 1);
    EXPECT_EQ(items.back().text, "\u2026 and 5 more");
    EXPECT_EQ(FileMenuItems({}).front().text, NO_FILES);
}

} // namespace
