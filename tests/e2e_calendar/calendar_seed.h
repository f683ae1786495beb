// Local calendars written straight into a throwaway HOME before the private
// Evolution Data Server starts: a .source key file per calendar and its
// calendar.ics, which the local backend reads on first use.
#pragma once

#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace halvic::testing {

// `t` as an iCalendar UTC DATE-TIME.
inline std::string utcStamp(long t) {
  const std::time_t tt = t;
  std::tm fields{};
  gmtime_r(&tt, &fields);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &fields);
  return text;
}

class Calendar {
 public:
  Calendar(std::string uid, std::string name, bool enabled = true)
      : uid_(std::move(uid)), name_(std::move(name)), enabled_(enabled) {}

  // A plain event at UTC instants; `summary` is the raw iCalendar text.
  Calendar& event(long start, long end, std::optional<std::string> summary, std::string extra = {}) {
    std::ostringstream v;
    v << "DTSTART:" << utcStamp(start) << "\r\nDTEND:" << utcStamp(end) << "\r\n";
    if (summary) v << "SUMMARY:" << *summary << "\r\n";
    v << extra;
    components_.push_back(v.str());
    return *this;
  }
  // Any other event, given as its iCalendar lines.
  Calendar& raw(std::string lines) {
    components_.push_back(std::move(lines));
    return *this;
  }

  // Where the local backend keeps this calendar's events under `home`.
  std::filesystem::path icsPath(const std::filesystem::path& home) const {
    return home / ".local/share/evolution/calendar" / uid_ / "calendar.ics";
  }

  void writeInto(const std::filesystem::path& home) const {
    const std::filesystem::path sources = home / ".config/evolution/sources";
    std::filesystem::create_directories(sources);
    std::filesystem::create_directories(icsPath(home).parent_path());
    std::ofstream(sources / (uid_ + ".source"), std::ios::binary)
        << "[Data Source]\nDisplayName=" << name_ << "\nEnabled=" << (enabled_ ? "true" : "false")
        << "\nParent=local-stub\n\n[Calendar]\nBackendName=local\n";
    std::ofstream ics(icsPath(home), std::ios::binary);
    ics << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//halvic//e2e//EN\r\n";
    int n = 0;
    for (const std::string& component : components_) {
      ics << "BEGIN:VEVENT\r\nUID:" << uid_ << "-" << n++ << "\r\nDTSTAMP:20260101T000000Z\r\n"
          << component << "END:VEVENT\r\n";
    }
    ics << "END:VCALENDAR\r\n";
  }

 private:
  std::string uid_;
  std::string name_;
  bool enabled_;
  std::vector<std::string> components_;
};

}  // namespace halvic::testing
