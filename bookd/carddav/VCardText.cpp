#include "VCardText.h"

#include <cctype>

namespace carddav {

namespace {

std::string upper(const std::string &s) {
  std::string u = s;
  for (char &c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

std::string unescapedValue(const std::string &raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size()) {
      char next = raw[++i];
      out.push_back(next == 'n' || next == 'N' ? '\n' : next);
    } else {
      out.push_back(raw[i]);
    }
  }
  return out;
}

// Splits "NAME;P=a,b;Q=\"x;y\"" (the part before the value's colon) into name and parameters.
void parseHead(const std::string &head, VCardProperty *property) {
  size_t i = 0;
  while (i < head.size() && head[i] != ';') ++i;
  std::string name = head.substr(0, i);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(dot + 1);
  property->name = upper(name);
  while (i < head.size()) {
    ++i;  // the ';'
    size_t nameStart = i;
    while (i < head.size() && head[i] != '=' && head[i] != ';') ++i;
    std::string paramName = upper(head.substr(nameStart, i - nameStart));
    std::vector<std::string> values;
    if (i < head.size() && head[i] == '=') {
      ++i;
      std::string value;
      bool quoted = false;
      for (; i < head.size(); ++i) {
        char c = head[i];
        if (c == '"') {
          quoted = !quoted;
        } else if (!quoted && c == ',') {
          values.push_back(value);
          value.clear();
        } else if (!quoted && c == ';') {
          break;
        } else {
          value.push_back(c);
        }
      }
      values.push_back(value);
    } else {
      values.push_back(paramName);
      paramName = "TYPE";
    }
    property->params.emplace_back(paramName, values);
  }
}

}  // namespace

void scanVCard(const std::string &text, const std::function<void(const VCardProperty &)> &each) {
  size_t pos = 0;
  std::string line;
  while (pos < text.size()) {
    VCardProperty property;
    property.begin = pos;
    line.clear();
    // One content line: physical lines joined where the next begins with a space or tab.
    for (;;) {
      size_t eol = text.find('\n', pos);
      size_t contentEnd = eol == std::string::npos ? text.size() : eol;
      if (contentEnd > pos && text[contentEnd - 1] == '\r') --contentEnd;
      line.append(text, pos, contentEnd - pos);
      pos = eol == std::string::npos ? text.size() : eol + 1;
      if (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
        ++pos;
        continue;
      }
      break;
    }
    property.end = pos;
    // The colon that ends the head is the first one outside a quoted parameter value.
    bool quoted = false;
    size_t colon = std::string::npos;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '"') quoted = !quoted;
      if (line[i] == ':' && !quoted) {
        colon = i;
        break;
      }
    }
    if (colon == std::string::npos) continue;
    parseHead(line.substr(0, colon), &property);
    property.value = unescapedValue(line.substr(colon + 1));
    each(property);
  }
}

std::string selectProperties(const std::string &text, const std::map<std::string, bool> &keep) {
  std::string out;
  out.reserve(text.size());
  scanVCard(text, [&](const VCardProperty &property) {
    const std::string &name = property.name;
    if (name == "BEGIN" || name == "END" || name == "VERSION") {
      out.append(text, property.begin, property.end - property.begin);
      return;
    }
    auto kept = keep.find(name);
    if (kept == keep.end()) return;
    if (!kept->second) {
      out.append(text, property.begin, property.end - property.begin);
      return;
    }
    // Without its value: the head as written up to the colon, unfolded.
    std::string line = text.substr(property.begin, property.end - property.begin);
    std::string unfolded;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '\r' || line[i] == '\n') {
        if (line[i] == '\n' && i + 1 < line.size() && (line[i + 1] == ' ' || line[i + 1] == '\t')) ++i;
        continue;
      }
      unfolded.push_back(line[i]);
    }
    bool quoted = false;
    for (size_t i = 0; i < unfolded.size(); ++i) {
      if (unfolded[i] == '"') quoted = !quoted;
      if (unfolded[i] == ':' && !quoted) {
        out.append(unfolded, 0, i + 1);
        out.append("\r\n");
        break;
      }
    }
  });
  return out;
}

int declaredVersion(const std::string &text) {
  int version = 3;
  scanVCard(text, [&](const VCardProperty &property) {
    if (property.name == "VERSION" && property.value.compare(0, 1, "4") == 0) version = 4;
  });
  return version;
}

}  // namespace carddav
