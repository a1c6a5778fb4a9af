#include "appliance/host/calendar/ics_items.h"

#include <algorithm>

namespace orva_calendar {

std::string upperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

namespace {

// One content line: as the file folds it (CR LF between the pieces) and
// unfolded.
struct ContentLine {
  std::string raw;
  std::string text;
  std::uint64_t line = 0;
};

class LineSource {
 public:
  explicit LineSource(std::istream& in) : in_(in) {}

  bool next(ContentLine& out) {
    if (!havePending_ && !readPhysical()) return false;
    out.raw = pending_;
    out.text = pending_;
    out.line = pendingLine_;
    havePending_ = false;
    while (readPhysical()) {
      if (pending_.empty() || (pending_[0] != ' ' && pending_[0] != '\t')) break;
      out.raw += "\r\n" + pending_;
      out.text.append(pending_, 1, std::string::npos);
      havePending_ = false;
    }
    return true;
  }

 private:
  bool readPhysical() {
    if (havePending_) return true;
    if (!std::getline(in_, pending_)) return false;
    ++lineNumber_;
    if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
    if (lineNumber_ == 1 && pending_.rfind("\xEF\xBB\xBF", 0) == 0) pending_.erase(0, 3);
    pendingLine_ = lineNumber_;
    havePending_ = true;
    return true;
  }

  std::istream& in_;
  std::string pending_;
  bool havePending_ = false;
  std::uint64_t lineNumber_ = 0;
  std::uint64_t pendingLine_ = 0;
};

std::string nameOf(const std::string& text) {
  return upperAscii(text.substr(0, text.find_first_of(";:")));
}

std::string valueOf(const std::string& text) {
  const std::size_t colon = text.find(':');
  return colon == std::string::npos ? "" : text.substr(colon + 1);
}

// The TZID parameter's value of a property line, "" when it has none.
std::string tzidOf(const std::string& text) {
  const std::size_t end = text.find(':');
  const std::string head = upperAscii(text.substr(0, end));
  const std::size_t at = head.find(";TZID=");
  if (at == std::string::npos) return "";
  std::size_t start = at + 6;
  if (start < text.size() && text[start] == '"') {
    const std::size_t close = text.find('"', start + 1);
    return close == std::string::npos ? "" : text.substr(start + 1, close - start - 1);
  }
  const std::size_t stop = text.find_first_of(";:", start);
  return text.substr(start, stop - start);
}

bool isItemKind(const std::string& name) {
  return name == "VEVENT" || name == "VTODO" || name == "VJOURNAL";
}

class ItemCutter {
 public:
  ItemCutter(const ItemSink& sink, const BadComponent& bad) : sink_(sink), bad_(bad) {}

  bool line(const ContentLine& line) {
    const std::string name = nameOf(line.text);
    if (!inCalendar_) {
      if (name == "BEGIN" && upperAscii(valueOf(line.text)) == "VCALENDAR") {
        inCalendar_ = true;
        ++calendars_;
      }
      return true;
    }
    if (stack_.empty()) return outsideComponent(line, name);
    if (name == "BEGIN") {
      const std::string component = upperAscii(valueOf(line.text));
      if (component == "VCALENDAR") {
        dropCapture("ends without its END line");
        ++calendars_;
        return true;
      }
      // These never nest: the one being read lacks its END line.
      if (isItemKind(component) || component == "VTIMEZONE" || component == "VFREEBUSY") {
        dropCapture("ends without its END line");
        return outsideComponent(line, name);
      }
      stack_.push_back(component);
    } else if (name == "END") {
      const std::string component = upperAscii(valueOf(line.text));
      if (component != stack_.back()) {
        // Unbalanced: the component is bad; an END of the calendar ends it.
        if (component == "VCALENDAR") {
          dropCapture("ends without its END line");
          inCalendar_ = false;
          return true;
        }
        if (std::find(stack_.begin(), stack_.end(), component) == stack_.end()) {
          badReason_ = "has an END:" + component + " without its BEGIN";
          append(line);
          return true;
        }
        badReason_ = "has a BEGIN:" + stack_.back() + " without its END";
        while (stack_.back() != component) stack_.pop_back();
      }
      append(line);
      stack_.pop_back();
      if (stack_.empty()) return finishCapture();
      return true;
    } else if (stack_.size() == 1) {
      if (name == "UID" && uid_.empty()) uid_ = valueOf(line.text);
      if (name == "TZID" && tzid_.empty()) tzid_ = valueOf(line.text);
    }
    if (!stack_.empty()) {
      const std::string zone = tzidOf(line.text);
      if (!zone.empty() && std::find(zones_.begin(), zones_.end(), zone) == zones_.end()) {
        zones_.push_back(zone);
      }
    }
    append(line);
    return true;
  }

  bool end() {
    if (!stack_.empty()) dropCapture("ends without its END line");
    return flushItem();
  }

  std::size_t calendars() const { return calendars_; }

 private:
  bool outsideComponent(const ContentLine& line, const std::string& name) {
    if (name == "END" && upperAscii(valueOf(line.text)) == "VCALENDAR") {
      inCalendar_ = false;
      return true;
    }
    if (name != "BEGIN") return true;  // the calendar's own properties
    component_ = upperAscii(valueOf(line.text));
    stack_.assign(1, component_);
    capture_.clear();
    uid_.clear();
    tzid_.clear();
    zones_.clear();
    badReason_.clear();
    tooLarge_ = false;
    captureLine_ = line.line;
    append(line);
    return true;
  }

  void append(const ContentLine& line) {
    if (capture_.size() + line.raw.size() > kMaxItemBytes) tooLarge_ = true;
    if (tooLarge_) return;
    capture_ += line.raw;
    capture_ += "\r\n";
  }

  void dropCapture(const std::string& reason) {
    bad_(captureLine_, component_ + " " + reason);
    stack_.clear();
  }

  bool finishCapture() {
    const std::string& component = component_;
    if (!badReason_.empty()) {
      bad_(captureLine_, component + " " + badReason_);
      return true;
    }
    if (tooLarge_) {
      bad_(captureLine_, component + " is larger than 4 MB");
      return true;
    }
    if (component == "VTIMEZONE") {
      if (tzid_.empty()) {
        bad_(captureLine_, "VTIMEZONE has no TZID");
      } else if (timezoneBytes_ + capture_.size() <= kMaxTimezoneBytes) {
        timezoneBytes_ += capture_.size();
        timezones_[tzid_] = capture_;
      }
      return true;
    }
    if (!isItemKind(component)) {
      bad_(captureLine_, component + " is not an event, task or journal entry");
      return true;
    }
    if (uid_.empty()) {
      bad_(captureLine_, component + " has no UID");
      return true;
    }
    if (item_.components > 0 && (item_.uid != uid_ || item_.kind != component)) {
      if (!flushItem()) return false;
    }
    if (item_.components == 0) {
      item_.uid = uid_;
      item_.kind = component;
      item_.line = captureLine_;
    }
    if (components_.size() + capture_.size() > kMaxItemBytes) {
      bad_(captureLine_, component + " " + uid_ + " makes an item larger than 4 MB");
      return true;
    }
    ++item_.components;
    components_ += capture_;
    for (const std::string& zone : zones_) {
      if (std::find(itemZones_.begin(), itemZones_.end(), zone) == itemZones_.end()) {
        itemZones_.push_back(zone);
      }
    }
    return true;
  }

  bool flushItem() {
    if (item_.components == 0) return true;
    std::string zones;
    for (const std::string& zone : itemZones_) {
      const auto found = timezones_.find(zone);
      if (found != timezones_.end()) zones += found->second;
    }
    item_.text = calendarText(zones, components_);
    const bool go = sink_(item_);
    item_ = IcsItem();
    components_.clear();
    itemZones_.clear();
    return go;
  }

  const ItemSink& sink_;
  const BadComponent& bad_;
  bool inCalendar_ = false;
  std::size_t calendars_ = 0;
  std::vector<std::string> stack_;
  std::string capture_;
  std::string component_;  // the name of the component being read
  std::uint64_t captureLine_ = 0;
  std::string uid_;
  std::string tzid_;
  std::vector<std::string> zones_;
  std::string badReason_;
  bool tooLarge_ = false;
  std::map<std::string, std::string> timezones_;
  std::size_t timezoneBytes_ = 0;
  IcsItem item_;
  std::string components_;
  std::vector<std::string> itemZones_;
};

}  // namespace

std::string calendarText(const std::string& timezones, const std::string& components) {
  return kCalendarHeader + timezones + components + "END:VCALENDAR\r\n";
}

std::size_t readIcsItems(std::istream& in, const ItemSink& sink, const BadComponent& bad) {
  LineSource lines(in);
  ItemCutter cutter(sink, bad);
  ContentLine line;
  while (lines.next(line)) {
    if (!cutter.line(line)) return cutter.calendars();
  }
  cutter.end();
  return cutter.calendars();
}

}  // namespace orva_calendar

namespace orva_calendar {

void splitCalendar(
    const std::string& text,
    const std::function<void(const std::string& tzid, const std::string& block)>& timezone,
    const std::function<void(const std::string& block)>& component) {
  int depth = 0;
  std::string block, tzid, name;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 2;
    const std::string property =
        line.empty() || line[0] == ' ' || line[0] == '\t' ? "" : nameOf(line);
    if (property == "BEGIN") {
      ++depth;
      if (depth == 2) {
        block.clear();
        tzid.clear();
        name = upperAscii(valueOf(line));
      }
    }
    if (depth >= 2) block += line + "\r\n";
    if (depth == 2 && property == "TZID" && tzid.empty()) tzid = valueOf(line);
    if (property == "END") {
      if (depth == 2) {
        if (name == "VTIMEZONE") {
          timezone(tzid, block);
        } else {
          component(block);
        }
      }
      --depth;
    }
  }
}

}  // namespace orva_calendar
