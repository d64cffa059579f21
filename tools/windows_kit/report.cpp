#include "tools/windows_kit/report.h"

#include <windows.h>

#include <cstdio>

#include "base/unique_handle.h"

namespace kestrelume::kit {
namespace {

bool WriteText(const std::wstring& path, const std::string& text) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A scenario's heading: one that passed everything Wine can show says so.
const char* ScenarioVerdictText(Verdict verdict) {
  return verdict == Verdict::NotJudgedUnderWine ? "passed; parts not judged under Wine" : VerdictText(verdict);
}

const char* VerdictClass(Verdict verdict) {
  switch (verdict) {
    case Verdict::Passed: return "passed";
    case Verdict::Failed: return "failed";
    default: return "unjudged";
  }
}

struct Counts {
  int passed = 0, failed = 0, unjudged = 0;
};

Counts CountScenarios(const Report& report) {
  Counts counts;
  for (const ScenarioResult& s : report.scenarios) {
    switch (Overall(s)) {
      case Verdict::Passed: ++counts.passed; break;
      case Verdict::Failed: ++counts.failed; break;
      default: ++counts.unjudged; break;
    }
  }
  return counts;
}

std::string Runtime(const SystemFacts& facts) {
  if (!facts.wine_version.empty()) {
    return "Wine " + facts.wine_version + " (reporting Windows " + facts.windows_version + ")";
  }
  return "Windows " + facts.windows_version;
}

std::string Summary(const Report& report) {
  const Counts c = CountScenarios(report);
  return std::to_string(report.scenarios.size()) + " scenarios: " + std::to_string(c.passed) + " passed, " +
         std::to_string(c.failed) + " failed, " + std::to_string(c.unjudged) + " passed with parts not judged under Wine";
}

std::string TextReport(const Report& report) {
  std::string t = "Kestrelume installer acceptance report\n\n";
  t += "Ran on:        " + Runtime(report.facts) + "\n";
  t += "Started:       " + report.started + "\n";
  t += "High contrast: " + std::string(report.facts.high_contrast ? "on" : "off") + "\n";
  t += "First frame:   " + report.first_frame + "\n";
  for (const std::string& m : report.facts.monitors) t += "Monitor:       " + m + "\n";
  t += "Result:        " + Summary(report) + "\n";
  for (const ScenarioResult& s : report.scenarios) {
    char seconds[32];
    snprintf(seconds, sizeof(seconds), "%.1f", s.seconds);
    t += "\n[" + std::string(ScenarioVerdictText(Overall(s))) + "] " + s.name + " (" + seconds + " s)\n";
    t += "    " + s.purpose + "\n";
    for (const Check& c : s.checks) {
      t += "    - " + std::string(VerdictText(c.verdict)) + ": " + c.what;
      if (!c.detail.empty()) t += " (" + c.detail + ")";
      t += "\n";
    }
    for (const std::string& n : s.notes) t += "    * " + n + "\n";
    for (const Picture& p : s.pictures) t += "    picture: " + p.file + " (" + p.caption + ")\n";
  }
  return t;
}

std::string HtmlReport(const Report& report) {
  std::string h =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<title>Kestrelume installer acceptance report</title><style>"
      "body{font-family:Segoe UI,sans-serif;margin:2em;max-width:72em;color:#222}"
      "h2{margin-top:1.6em;font-size:1.15em}table{border-collapse:collapse}"
      "td,th{padding:.2em .8em .2em 0;text-align:left;vertical-align:top}"
      ".passed{color:#176a2c}.failed{color:#b3121f;font-weight:bold}.unjudged{color:#8a5a00}"
      "figure{display:inline-block;margin:.5em 1em .5em 0}figcaption{font-size:.85em}"
      "img{border:1px solid #999;background:#eee}</style></head><body>\n"
      "<h1>Kestrelume installer acceptance report</h1>\n<table>\n";
  h += "<tr><th>Ran on</th><td>" + Escape(Runtime(report.facts)) + "</td></tr>\n";
  h += "<tr><th>Started</th><td>" + Escape(report.started) + "</td></tr>\n";
  h += "<tr><th>High contrast</th><td>" + std::string(report.facts.high_contrast ? "on" : "off") + "</td></tr>\n";
  h += "<tr><th>First frame</th><td>" + Escape(report.first_frame) + "</td></tr>\n";
  for (const std::string& m : report.facts.monitors) h += "<tr><th>Monitor</th><td>" + Escape(m) + "</td></tr>\n";
  h += "<tr><th>Result</th><td>" + Escape(Summary(report)) + "</td></tr>\n</table>\n";
  if (!report.facts.wine_version.empty()) {
    h += "<p class=\"unjudged\">This run was under Wine. What only Windows can show is marked "
         "&ldquo;not judged under Wine&rdquo; and counts as neither passed nor failed: run the kit on "
         "Windows for those.</p>\n";
  }
  for (const ScenarioResult& s : report.scenarios) {
    const Verdict overall = Overall(s);
    h += "<h2 class=\"" + std::string(VerdictClass(overall)) + "\">" + Escape(ScenarioVerdictText(overall)) + ": " +
         Escape(s.name) + "</h2>\n<p>" + Escape(s.purpose) + "</p>\n<ul>\n";
    for (const Check& c : s.checks) {
      h += "<li class=\"" + std::string(VerdictClass(c.verdict)) + "\">" + Escape(VerdictText(c.verdict)) + ": " +
           Escape(c.what);
      if (!c.detail.empty()) h += " <small>(" + Escape(c.detail) + ")</small>";
      h += "</li>\n";
    }
    for (const std::string& n : s.notes) h += "<li>" + Escape(n) + "</li>\n";
    h += "</ul>\n";
    for (const Picture& p : s.pictures) {
      h += "<figure><img src=\"" + Escape(p.file) + "\" alt=\"" + Escape(p.caption) + "\"><figcaption>" +
           Escape(p.caption) + "</figcaption></figure>\n";
    }
  }
  h += "</body></html>\n";
  return h;
}

}  // namespace

Verdict Overall(const ScenarioResult& scenario) {
  Verdict overall = Verdict::Passed;
  for (const Check& c : scenario.checks) {
    if (c.verdict == Verdict::Failed) return Verdict::Failed;
    if (c.verdict == Verdict::NotJudgedUnderWine) overall = Verdict::NotJudgedUnderWine;
  }
  if (scenario.checks.empty()) return Verdict::Failed;
  return overall;
}

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::Passed: return "passed";
    case Verdict::Failed: return "FAILED";
    default: return "not judged under Wine";
  }
}

bool WriteReports(const Report& report, const std::wstring& folder) {
  const bool text = WriteText(folder + L"\\acceptance-report.txt", TextReport(report));
  const bool html = WriteText(folder + L"\\acceptance-report.html", HtmlReport(report));
  return text && html;
}

}  // namespace kestrelume::kit
