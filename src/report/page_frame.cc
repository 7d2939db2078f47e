#include "report/page_frame.h"

#include <charconv>
#include <cstdio>

#include "base/clock.h"
#include "base/message_table.h"
#include "base/settings.h"
#include "base/text.h"

namespace sorvik {

ReportState report;

void reset_report() {
  // Assigning a fresh record runs the OutputFile destructors, which close the
  // handles quietly; a stopped run keeps what its files already hold.
  report = ReportState{};
}

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void write_html_escaped(OutputFile& file, std::string_view text) {
  write_text(file, html_escape(text));
}

void write_html_raw(OutputFile& file, std::string_view text) { write_text(file, text); }

std::string report_path(std::string_view dir, std::string_view name) {
  std::string path(dir);
  path += '/';
  path.append(name);
  return path;
}

std::size_t format_thousands_into(char* out, int64_t n) {
  // The magnitude is taken unsigned so that the most negative value has one.
  const uint64_t magnitude =
      n < 0 ? uint64_t{0} - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  char digits[20];
  const char* const end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  const auto count = static_cast<std::size_t>(end - digits);
  char* at = out;
  if (n < 0) *at++ = '-';
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0 && (count - i) % 3 == 0) *at++ = settings.ksep;
    *at++ = digits[i];
  }
  return static_cast<std::size_t>(at - out);
}

std::string format_thousands(int64_t n) {
  char text[kThousandsSize];
  return std::string(text, format_thousands_into(text, n));
}

std::string format_two_digits(int n) {
  const std::string digits = std::to_string(static_cast<uint16_t>(n));
  return digits.size() == 1 ? "0" + digits : digits;
}

std::string created_stamp() {
  const LocalTime date = clock_now();
  const LocalTime time = clock_now();
  std::string stamp = std::to_string(date.year);
  stamp += format_two_digits(date.month);
  stamp += format_two_digits(date.day);
  stamp += ';';
  stamp += format_two_digits(time.hour);
  stamp += format_two_digits(time.minute);
  stamp += format_two_digits(time.second);
  stamp += format_two_digits(time.hundredths);
  return stamp;
}

std::string format_percent(int64_t value, int64_t total) {
  if (total <= 0) return "-";
  // Extended precision decides the rounding of x.xx5 cases; snprintf is
  // byte-exact here because the program never changes the C locale.
  const long double percent =
      static_cast<long double>(value) * 100.0L / static_cast<long double>(total);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%6.2Lf", percent);
  std::string out = buffer;
  for (char& c : out) {
    if (c == '.') c = settings.decsep;
  }
  return out;
}

std::string page_header_line(int k) {
  switch (k) {
    case 1:
      return "<HTML>";
    case 2:
      return "<HEAD>";
    case 3:
      return cut_text("<TITLE>" + report.page_title + "</TITLE>");
    case 4:
      return std::string("<META NAME=\"GENERATOR\" CONTENT=\"Sorvik version ") + kReportVersion +
             "\">";
    case 5:
      return std::string("<META NAME=\"AUTHOR\" CONTENT=\"Sorvik version ") + kReportVersion +
             "\">";
    case 6:
      return "<META NAME=\"CREATED\" CONTENT=\"" + created_stamp() + "\">";
    case 7:
      return cut_text("<META NAME=\"ROBOTS\" CONTENT=\"" + settings.html_robots + "\">");
    case 8:
      return "</HEAD>";
    case 9:
      return cut_text("<BODY BGCOLOR=" + settings.html_bgcolor + ">");
    default:
      return {};
  }
}

std::string page_footer_line(int k) {
  switch (k) {
    case 1:
      return settings.html_copyright;
    case 2:
      return settings.generator_footer;
    case 3:
      return "</BODY>";
    case 4:
      return "</HTML>";
    default:
      return {};
  }
}

void write_page_header(OutputFile& file) {
  for (int k = 1; k <= 9; ++k) write_line(file, page_header_line(k));
}

void write_page_footer(OutputFile& file) {
  for (int k = 1; k <= 4; ++k) write_line(file, page_footer_line(k));
}

void write_back_to_top(OutputFile& file) {
  write_line(file, "<A HREF=\"#ptop\">" + html_line(HtmlId::kBackToTop) + "</A><BR><BR>");
}

}  // namespace sorvik
