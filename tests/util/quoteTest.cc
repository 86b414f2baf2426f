// quote: every style gives what its documentation's examples say.
#include "quote.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

TEST(Quote, EachStyleAsDocumented) {
  std::string out;
  quote(quoteStyle::terminal, "", 0, out);  // the engine reads the locale once, first
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  EXPECT_EQ(quote(quoteStyle::terminal, "caf\xc3\xa9\x1b[2J.jpg"), "caf\xc3\xa9\\033[2J.jpg");
  EXPECT_EQ(quote(quoteStyle::terminalText, "one\ntwo\t\x9b"), "one\ntwo\t\\233");
  EXPECT_EQ(quote(quoteStyle::terminal, "one\ntwo\t\\"), "one\\012two\\011\\");
  std::setlocale(LC_CTYPE, "C");
  EXPECT_EQ(quote(quoteStyle::terminal, "caf\xc3\xa9.jpg"), "caf\\303\\251.jpg");

  EXPECT_EQ(quote(quoteStyle::json, "say \"hi\"\n\xc3\xa9\xff"), "\"say \\\"hi\\\"\\n\xc3\xa9\\udcff\"");
  EXPECT_EQ(quote(quoteStyle::json, "\r\x7f\xc2\x9b\xed\xa0\x80"), "\"\\u000d\\u007f\\u009b\\udced\\udca0\\udc80\"");
  EXPECT_EQ(quote(quoteStyle::jsonAscii, "\xc3\xa9 \xf0\x9f\x93\xb7\xff"), "\"\\u00e9 \\ud83d\\udcf7\\udcff\"");
  EXPECT_EQ(quote(quoteStyle::php, "a$b\"c\\d\xff"), "\"a\\$b\\\"c\\\\d\xff\"");
}

}  // namespace
