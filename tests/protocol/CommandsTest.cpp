// The reply rules and the transfer time-outs, as tables.
#include "protocol/Commands.h"

#include <gtest/gtest.h>

#include <cstring>

namespace marlet {
namespace {

TEST(Commands, ReplyTextIsTheLeadingPrintableRun)
{
    struct Case {
        std::string reply;
        size_t count;
        std::string text;
    };
    const std::string twenty = "ABCDEFGHIJKLMNOPQRST";
    const Case cases[] = {
        {"1.07\r", 5, "1.07"},
        {"\x02"
         "1.07\r",
         6, ""},              // a leading control byte gives an empty text
        {twenty, 20, twenty}, // a full read of text
        {std::string("AB\x01"
                     "CD",
                     5),
         5, "AB"},                               // printable bytes after a control byte are ignored
        {"\x7F\xFF\x80 x", 5, "\x7F\xFF\x80 x"}, // high bytes count as text
        {"ABCDEF", 3, "ABC"},                    // only the bytes received
        {std::string("AB\0CD", 5), 5, "AB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReplyText(reinterpret_cast<const uint8_t*>(c.reply.data()), c.count), c.text) << c.reply;
}

StatusBuffer Status(const std::string& text, size_t at = 0)
{
    StatusBuffer buffer{};
    std::memcpy(buffer.data() + at, text.data(), text.size());
    return buffer;
}

TEST(Commands, StatusRevisionSearch)
{
    struct Case {
        StatusBuffer reply;
        bool found;
        std::string revision;
    };
    const Case cases[] = {
        {Status("ONLINE;REV:MT600-2.18;PAGES:0042"), true, "2.18"},
        {Status("REV:-2.1"), true, "2.1"},               // ends at the zero byte
        {Status("REV:A-1.00;REV:B-2.00"), true, "1.00"}, // the first REV: decides
        {Status("X-9.99;REV:A-1.00"), true, "1.00"},     // a dash before REV: does not count
        {Status("ONLINE;READY"), false, ""},
        {Status("REV:MT600 2.18"), false, ""},                // no dash
        {Status(std::string("REV:A\0-2.18", 11)), false, ""}, // the dash lies behind a zero byte
        {Status("REV:-2.18", 315), true, "2.18"},
        {Status("REV:-1.2", 319), true, "1.2"}, // the marker may start at the last offset read
        {Status("REV:-2.18", 320), false, ""},  // but not beyond it
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string revision = "unset";
        EXPECT_EQ(FindStatusRevision(cases[i].reply, revision), cases[i].found) << i;
        if (cases[i].found) {
            EXPECT_EQ(revision, cases[i].revision) << i;
        }
    }
}

TEST(Commands, RevisionComparesFourCharacters)
{
    struct Case {
        const char* reported;
        const char* expected;
        bool match;
    };
    const Case cases[] = {
        {"2.18", "2.18", true}, {"2.18", "2.185", true}, {"2.18", "2.1", false}, {"2.1", "2.1", true},
        {"2.1", "2.18", false}, {"2.19", "2.18", false}, {"", "", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RevisionMatches(c.reported, c.expected), c.match) << c.reported << " / " << c.expected;
}

} // namespace
} // namespace marlet
