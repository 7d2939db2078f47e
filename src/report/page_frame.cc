#include "report/page_frame.h"

#include "base/message_table.h"
#include "base/settings.h"
#include "base/text.h"
#include "report/formats.h"

namespace sorvik {

ReportState report;

void reset_report() {
  // Assigning a fresh record closes the files quietly; a stopped run keeps
  // what its files already hold.
  report = ReportState{};
}

std::string report_path(std::string_view dir, std::string_view name) {
  std::string path(dir);
  path += '/';
  path.append(name);
  return path;
}

std::string page_header_line(int k, std::string_view title) {
  switch (k) {
    case 1:
      return "<HTML>";
    case 2:
      return "<HEAD>";
    case 3: {
      std::string line = "<TITLE>";
      line.append(title);
      line += "</TITLE>";
      return cut_text(line);
    }
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

void write_page_header(PageWriter& page, std::string_view title) {
  for (int k = 1; k <= 9; ++k) page.markup_line(page_header_line(k, title));
}

void write_page_footer(PageWriter& page) {
  for (int k = 1; k <= 4; ++k) page.markup_line(page_footer_line(k));
}

void write_back_to_top(PageWriter& page) {
  page.markup("<A HREF=\"#ptop\">")
      .markup(html_line(HtmlId::kBackToTop))
      .markup_line("</A><BR><BR>");
}

void write_period_path(PageWriter& page, std::string_view period) {
  page.markup("<A NAME=\"ptop\"></A>Path: ");
  page.markup_line("<A HREF=\"../index.html\" TARGET=\"_top\">Home</A> ==>");
  page.markup("<A HREF=\"index.html\">Log-Index</A> ==> <A HREF=\"");
  const std::string_view mode = chars_at(period, 5, 5);
  if (mode == "m") {
    page.markup("monthes.html\">").markup(html_line(HtmlId::kPathMonths));
  } else if (mode == "w") {
    page.markup("weeks.html\">").markup(html_line(HtmlId::kPathWeeks));
  } else if (mode == "y") {
    page.markup("years.html\">").markup(html_line(HtmlId::kPathYears));
  }
  page.markup(html_line(HtmlId::kPathOverview)).markup("</A> ==> Log ");
  page.text(period).markup_line();
}

}  // namespace sorvik
