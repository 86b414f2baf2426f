// parseJournalLine: every escape that a JSON writer may use for a name
// gives its bytes back, members it does not know are passed over, and
// anything else is no journal line.
#include <gtest/gtest.h>

#include <string>

#include "journalReader.h"

namespace {

bool parse(const std::string& line, journalLine& out) { return parseJournalLine(line.data(), line.size(), out); }

TEST(JournalReader, EscapesGiveTheBytesBackAndOtherMembersArePassedOver) {
  journalLine l;
  ASSERT_TRUE(parse("{\"file\": \"a\\u00e9\\ud83d\\udcf7\\udcff\\n\\t\\\"\\\\\\/\", \"time\": -1.5e3, "
                    "\"taken\": \"x\", \"zone\": \"TZ\", \"error\": {\"file\": \"n\", \"at\": [1, true, null]}, "
                    "\"renamed\": \"b\"}",
                    l));
  EXPECT_EQ(l.file, "a\xc3\xa9\xf0\x9f\x93\xb7\xff\n\t\"\\/");
  EXPECT_EQ(l.renamed, "b");
  ASSERT_TRUE(parse("{\"file\": \"c.jpg\", \"time\": 1, \"taken\": \"t\"}", l));
  EXPECT_EQ(l.renamed, "");
  for (const char* bad : {"", "{", "{\"file\": \"a\"} x", "{\"file\": \"a\", \"renamed\": 1}",
                          "{\"file\": \"\\ud83d\"}", "{\"file\": \"\\udc41\"}", "{\"file\": \"\\u0000\"}",
                          "{\"file\": \"a\nb\"}", "{\"renamed\": \"b\"}", "{\"file\": \"a\", \"file\": \"b\"}",
                          "{\"file\": \"a\", \"time\": 01x}", "[\"file\"]"})
    EXPECT_FALSE(parse(bad, l)) << bad;
}

}  // namespace
