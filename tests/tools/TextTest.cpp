// What the tools print: JSON strings, progress lines, sync outcomes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "JsonText.h"
#include "ProgressLine.h"
#include "SyncOutcome.h"

namespace udra::tool {
namespace {

TEST(ToolText, JsonStringsAreAlwaysValidUtf8) {
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
  EXPECT_EQ(JsonString("\xE4\xB8\xAD"), "\"\xE4\xB8\xAD\"");           // UTF-8 stays
  EXPECT_EQ(JsonString("x\xFFy"), "\"x\\ufffdy\"");                    // not UTF-8
  EXPECT_EQ(JsonString("\xE4\xB8"), "\"\\ufffd\\ufffd\"");               // cut sequence
  EXPECT_EQ(JsonString("\xC0\xAF"), "\"\\ufffd\\ufffd\"");               // overlong
  EXPECT_EQ(JsonStringFromAnsi("\xD6\xD0\xCE\xC4"), "\"\xE4\xB8\xAD\xE6\x96\x87\"");  // GBK "中文"
  EXPECT_EQ(JsonStringFromAnsi("ok\xFF"), "\"ok\xEF\xBF\xBD\"");  // does not convert: U+FFFD
}

TEST(ToolText, ProgressLinesFitTheTerminalAndShowRateAndTimeLeft) {
  const std::string label = "Data\\Maps\\a-rather-long-folder-name\\with-more-levels\\and-a-file.bin";
  for (int columns : {20, 40, 70, 80, 200}) {
    const std::string line = ProgressText(label, 512 << 10, 2 << 20, 256 << 10, columns);
    EXPECT_LT(line.size(), size_t(columns)) << columns << ": " << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.find('\r'), std::string::npos);
  }
  const std::string wide = ProgressText(label, 512 << 10, 2 << 20, 256 << 10, 120);
  EXPECT_NE(wide.find("25%"), std::string::npos) << wide;
  EXPECT_NE(wide.find("256.0 KiB/s"), std::string::npos) << wide;
  EXPECT_NE(wide.find("ETA 6s"), std::string::npos) << wide;
  EXPECT_NE(wide.find("and-a-file.bin"), std::string::npos) << "the end of a long label stays: " << wide;
  const std::string narrow = ProgressText(label, 512 << 10, 2 << 20, 256 << 10, 70);
  EXPECT_NE(narrow.find("ETA"), std::string::npos) << narrow;
  // Nothing known yet: no rate, no time left, and no division by zero.
  const std::string start = ProgressText("Data", 0, 0, 0, 70);
  EXPECT_EQ(start.find("ETA"), std::string::npos) << start;
  // Cutting a UTF-8 label never leaves half a character.
  const std::string cut = ProgressText(std::string(40, 'x') + "\xE4\xB8\xAD\xE6\x96\x87", 1, 2, 0, 40);
  EXPECT_EQ(JsonString(cut).find("ufffd"), std::string::npos) << cut;
}

TEST(ToolText, RatesAndDurations) {
  RateMeter meter;
  EXPECT_EQ(meter.BytesPerSecond(), 0);
  meter.Add(1000, 0);
  meter.Add(3000, 4000);
  EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), 2000);
  meter.Add(20000, 4000);  // old samples leave the window: nothing moved lately
  EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), 0);
  EXPECT_EQ(HumanDuration(59.2), "1m00s");
  EXPECT_EQ(HumanDuration(3725), "1h02m");
  EXPECT_EQ(HumanDuration(-1), "--");
  EXPECT_EQ(HumanBytes(1536), "1.5 KiB");
}

TEST(ToolText, AFailedSyncNamesItsReasonAndHttpStatus) {
  EXPECT_EQ(HttpStatusOf("HTTP response code said error (HTTP 404); URL http://x"), 404);
  EXPECT_EQ(HttpStatusOf("Couldn't connect to server; URL http://127.0.0.1:1/"), 0);
  EXPECT_EQ(HttpStatusOf("(HTTP 4x)"), 0);
  SyncOutcome o;
  o.path = "Data";
  o.info.state = UDRA_SYNC_ERROR_CODE22;
  o.haveFailure = true;
  o.failure.code = 22;
  std::strcpy(o.failure.name, "Data\\a.txt");
  std::strcpy(o.failure.text, "HTTP response code said error (HTTP 404); URL http://127.0.0.1/v1/Data/a.txt");
  const std::string json = OutcomeJson(o);
  EXPECT_NE(json.find("\"httpStatus\":404"), std::string::npos) << json;
  EXPECT_NE(json.find("\"reason\":\"HTTP response code said error (HTTP 404); URL http://127.0.0.1/v1/Data/a.txt\""),
            std::string::npos) << json;
  EXPECT_NE(json.find("\"code\":22"), std::string::npos) << json;
  const std::string text = OutcomeText(o);
  EXPECT_NE(text.find("Data\\a.txt"), std::string::npos) << text;
  EXPECT_NE(text.find("(HTTP 404)"), std::string::npos) << text;
  // A sync that did not fail carries no reason.
  o.info.state = UDRA_SYNC_DONE;
  o.failure.text[0] = '\0';
  EXPECT_EQ(OutcomeJson(o).find("reason"), std::string::npos);
}

}  // namespace
}  // namespace udra::tool
