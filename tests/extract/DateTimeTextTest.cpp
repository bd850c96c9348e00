// Date and time text under regional settings: which texts read as dates or
// times (they are never harvested), and the default date-time format.
#include <gtest/gtest.h>

#include "extract/PropertyValues.h"
#include "platform/DateTimeText.h"

namespace trd {
namespace {

bool Reads(std::string_view s, const DateTimeText& st = {}, int year = 2026) {
  return TextToDateTime(s, st, year).has_value();
}

TEST(DateTimeText, AcceptsDatesInShortDateOrder) {
  EXPECT_TRUE(Reads("12/05/2003"));
  EXPECT_TRUE(Reads("12/05/03"));
  EXPECT_TRUE(Reads("12/05"));
  EXPECT_TRUE(Reads("1/2"));
  EXPECT_TRUE(Reads(" 12/05/2003 "));
  EXPECT_TRUE(Reads("12/05/2003 10:30"));
  EXPECT_TRUE(Reads("12/05/2003 10:30:15 PM"));
  EXPECT_FALSE(Reads("05/13/2003"));  // month 13 in day/month/year
  EXPECT_FALSE(Reads("31/04/2003"));
  EXPECT_FALSE(Reads("12/05/2003x"));
  EXPECT_FALSE(Reads("12/05/200310:30"));
  EXPECT_FALSE(Reads("12/05/2003 10:61"));
  EXPECT_FALSE(Reads("12/"));
  EXPECT_FALSE(Reads("12-05-2003"));
  // The current year completes a date without one.
  EXPECT_TRUE(Reads("29/02", {}, 2024));
  EXPECT_FALSE(Reads("29/02", {}, 2023));
}

TEST(DateTimeText, AcceptsTimesAlone) {
  EXPECT_TRUE(Reads("10:30"));
  EXPECT_TRUE(Reads("10:30:15"));
  EXPECT_TRUE(Reads("0"));
  EXPECT_TRUE(Reads("23"));
  EXPECT_TRUE(Reads("10 AM"));
  EXPECT_TRUE(Reads("10pm"));
  EXPECT_TRUE(Reads("pm 3"));
  EXPECT_TRUE(Reads("12:00 am"));
  EXPECT_FALSE(Reads("24"));
  EXPECT_FALSE(Reads("13 PM"));
  EXPECT_FALSE(Reads("0 AM"));
  EXPECT_FALSE(Reads("10:"));
  EXPECT_FALSE(Reads("10:30:"));
  EXPECT_FALSE(Reads("-1"));
  EXPECT_FALSE(Reads("1.5"));
  EXPECT_FALSE(Reads("12345"));
  EXPECT_FALSE(Reads(""));
  EXPECT_FALSE(Reads("   "));
  EXPECT_FALSE(Reads("AM"));
  EXPECT_FALSE(Reads("Salvar"));
}

TEST(DateTimeText, ConvertsToTheRightInstant) {
  DateTimeText st;
  EXPECT_EQ(TextToDateTime("12/05/2003 22:30:15", st, 2026),
            DateTime::FromParts(2003, 5, 12, 22, 30, 15));
  EXPECT_EQ(TextToDateTime("12/05", st, 2026), DateTime::FromParts(2026, 5, 12));
  EXPECT_EQ(TextToDateTime("01/02/30", st, 2026), DateTime::FromParts(2030, 2, 1));
  EXPECT_EQ(TextToDateTime("01/02/99", st, 2026), DateTime::FromParts(1999, 2, 1));
  EXPECT_EQ(TextToDateTime("12:15 AM", st, 2026), DateTime::FromParts(1899, 12, 30, 0, 15));
  EXPECT_EQ(TextToDateTime("7 pm", st, 2026), DateTime::FromParts(1899, 12, 30, 19));
}

TEST(DateTimeText, SettingsChangeOrderAndSeparators) {
  DateTimeText us;
  us.order = DateOrder::MonthDayYear;
  EXPECT_TRUE(Reads("05/13/2003", us));
  EXPECT_FALSE(Reads("13/05/2003", us));

  DateTimeText iso;
  iso.order = DateOrder::YearMonthDay;
  iso.date_separator = '-';
  iso.time_separator = '.';
  EXPECT_EQ(TextToDateTime("2003-05-12 10.30", iso, 2026),
            DateTime::FromParts(2003, 5, 12, 10, 30));
  EXPECT_FALSE(Reads("12/05/2003", iso));
  EXPECT_FALSE(Reads("10:30", iso));

  // The scanner's test follows the same settings.
  EXPECT_TRUE(extract::IsDateTimeText("10.30", iso));
  EXPECT_FALSE(extract::IsDateTimeText("10:30", iso));
}

TEST(DateTimeText, DefaultFormat) {
  DateTime t = DateTime::FromParts(2003, 5, 12, 8, 5, 9);
  EXPECT_EQ(DateTimeToText(t, {}), "12/05/2003 08:05:09");
  EXPECT_EQ(DateTimeToText(DateTime::FromParts(2003, 5, 12), {}), "12/05/2003 00:00:00");
  DateTimeText iso;
  iso.order = DateOrder::YearMonthDay;
  iso.date_separator = '-';
  EXPECT_EQ(DateTimeToText(t, iso), "2003-05-12 08:05:09");
  // What the format writes reads back.
  EXPECT_EQ(TextToDateTime(DateTimeToText(t, {}), {}, 2026), t);
}

}  // namespace
}  // namespace trd
