#pragma once
// The kit's findings and the two reports made of them: acceptance-report.txt
// for reading anywhere and acceptance-report.html with the pictures of the
// window beside it. A check that Wine cannot show is "not judged under
// Wine", never passed. Runner main thread.

#include <string>
#include <vector>

#include "tools/windows_kit/system_facts.h"

namespace kestrelume::kit {

enum class Verdict { Passed, Failed, NotJudgedUnderWine };

struct Check {
  std::string what;    // the claim, e.g. "outcome is launched"
  Verdict verdict = Verdict::Failed;
  std::string detail;  // what was seen
};

struct Picture {
  std::string file;     // beside the report
  std::string caption;
};

struct ScenarioResult {
  std::string name;
  std::string purpose;
  std::vector<Check> checks;
  std::vector<Picture> pictures;
  std::vector<std::string> notes;  // measurements and other facts, not judged
  double seconds = 0;
};

// Failed when any check failed; not judged when none failed and one was not
// judged; passed otherwise.
Verdict Overall(const ScenarioResult& scenario);
const char* VerdictText(Verdict verdict);

struct Report {
  SystemFacts facts;
  std::string started;  // local time, "2026-12-09 19:58"
  std::string first_frame;  // "412 ms after the process started"
  std::vector<ScenarioResult> scenarios;
};

// Writes both files into `folder`; false when either could not be written.
bool WriteReports(const Report& report, const std::wstring& folder);

}  // namespace kestrelume::kit
