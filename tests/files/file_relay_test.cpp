// Files through the host's file service on loopback: whole files arrive checked and nothing else
// is left behind; hostile offerers and requesters, floods and departures get clear answers.
#include "tests/files/relay_fixture.h"

namespace {

TEST_F(Relay, EveryReceiverSavesTheOfferedBytesAndNothingElseIsLeft) {
    const std::string bytes = Bytes(3 * 1024 * 1024 + 17, 1);
    fs::create_directories(folder / "out");
    Window ann(roomPort);
    Window bob(roomPort);
    Window cid(roomPort);
    const std::string line = ann.offer(write("report \xE2\x82\xAC.pdf", bytes));
    ASSERT_NE(line.find("report \xE2\x82\xAC.pdf (3.1 MB)"), std::string::npos) << line;
    ASSERT_EQ(ann.listed(), 1u);
    EXPECT_EQ(ann.peer.offers()[0].state, OfferView::State::Offered);
    const std::string id = bob.see(line);
    ASSERT_EQ(cid.see(line), id);
    ASSERT_TRUE(bob.peer.save(id, Utf8(folder / "out" / "bob.pdf")));
    ASSERT_TRUE(cid.peer.save(id, Utf8(folder / "out" / "cid.pdf")));
    EXPECT_FALSE(bob.peer.save(id, Utf8(folder / "out" / "again.pdf"))); // already saving
    ASSERT_TRUE(bob.noteWith("Saved report \xE2\x82\xAC.pdf (3.1 MB) as "));
    ASSERT_TRUE(cid.noteWith("Saved"));
    EXPECT_EQ(Digest(ReadAll(folder / "out" / "bob.pdf")), Digest(bytes));
    EXPECT_EQ(ReadAll(folder / "out" / "cid.pdf"), bytes);
    std::vector<std::string> left = leftIn(folder / "out");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"bob.pdf", "cid.pdf"}));
    // An empty file travels too.
    const std::string empty = ann.offer(write("empty", ""));
    ASSERT_TRUE(bob.peer.save(bob.see(empty), Utf8(folder / "out" / "empty")));
    ASSERT_TRUE(bob.noteWith("Saved empty (0 bytes)"));
    EXPECT_EQ(fs::file_size(folder / "out" / "empty"), 0u);
}

TEST_F(Relay, OffersEndWhenWithdrawnOrWhenTheOffererLeaves) {
    Window bob(roomPort);
    auto ann = std::make_unique<Window>(roomPort);
    const std::string first = bob.see(ann->offer(write("a.txt", "aaa")));
    const std::string second = bob.see(ann->offer(write("b.txt", "bbb")));
    ASSERT_EQ(bob.listed(), 2u);
    ann->peer.withdraw(ann->peer.offers().back().offerId);
    ASSERT_TRUE(WaitFor([&] { return bob.listed() == 1; }));
    EXPECT_EQ(bob.peer.offers()[0].offerId, second);
    EXPECT_FALSE(bob.peer.save(first, Utf8(folder / "x")));
    ann.reset();
    ASSERT_TRUE(WaitFor([&] { return bob.listed() == 0; }));
    EXPECT_TRUE(WaitFor([&] { return relay.offerCount() == 0; }));
}

TEST_F(Relay, ALineThatNamesNoRegisteredOfferNeverShows) {
    Window ann(roomPort);
    Window bob(roomPort);
    const std::string real = ann.offer(write("real.txt", "x"));
    std::string forged = real;
    forged.replace(forged.find("file ") + 5, 32, std::string(32, '0'));
    bob.peer.lineSeen("Eve", forged);
    // Another copy of a real offer's id with another file's size or digest is no offer either.
    std::string resized = real;
    resized.replace(resized.find("(1 byte)"), 8, "(2 bytes)")
        .replace(resized.find(", 1 bytes"), 9, ", 2 bytes");
    bob.peer.lineSeen("Eve", resized);
    bob.see(real);
    EXPECT_TRUE(WaitFor([&] { return relay.transferCount() == 0; }));
    ASSERT_EQ(bob.listed(), 1u);
    EXPECT_EQ(bob.peer.offers()[0].from, "Ann");
}

struct OffererCase {
    const char* name;
    size_t sent;     // bytes of the offered file sent
    bool otherBytes; // different bytes of the same size
    size_t extra;    // bytes beyond the offer
    enum { Close, Reset, Stall } end;
    const char* reason;
};

class HostileOfferer : public Relay, public ::testing::WithParamInterface<OffererCase> {};

TEST_P(HostileOfferer, TheReceiverKeepsNothingAndSaysWhy) {
    const OffererCase& c = GetParam();
    const std::string bytes = Bytes(600000, 2);
    std::string id;
    RawPeer session = rawOffer(bytes.size(), Digest(bytes), id);
    Window bob(roomPort);
    FileOffer offer{id, bytes.size(), Digest(bytes), "x.bin"};
    ASSERT_EQ(bob.see(OfferLineText(offer)), id);
    fs::create_directories(folder / "out");
    ASSERT_TRUE(bob.peer.save(id, Utf8(folder / "out" / "x.bin")));
    RawPeer upload = RawPeer::connectTo(serviceTcpPort);
    ASSERT_TRUE(upload.readUntil("PARLOX-FILES 1\n"));
    std::string sent = c.otherBytes ? Bytes(bytes.size(), 3) : bytes.substr(0, c.sent);
    sent += std::string(c.extra, 'x');
    upload.send("PUT " + ticketFor(session, id) + "\n" + sent);
    if (c.end == OffererCase::Close)
        upload.hangUp();
    else if (c.end == OffererCase::Reset)
        upload.reset();
    ASSERT_TRUE(bob.noteWith("Could not save x.bin: ")) << bob.note("");
    EXPECT_NE(bob.note("Could not save").find(c.reason), std::string::npos) << bob.note("");
    EXPECT_NE(bob.note("Could not save").find("Nothing was kept."), std::string::npos);
    EXPECT_TRUE(leftIn(folder / "out").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Uploads, HostileOfferer,
    ::testing::Values(OffererCase{"StopsHalfway", 300000, false, 0, OffererCase::Close,
                                  "the offerer's connection ended after 300.0 KB of 600.0 KB"},
                      OffererCase{"VanishesMidFile", 300000, false, 0, OffererCase::Reset,
                                  "the offerer's connection ended"},
                      OffererCase{"Stalls", 300000, false, 0, OffererCase::Stall,
                                  "the offerer sent nothing for 0.5 s"},
                      OffererCase{"SendsMore", 600000, false, 10, OffererCase::Close,
                                  "the offerer sent more bytes than it offered"},
                      OffererCase{"SendsOtherBytes", 600000, true, 0, OffererCase::Close,
                                  "differs from the one offered (its SHA-256 does not match)"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(Relay, RequestersGetNothingTheyWereNotOffered) {
    std::string id;
    RawPeer session = rawOffer(3, Digest("abc"), id);
    const auto ask = [&](const std::string& line) {
        RawPeer peer = RawPeer::connectTo(serviceTcpPort);
        peer.send(line);
        peer.readEnd(3000);
        return peer.take();
    };
    const std::string greeting = "PARLOX-FILES 1\n";
    EXPECT_EQ(ask("GET " + std::string(32, 'a') + " 3 " + Digest("abc") + "\n"),
              greeting + "ERR no such file is offered in this room (it may have been withdrawn)\n");
    EXPECT_EQ(ask("GET " + id + " 3 " + Digest("abd") + "\n"),
              greeting + "ERR the offer under this id is for another file\n");
    EXPECT_EQ(ask("PUT " + std::string(32, 'b') + "\nabc"), greeting);
    EXPECT_EQ(ask(std::string(300, 'z')), greeting);
    EXPECT_EQ(ask("HELLO\n"), greeting);
    EXPECT_EQ(ask(""), greeting); // says nothing: closed after the first-line limit
    // The guesses asked the offerer for nothing.
    session.send("WATCH " + id + " 3 " + Digest("abc") + "\n");
    ASSERT_TRUE(session.readUntil("LIVE " + id + " 3 " + Digest("abc") + "\n"));
    EXPECT_EQ(session.take(), "LIVE " + id + " 3 " + Digest("abc") + "\n");
}

TEST_F(Relay, FloodsAreBoundedAndTheServiceKeepsServing) {
    // A thousand offers from one peer: the first hundred are registered.
    RawPeer session = RawPeer::connectTo(serviceTcpPort);
    std::string offers = "SESSION\n";
    for (int i = 0; i < 1000; ++i)
        offers += "OFFER " + std::to_string(i) + " 1 " + Digest("x") + "\n";
    session.send(offers);
    ASSERT_TRUE(session.readUntil("REFUSED 999 "));
    const std::string answers = session.take();
    size_t offered = 0;
    for (size_t at = answers.find("OFFERED"); at != std::string::npos;
         at = answers.find("OFFERED", at + 1))
        ++offered;
    EXPECT_EQ(offered, OfferTable::MAX_OFFERS_PER_PEER);
    EXPECT_NE(answers.find("REFUSED 100 you already offer 100 files in this room; withdraw one "
                           "first\n"),
              std::string::npos);
    // Connections that never say what they are: past the limit the oldest are closed.
    std::vector<RawPeer> silent;
    for (size_t i = 0; i < FileRelay::MAX_NEWCOMERS + 8; ++i)
        silent.push_back(RawPeer::connectTo(serviceTcpPort));
    EXPECT_TRUE(silent.front().readEnd(2000));
    // A thousand offer lines a window sees keep its list bounded.
    Window bob(roomPort);
    for (int i = 0; i < 1000; ++i)
        bob.peer.lineSeen("Eve", OfferLineText({RandomId(), 1, Digest("x"), "f"}));
    EXPECT_LE(bob.listed(), OfferBoard::MAX_LISTED);
    // Files pass while they stay.
    Window ann(roomPort);
    const std::string id = bob.see(ann.offer(write("ok.txt", "ok")));
    ASSERT_TRUE(bob.peer.save(id, Utf8(folder / "ok-saved.txt")));
    EXPECT_TRUE(bob.noteWith("Saved ok.txt"));
}

TEST_F(Relay, ACancelledOrEndedDownloadLeavesNothing) {
    const std::string bytes = Bytes(400000, 4);
    std::string id;
    RawPeer session = rawOffer(bytes.size(), Digest(bytes), id);
    fs::create_directories(folder / "out");
    auto bob = std::make_unique<Window>(roomPort);
    ASSERT_EQ(bob->see(OfferLineText({id, bytes.size(), Digest(bytes), "x.bin"})), id);
    ASSERT_TRUE(bob->peer.save(id, Utf8(folder / "out" / "x.bin")));
    RawPeer upload = RawPeer::connectTo(serviceTcpPort);
    upload.send("PUT " + ticketFor(session, id) + "\n" + bytes.substr(0, 1000));
    ASSERT_TRUE(WaitFor([&] { return bob->peer.offers()[0].received == 1000; }));
    EXPECT_EQ(bob->peer.offers()[0].state, OfferView::State::Saving);
    bob->peer.cancel(id);
    ASSERT_TRUE(bob->noteWith("Could not save x.bin: you cancelled it. Nothing was kept."));
    EXPECT_TRUE(leftIn(folder / "out").empty());

    // The room ends (the window leaves it) in the middle of another download.
    ASSERT_TRUE(bob->peer.save(id, Utf8(folder / "out" / "x.bin")));
    RawPeer again = RawPeer::connectTo(serviceTcpPort);
    again.send("PUT " + ticketFor(session, id) + "\n" + bytes.substr(0, 1000));
    ASSERT_TRUE(WaitFor([&] { return bob->peer.offers()[0].received == 1000; }));
    bob.reset();
    EXPECT_TRUE(leftIn(folder / "out").empty());
}

} // namespace
