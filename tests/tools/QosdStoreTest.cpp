// udra-qosd --db and its HTML report: reports from two clients go into the
// store, the page ranks what they reported, and a real headless browser
// shows its tables and charts.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "HtmlReport.h"
#include "log/Logger.h"
#include "platform/FileSystem.h"
#include "platform/Socket.h"
#include "qos/QosReport.h"
#include "support/Collector.h"
#include "support/TempDir.h"

namespace udra::qos {
namespace {

long long Scalar(sqlite3* db, const char* sql) {
  sqlite3_stmt* s = nullptr;
  long long value = -1;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
    value = sqlite3_column_int64(s, 0);
  sqlite3_finalize(s);
  return value;
}

int Shell(const std::string& command, std::string* out = nullptr) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    if (out) out->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Qosd() { return std::string(UDRA_STAGE_DIR) + "/udra-qosd"; }

// The text of the first table row of `table` that holds `cell`.
std::string RowWith(const std::string& page, const std::string& table, const std::string& cell) {
  const size_t start = page.find("id=\"" + table + "\"");
  if (start == std::string::npos) return "";
  const size_t end = page.find("</table>", start);
  const size_t at = page.find("<td>" + cell + "</td>", start);
  if (at == std::string::npos || at > end) return "";
  return page.substr(at, page.find("</tr>", at) - at);
}

TEST(QosdStore, HtmlEscapesWhatPlayersSent) {
  EXPECT_EQ(qosd::HtmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
}

TEST(QosdStore, StoresEveryRecordAndPathAndReportsThemAsAPage) {
  test::TempDir dir;
  const std::string db = dir.path() + "/qos.db";
  const std::string errFile = dir.path() + "/qosd.err";
  const uint16_t port = test::FreeUdpPort();
  ASSERT_NE(port, 0);
  // Client A: summary, two missing paths, one failed; client B: summary and
  // one missing path: five records.
  FILE* collector = popen((Qosd() + " --port " + std::to_string(port) + " --db " + db +
                           " --max-records 5 --idle-exit 30 >/dev/null 2>" + errFile).c_str(),
                          "r");
  ASSERT_NE(collector, nullptr);
  std::string err;
  ASSERT_TRUE(test::WaitUntilListening(errFile, 10000, err)) << err;

  Logger log("QosdStoreTest", "");
  QosReportInput a(log);
  a.version = "UDRA v1.0.0.7";
  a.uin = "1";
  a.clientGuid = "{CLIENT-A}";
  a.fileListDigest = "0123456789ABCDEF0123456789ABCDEF";
  a.usePercentage = 57;
  a.missingPaths = {"Data\\<x>.pak", "Data\\\xD6\xD0.pak"};  // HTML-special and GBK
  a.failedPaths = {"Data\\z.pak"};
  a.host = "127.0.0.1";
  a.port = port;
  ASSERT_TRUE(QosReport(a));
  QosReportInput b(log);
  b.version = a.version;
  b.uin = "2";
  b.clientGuid = "{CLIENT-B}";
  b.usePercentage = 100;
  b.missingPaths = {"Data\\<x>.pak"};
  b.host = "127.0.0.1";
  b.port = port;
  ASSERT_TRUE(QosReport(b));
  EXPECT_EQ(pclose(collector), 0);

  sqlite3* store = nullptr;
  ASSERT_EQ(sqlite3_open_v2(db.c_str(), &store, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  EXPECT_EQ(Scalar(store, "SELECT COUNT(*) FROM records"), 5);
  EXPECT_EQ(Scalar(store, "SELECT COUNT(*) FROM paths"), 4);
  EXPECT_EQ(Scalar(store, "SELECT COUNT(*) FROM paths WHERE kind = 2 AND path = 'Data\\<x>.pak'"), 2);
  EXPECT_EQ(Scalar(store, "SELECT COUNT(*) FROM paths WHERE path = 'Data\\\xE4\xB8\xAD.pak'"), 1) << "stored as UTF-8";
  EXPECT_EQ(Scalar(store, "SELECT use_percent FROM records WHERE kind = 0 AND client = '{CLIENT-A}'"), 57);
  EXPECT_EQ(Scalar(store, "SELECT COUNT(*) FROM records WHERE digest = '0123456789ABCDEF0123456789ABCDEF'"), 1);
  sqlite3_close(store);

  // The report: usage errors first, then the page.
  EXPECT_EQ(Shell(Qosd() + " report --db " + db + " 2>/dev/null"), 2);
  EXPECT_EQ(Shell(Qosd() + " report --db " + dir.path() + "/none.db --html " + dir.path() + "/x.html 2>/dev/null"), 1);
  const std::string html = dir.path() + "/report.html";
  ASSERT_EQ(Shell(Qosd() + " report --db " + db + " --html " + html), 0);
  std::string page;
  ASSERT_TRUE(platform::ReadWholeFile(html, page));
  EXPECT_NE(RowWith(page, "missing-table", "Data\\&lt;x&gt;.pak").find("<td class=\"num\">2</td>"), std::string::npos)
      << "ranked first with two clients";
  EXPECT_LT(page.find("Data\\&lt;x&gt;.pak"), page.find("Data\\\xE4\xB8\xAD.pak"));
  EXPECT_NE(RowWith(page, "failed-table", "Data\\z.pak"), "");
  EXPECT_NE(RowWith(page, "usage-table", "50-59%").find(">1<"), std::string::npos);
  EXPECT_NE(RowWith(page, "usage-table", "90-100%").find(">1<"), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find(" src="), std::string::npos) << "nothing is fetched";
  EXPECT_EQ(page.find("<link"), std::string::npos) << "nothing is fetched";

  // What a browser makes of it.
  if (Shell("command -v chromium >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "chromium is not installed: the page was not rendered in a browser";
  }
  std::string dom;
  ASSERT_EQ(Shell("chromium --headless --no-sandbox --disable-gpu --dump-dom file://" + html + " 2>/dev/null", &dom),
            0);
  for (const char* id : {"missing-chart", "failed-chart", "usage-chart", "over-time-chart"})
    EXPECT_NE(dom.find(std::string("<svg id=\"") + id + "\""), std::string::npos) << id;
  EXPECT_NE(dom.find("<rect class=\"bar\" data-value=\"2\""), std::string::npos) << "the two clients' bar";
  EXPECT_NE(RowWith(dom, "missing-table", "Data\\&lt;x&gt;.pak").find("<td class=\"num\">2</td>"), std::string::npos);
  EXPECT_NE(dom.find("<th>clients</th><td class=\"num\">2</td>"), std::string::npos) << "two clients";
  EXPECT_NE(dom.find("\xE4\xB8\xAD"), std::string::npos) << "the GBK path shows as text";
}

}  // namespace
}  // namespace udra::qos
