// The names and lines of offered files: what a hostile or careless name becomes, the offer line
// both ways, the sizes people read, and the digests against the FIPS 180 examples.
#include "files/file_names.h"
#include "files/offer_line.h"
#include "files/random_id.h"
#include "files/service_protocol.h"
#include "files/sha256.h"
#include "text/shown_text.h"
#include "wire/protocol.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct NameCase {
    const char* name;
    std::string offered;
    std::string saved;
};

class SafeNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(SafeNames, BecomeASafeName) {
    EXPECT_EQ(SafeFileName(GetParam().offered), GetParam().saved);
}

INSTANTIATE_TEST_SUITE_P(
    Offered, SafeNames,
    ::testing::Values(NameCase{"Plain", "report 2.pdf", "report 2.pdf"},
                      NameCase{"NonAscii",
                               "Z\xC3\xBC"
                               "rich \xE2\x82\xAC.txt",
                               "Z\xC3\xBC"
                               "rich \xE2\x82\xAC.txt"},
                      NameCase{"ParentFolders", "../../etc/passwd", "_.._etc_passwd"},
                      NameCase{"WindowsPath", "C:\\Windows\\win.ini", "C__Windows_win.ini"},
                      NameCase{"Stream", "notes.txt:hidden", "notes.txt_hidden"},
                      NameCase{"ReservedCharacters", "a*b?c\"d<e>f|g", "a_b_c_d_e_f_g"},
                      NameCase{"DeviceName", "CON", "_CON"},
                      NameCase{"DeviceWithExtension", "nul.txt", "_nul.txt"},
                      NameCase{"DeviceAnyCase", "Com1 .log", "_Com1 .log"},
                      NameCase{"LongerThanADevice", "CONSOLE.txt", "CONSOLE.txt"},
                      NameCase{"RightToLeftOverride", "photo\xE2\x80\xAEgpj.exe", "photo_gpj.exe"},
                      NameCase{"RightToLeftMark", "photo\xE2\x80\x8F.exe", "photo_.exe"},
                      NameCase{"LineBreak", "a\nb", "a_b"},
                      NameCase{"ControlCharacter",
                               std::string("a\x01"
                                           "b",
                                           3),
                               "a_b"},
                      NameCase{"Tab", "a\tb", "a b"}, NameCase{"NoUtf8", "\xFF\xFE.txt", "__.txt"},
                      NameCase{"TrailingDotsAndSpaces", "report.pdf. . ", "report.pdf"},
                      NameCase{"OnlyDots", "..", "file"},
                      NameCase{"HiddenName", ".bashrc", "bashrc"}, NameCase{"Empty", "", "file"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(SafeNames, ATenKilobyteNameIsCutKeepingItsExtension) {
    const std::string pdf = SafeFileName(std::string(10000, 'a') + ".pdf");
    EXPECT_EQ(pdf.size(), SAFE_NAME_LIMIT);
    EXPECT_TRUE(pdf.ends_with("a.pdf"));
    // Between characters, never inside one.
    std::string euros;
    for (int i = 0; i < 300; ++i)
        euros += "\xE2\x82\xAC";
    const std::string saved = SafeFileName(euros);
    EXPECT_EQ(saved.size(), 198u);
    EXPECT_EQ(ShownText(saved), saved);
}

FileOffer Sample(std::string name, uint64_t size = 12582912) {
    return {RandomId(), size, std::string(64, 'a'), std::move(name)};
}

TEST(OfferLine, ReadsNaturallyAndComesBackWhole) {
    const FileOffer offer = Sample("report.pdf");
    const std::string line = OfferLineText(offer);
    EXPECT_EQ(line, "Offering a file: report.pdf (12.6 MB). [Parlox file " + offer.id +
                        ", 12582912 bytes, SHA-256 " + offer.sha256 + "]");
    for (const std::string name :
         {"report.pdf", "a [Parlox file x] (1 byte). b", "\xC3\xA9t\xC3\xA9"}) {
        const auto back = ParseOfferLine(OfferLineText(Sample(name)));
        ASSERT_TRUE(back) << name;
        EXPECT_EQ(back->name, name);
    }
}

TEST(OfferLine, AHostileNameStillMakesOneReadableLineWithinTheLimit) {
    const std::string hostile = std::string(10000, 'n') + "\n\x01\xE2\x80\xAE\xFF";
    const std::string line = OfferLineText(Sample(hostile));
    EXPECT_LE(line.size(), MAX_LINE_TEXT);
    EXPECT_EQ(ShownText(line), line); // valid UTF-8, no breaks, no controls
    const auto back = ParseOfferLine(line);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->name.ends_with("nnn\xE2\x80\xA6"));
    EXPECT_EQ(OfferLineText(Sample("\n\x01")).find('\n'), std::string::npos);
}

TEST(OfferLine, LinesThatAreNotExactlyAnOfferAreChat) {
    const FileOffer offer = Sample("a.txt", 2000);
    const std::string good = OfferLineText(offer);
    const auto replaced = [&](const std::string& what, const std::string& with) {
        std::string line = good;
        return line.replace(line.find(what), what.size(), with);
    };
    for (const std::string& line : {
             std::string("hello"),
             replaced("(2.0 KB)", "(2.1 KB)"),             // the two sizes disagree
             replaced("2000 bytes", "02000 bytes"),        // not the one way to write it
             replaced(offer.id, offer.id.substr(1)),       // an id too short
             replaced(offer.sha256, std::string(64, 'A')), // not lowercase
             good + " ",
             replaced("Offering a file: ", "Offering: "),
             replaced("a.txt", "a\x01.txt"), // a name no Parlox would write
             replaced("a.txt", ""),
         })
        EXPECT_FALSE(ParseOfferLine(line)) << line;
}

TEST(OfferLine, SizesReadAsPeopleWriteThem) {
    EXPECT_EQ(HumanSize(0), "0 bytes");
    EXPECT_EQ(HumanSize(1), "1 byte");
    EXPECT_EQ(HumanSize(999), "999 bytes");
    EXPECT_EQ(HumanSize(1000), "1.0 KB");
    EXPECT_EQ(HumanSize(999950), "1.0 MB");
    EXPECT_EQ(HumanSize(1073741824), "1.1 GB");
}

TEST(FileService, ListensOneAboveTheRoomsTcpPort) {
    // The room typed as 5000 is TCP port 34835 (the typed number's bytes swapped).
    EXPECT_EQ(FileServiceTcpPort(5000), 34836);
    EXPECT_EQ(FileServicePort(5000), 0x1488);
    EXPECT_EQ(FileServiceTcpPort(0xFFFF), 65534);
}

TEST(Sha256, MatchesTheFips180Examples) {
    const auto digest = [](const std::string& text, size_t piece) {
        Sha256 hash;
        for (size_t at = 0; at < text.size(); at += piece)
            hash.update(text.data() + at, std::min(piece, text.size() - at));
        return hash.finishHex();
    };
    EXPECT_EQ(digest("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digest(std::string(1000000, 'a'), 65537),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    Sha256 reused;
    reused.update("x", 1);
    (void)reused.finishHex();
    EXPECT_EQ(reused.finishHex(), digest("", 1));
}

TEST(RandomIds, AreFreshAndWellFormed) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string id = RandomId();
        EXPECT_TRUE(IsRandomId(id)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

} // namespace
