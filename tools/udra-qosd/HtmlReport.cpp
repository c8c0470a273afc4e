#include "HtmlReport.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

namespace qosd {
namespace {

// The rankings' tables hold their first 50 paths, the charts the first 15.
constexpr int kChartRows = 15;

struct Ranked {
  std::string path;
  long long clients = 0, reports = 0, first = 0, last = 0;
};

struct Bar {
  std::string label;
  long long value = 0;
};

class Reader {
 public:
  explicit Reader(sqlite3* db) : db_(db) {}
  // Runs `sql`, calling `row` for each result row; false on an error.
  bool Query(const char* sql, const std::function<void(sqlite3_stmt*)>& row, int bind = -1) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) return false;
    if (bind >= 0) sqlite3_bind_int(s, 1, bind);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) row(s);
    sqlite3_finalize(s);
    return rc == SQLITE_DONE;
  }

 private:
  sqlite3* db_;
};

std::string Text(sqlite3_stmt* s, int column) {
  const unsigned char* text = sqlite3_column_text(s, column);
  return text ? reinterpret_cast<const char*>(text) : "";
}

std::string Day(long long unixTime) {
  const time_t t = static_cast<time_t>(unixTime);
  const std::tm* tm = std::gmtime(&t);
  char text[32] = "?";
  if (tm) std::strftime(text, sizeof text, "%Y-%m-%d", tm);
  return text;
}

std::string When(long long unixTime) {
  const time_t t = static_cast<time_t>(unixTime);
  const std::tm* tm = std::gmtime(&t);
  char text[32] = "?";
  if (tm) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", tm);
  return text;
}

// A horizontal bar chart: one labelled bar per item.
std::string HorizontalBars(const std::string& id, const std::vector<Bar>& bars, const std::string& unit) {
  const int rowHeight = 22, labelWidth = 320, barWidth = 360;
  const int height = std::max<int>(1, int(bars.size())) * rowHeight + 10;
  long long top = 1;
  for (const Bar& b : bars) top = std::max(top, b.value);
  std::string svg = "<svg id=\"" + id + "\" class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(labelWidth + barWidth + 80) + "\" height=\"" + std::to_string(height) +
                    "\" role=\"img\">";
  for (size_t i = 0; i < bars.size(); ++i) {
    const int y = int(i) * rowHeight + 5;
    const int w = std::max(1, int(bars[i].value * barWidth / top));
    svg += "<text x=\"" + std::to_string(labelWidth - 6) + "\" y=\"" + std::to_string(y + 15) +
           "\" text-anchor=\"end\">" + HtmlEscape(bars[i].label) + "</text>";
    svg += "<rect class=\"bar\" data-value=\"" + std::to_string(bars[i].value) + "\" x=\"" +
           std::to_string(labelWidth) + "\" y=\"" + std::to_string(y) + "\" width=\"" + std::to_string(w) +
           "\" height=\"" + std::to_string(rowHeight - 6) + "\"><title>" + HtmlEscape(bars[i].label) + ": " +
           std::to_string(bars[i].value) + " " + unit + "</title></rect>";
    svg += "<text x=\"" + std::to_string(labelWidth + w + 6) + "\" y=\"" + std::to_string(y + 15) + "\">" +
           std::to_string(bars[i].value) + "</text>";
  }
  if (bars.empty()) svg += "<text x=\"10\" y=\"20\">none</text>";
  return svg + "</svg>";
}

// A vertical bar chart (columns) with labels below.
std::string Columns(const std::string& id, const std::vector<Bar>& bars) {
  const int columnWidth = std::max(12, std::min(48, 720 / std::max<int>(1, int(bars.size())))), chartHeight = 160;
  const int width = std::max<int>(1, int(bars.size())) * columnWidth + 20;
  long long top = 1;
  for (const Bar& b : bars) top = std::max(top, b.value);
  std::string svg = "<svg id=\"" + id + "\" class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(width) + "\" height=\"" + std::to_string(chartHeight + 60) + "\" role=\"img\">";
  for (size_t i = 0; i < bars.size(); ++i) {
    const int h = int(bars[i].value * chartHeight / top);
    const int x = 10 + int(i) * columnWidth;
    svg += "<rect class=\"bar\" data-value=\"" + std::to_string(bars[i].value) + "\" x=\"" + std::to_string(x) +
           "\" y=\"" + std::to_string(chartHeight - h + 15) + "\" width=\"" + std::to_string(columnWidth - 4) +
           "\" height=\"" + std::to_string(h) + "\"><title>" + HtmlEscape(bars[i].label) + ": " +
           std::to_string(bars[i].value) + "</title></rect>";
    svg += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(chartHeight - h + 11) + "\">" +
           std::to_string(bars[i].value) + "</text>";
    svg += "<text class=\"axis\" transform=\"translate(" + std::to_string(x + 8) + "," +
           std::to_string(chartHeight + 22) + ") rotate(40)\">" + HtmlEscape(bars[i].label) + "</text>";
  }
  if (bars.empty()) svg += "<text x=\"10\" y=\"20\">none</text>";
  return svg + "</svg>";
}

std::string RankingSection(const std::string& id, const std::string& title, const std::vector<Ranked>& rows) {
  std::vector<Bar> bars;
  for (size_t i = 0; i < rows.size() && i < size_t(kChartRows); ++i) bars.push_back({rows[i].path, rows[i].clients});
  std::string html = "<section id=\"" + id + "\"><h2>" + title + "</h2>" + HorizontalBars(id + "-chart", bars, "clients");
  html += "<table id=\"" + id + "-table\"><thead><tr><th>path</th><th>clients</th><th>reports</th>"
          "<th>first seen (UTC)</th><th>last seen (UTC)</th></tr></thead><tbody>";
  for (const Ranked& r : rows)
    html += "<tr><td>" + HtmlEscape(r.path) + "</td><td class=\"num\">" + std::to_string(r.clients) +
            "</td><td class=\"num\">" + std::to_string(r.reports) + "</td><td>" + When(r.first) + "</td><td>" +
            When(r.last) + "</td></tr>";
  if (rows.empty()) html += "<tr><td colspan=\"5\">none reported</td></tr>";
  return html + "</tbody></table></section>";
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

bool WriteHtmlReport(const std::string& dbPath, const std::string& htmlPath, std::string& error) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    error = dbPath + ": " + (db ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, 10000);
  Reader reader(db);
  long long records = 0, summaries = 0, clients = 0, first = 0, last = 0;
  std::vector<Ranked> missing, failed;
  std::vector<Bar> usage(10), perDay;
  for (int i = 0; i < 10; ++i) usage[i].label = std::to_string(i * 10) + (i == 9 ? "-100%" : "-" + std::to_string(i * 10 + 9) + "%");
  auto ranking = [&](int kind, std::vector<Ranked>& out) {
    return reader.Query(
        "SELECT p.path, COUNT(DISTINCT p.client), COUNT(*), MIN(r.received), MAX(r.received) FROM paths p"
        " JOIN records r ON r.id = p.record WHERE p.kind = ?1 GROUP BY p.path"
        " ORDER BY 2 DESC, 3 DESC, p.path LIMIT 50",
        [&](sqlite3_stmt* s) {
          out.push_back({Text(s, 0), sqlite3_column_int64(s, 1), sqlite3_column_int64(s, 2), sqlite3_column_int64(s, 3),
                         sqlite3_column_int64(s, 4)});
        },
        kind);
  };
  const bool ok =
      reader.Query("SELECT COUNT(*), COALESCE(SUM(kind = 0), 0), COUNT(DISTINCT client), COALESCE(MIN(received), 0),"
                   " COALESCE(MAX(received), 0) FROM records",
                   [&](sqlite3_stmt* s) {
                     records = sqlite3_column_int64(s, 0);
                     summaries = sqlite3_column_int64(s, 1);
                     clients = sqlite3_column_int64(s, 2);
                     first = sqlite3_column_int64(s, 3);
                     last = sqlite3_column_int64(s, 4);
                   }) &&
      ranking(2, missing) && ranking(3, failed) &&
      // Each summary counts once in its tenth; 100 joins the last.
      reader.Query("SELECT MIN(MAX(use_percent, 0), 100) / 10, COUNT(*) FROM records WHERE kind = 0 AND use_percent"
                   " IS NOT NULL GROUP BY 1",
                   [&](sqlite3_stmt* s) { usage[std::min(9, sqlite3_column_int(s, 0))].value += sqlite3_column_int64(s, 1); }) &&
      reader.Query("SELECT received / 86400, COUNT(*) FROM records WHERE kind = 0 GROUP BY 1 ORDER BY 1",
                   [&](sqlite3_stmt* s) { perDay.push_back({Day(sqlite3_column_int64(s, 0) * 86400), sqlite3_column_int64(s, 1)}); });
  if (!ok) {
    error = dbPath + ": " + sqlite3_errmsg(db) + " (is it a store udra-qosd --db wrote?)";
    sqlite3_close(db);
    return false;
  }
  sqlite3_close(db);

  std::string html =
      "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>UDRA QoS report</title><style>"
      "body{font-family:sans-serif;margin:2em;color:#222}table{border-collapse:collapse;margin:1em 0}"
      "td,th{border:1px solid #ccc;padding:3px 8px;text-align:left}td.num{text-align:right}"
      "svg.chart{display:block;margin:1em 0;font-size:12px}rect.bar{fill:#3b78c2}"
      "#failed rect.bar{fill:#c2473b}#missing rect.bar{fill:#c28a3b}</style></head><body>"
      "<h1>UDRA QoS report</h1>";
  html += "<table id=\"totals\"><tbody><tr><th>report records</th><td class=\"num\">" + std::to_string(records) +
          "</td></tr><tr><th>reports (summaries)</th><td class=\"num\">" + std::to_string(summaries) +
          "</td></tr><tr><th>clients</th><td class=\"num\">" + std::to_string(clients) +
          "</td></tr><tr><th>period (UTC)</th><td>" + (records ? When(first) + " to " + When(last) : "no data") +
          "</td></tr></tbody></table>";
  html += RankingSection("missing", "Missing files, by clients that reported them", missing);
  html += RankingSection("failed", "Failed downloads, by clients that reported them", failed);
  html += "<section id=\"usage\"><h2>Share of the catalogue used per run</h2>" + Columns("usage-chart", usage) +
          "<table id=\"usage-table\"><thead><tr><th>used</th><th>reports</th></tr></thead><tbody>";
  for (const Bar& b : usage)
    html += "<tr><td>" + b.label + "</td><td class=\"num\">" + std::to_string(b.value) + "</td></tr>";
  html += "</tbody></table></section>";
  html += "<section id=\"over-time\"><h2>Reports per day (UTC)</h2>" + Columns("over-time-chart", perDay) +
          "<table id=\"over-time-table\"><thead><tr><th>day</th><th>reports</th></tr></thead><tbody>";
  for (const Bar& b : perDay)
    html += "<tr><td>" + b.label + "</td><td class=\"num\">" + std::to_string(b.value) + "</td></tr>";
  html += "</tbody></table></section></body></html>\n";

  // The name is UTF-8, as SQLite's is.
  std::ofstream out(std::filesystem::u8path(htmlPath), std::ios::binary | std::ios::trunc);
  out.write(html.data(), std::streamsize(html.size()));
  out.close();
  if (!out) {
    error = htmlPath + ": cannot write";
    return false;
  }
  return true;
}

}  // namespace qosd
