#include "DavRequestBody.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "XmlOut.h"

namespace carddav {

namespace {

struct DocFree {
  void operator()(xmlDoc *doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

const char *Ns(const xmlNode *node) {
  return node->ns && node->ns->href ? reinterpret_cast<const char *>(node->ns->href) : "";
}

bool Is(const xmlNode *node, const char *ns, const char *name) {
  return node && node->type == XML_ELEMENT_NODE && std::strcmp(Ns(node), ns) == 0 &&
         std::strcmp(reinterpret_cast<const char *>(node->name), name) == 0;
}

const xmlNode *FirstElement(const xmlNode *node) {
  for (; node; node = node->next)
    if (node->type == XML_ELEMENT_NODE) return node;
  return nullptr;
}
const xmlNode *NextElement(const xmlNode *node) {
  return FirstElement(node->next);
}

const xmlNode *Child(const xmlNode *parent, const char *ns, const char *name) {
  for (const xmlNode *c = FirstElement(parent->children); c; c = NextElement(c))
    if (Is(c, ns, name)) return c;
  return nullptr;
}

std::string Text(const xmlNode *node) {
  xmlChar *content = xmlNodeGetContent(node);
  std::string text = content ? reinterpret_cast<const char *>(content) : "";
  xmlFree(content);
  return text;
}

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool Attribute(const xmlNode *node, const char *name, std::string *value) {
  xmlChar *v = xmlGetProp(node, reinterpret_cast<const xmlChar *>(name));
  if (!v) return false;
  *value = reinterpret_cast<const char *>(v);
  xmlFree(v);
  return true;
}

bool Fail(BodyError *error, int status, const std::string &message, const std::string &condition = "") {
  error->status = status;
  error->message = message;
  error->condition = condition;
  return false;
}

Doc Parse(const std::string &body, BodyError *error) {
  // A document type declaration is the door to entities; requests never need one.
  if (body.find("<!DOCTYPE") != std::string::npos || body.find("<!ENTITY") != std::string::npos) {
    Fail(error, 400, "document type declarations are not accepted");
    return nullptr;
  }
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
  Doc doc(xmlReadMemory(body.data(), static_cast<int>(body.size()), "request.xml", nullptr, options));
  if (!doc || !xmlDocGetRootElement(doc.get()) || doc->intSubset) {
    Fail(error, 400, "malformed XML");
    return nullptr;
  }
  return doc;
}

struct KnownProp {
  const char *ns;
  const char *name;
  PropId id;
};

const KnownProp kKnownProps[] = {
    {kDavNs, "resourcetype", PropId::kResourceType},
    {kDavNs, "displayname", PropId::kDisplayName},
    {kDavNs, "getetag", PropId::kGetEtag},
    {kDavNs, "getcontenttype", PropId::kGetContentType},
    {kDavNs, "getlastmodified", PropId::kGetLastModified},
    {kCalendarServerNs, "getctag", PropId::kGetCtag},
    {kDavNs, "sync-token", PropId::kSyncToken},
    {kDavNs, "supported-report-set", PropId::kSupportedReportSet},
    {kDavNs, "current-user-privilege-set", PropId::kCurrentUserPrivilegeSet},
    {kDavNs, "current-user-principal", PropId::kCurrentUserPrincipal},
    {kDavNs, "principal-URL", PropId::kPrincipalUrl},
    {kDavNs, "owner", PropId::kOwner},
    {kCardDavNs, "addressbook-home-set", PropId::kAddressbookHomeSet},
    {kCardDavNs, "supported-address-data", PropId::kSupportedAddressData},
    {kCardDavNs, "max-resource-size", PropId::kMaxResourceSize},
    {kCardDavNs, "supported-collation-set", PropId::kSupportedCollationSet},
    {kCardDavNs, "address-data", PropId::kAddressData},
};

PropName NameOf(const xmlNode *node) {
  PropName prop;
  prop.ns = Ns(node);
  prop.name = reinterpret_cast<const char *>(node->name);
  for (const KnownProp &known : kKnownProps)
    if (prop.ns == known.ns && prop.name == known.name) prop.id = known.id;
  return prop;
}

// CARDDAV:address-data's attributes and CARDDAV:prop children.
bool ReadAddressData(const xmlNode *node, PropSelection *selection, BodyError *error) {
  std::string type, version;
  if (Attribute(node, "content-type", &type) && type != "text/vcard")
    return Fail(error, 403, "only text/vcard", "<c:supported-address-data/>");
  if (Attribute(node, "version", &version)) {
    if (version == "3.0") {
      selection->addressDataVersion = 3;
    } else if (version == "4.0") {
      selection->addressDataVersion = 4;
    } else {
      return Fail(error, 403, "vCard 3.0 and 4.0 only", "<c:supported-address-data/>");
    }
  }
  for (const xmlNode *c = FirstElement(node->children); c; c = NextElement(c)) {
    if (Is(c, kCardDavNs, "allprop")) {
      selection->addressDataProps.clear();
      break;
    }
    if (!Is(c, kCardDavNs, "prop")) continue;
    std::string name, novalue;
    if (!Attribute(c, "name", &name) || name.empty()) return Fail(error, 400, "CARDDAV:prop without a name");
    for (char &ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    selection->addressDataProps[name] = Attribute(c, "novalue", &novalue) && novalue == "yes";
  }
  return true;
}

// The DAV:prop / DAV:allprop / DAV:propname part shared by PROPFIND and the reports.
bool ReadSelection(const xmlNode *parent, PropSelection *selection, BodyError *error) {
  bool any = false;
  for (const xmlNode *c = FirstElement(parent->children); c; c = NextElement(c)) {
    if (Is(c, kDavNs, "prop")) {
      any = true;
      selection->mode = PropSelection::kProps;
      for (const xmlNode *p = FirstElement(c->children); p; p = NextElement(p)) {
        PropName prop = NameOf(p);
        if (prop.id == PropId::kAddressData && !ReadAddressData(p, selection, error)) return false;
        selection->props.push_back(prop);
      }
    } else if (Is(c, kDavNs, "allprop")) {
      any = true;
      selection->mode = PropSelection::kAllProp;
    } else if (Is(c, kDavNs, "propname")) {
      any = true;
      selection->mode = PropSelection::kPropName;
    } else if (Is(c, kDavNs, "include")) {
      for (const xmlNode *p = FirstElement(c->children); p; p = NextElement(p))
        selection->props.push_back(NameOf(p));
    }
  }
  if (!any) selection->mode = PropSelection::kAllProp;
  return true;
}

bool ReadTextMatch(const xmlNode *node, TextMatch *match, BodyError *error) {
  std::string collation, matchType, negate;
  Attribute(node, "collation", &collation);
  if (!CollationNamed(collation, &match->collation))
    return Fail(error, 403, "unsupported collation", "<c:supported-collation/>");
  if (Attribute(node, "match-type", &matchType)) {
    if (matchType == "equals") {
      match->matchType = MatchType::kEquals;
    } else if (matchType == "contains") {
      match->matchType = MatchType::kContains;
    } else if (matchType == "starts-with") {
      match->matchType = MatchType::kStartsWith;
    } else if (matchType == "ends-with") {
      match->matchType = MatchType::kEndsWith;
    } else {
      return Fail(error, 400, "unknown match-type");
    }
  }
  if (Attribute(node, "negate-condition", &negate)) {
    if (negate != "yes" && negate != "no") return Fail(error, 400, "negate-condition is yes or no");
    match->negate = negate == "yes";
  }
  match->folded = FoldText(Text(node), match->collation);
  return true;
}

bool ReadTest(const xmlNode *node, bool *allOf, BodyError *error) {
  std::string test;
  if (!Attribute(node, "test", &test)) return true;
  if (test != "anyof" && test != "allof") return Fail(error, 400, "test is anyof or allof");
  *allOf = test == "allof";
  return true;
}

std::string UpperName(const xmlNode *node) {
  std::string name;
  Attribute(node, "name", &name);
  for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

bool ReadFilter(const xmlNode *node, CardFilter *filter, BodyError *error) {
  if (!ReadTest(node, &filter->allOf, error)) return false;
  for (const xmlNode *p = FirstElement(node->children); p; p = NextElement(p)) {
    if (!Is(p, kCardDavNs, "prop-filter")) return Fail(error, 400, "unexpected element in filter");
    PropFilter prop;
    prop.name = UpperName(p);
    if (prop.name.empty()) return Fail(error, 400, "prop-filter without a name");
    if (!ReadTest(p, &prop.allOf, error)) return false;
    for (const xmlNode *c = FirstElement(p->children); c; c = NextElement(c)) {
      if (Is(c, kCardDavNs, "is-not-defined")) {
        prop.isNotDefined = true;
      } else if (Is(c, kCardDavNs, "text-match")) {
        TextMatch match;
        if (!ReadTextMatch(c, &match, error)) return false;
        prop.textMatches.push_back(match);
      } else if (Is(c, kCardDavNs, "param-filter")) {
        ParamFilter param;
        param.name = UpperName(c);
        if (param.name.empty()) return Fail(error, 400, "param-filter without a name");
        for (const xmlNode *t = FirstElement(c->children); t; t = NextElement(t)) {
          if (Is(t, kCardDavNs, "is-not-defined")) {
            param.isNotDefined = true;
          } else if (Is(t, kCardDavNs, "text-match")) {
            param.hasTextMatch = true;
            if (!ReadTextMatch(t, &param.textMatch, error)) return false;
          } else {
            return Fail(error, 400, "unexpected element in param-filter");
          }
        }
        prop.paramFilters.push_back(param);
      } else {
        return Fail(error, 400, "unexpected element in prop-filter");
      }
    }
    filter->propFilters.push_back(prop);
  }
  return true;
}

bool ReadLimit(const xmlNode *report, const char *ns, long *limit, BodyError *error) {
  const xmlNode *limitNode = Child(report, ns, "limit");
  if (!limitNode) return true;
  const xmlNode *nresults = Child(limitNode, ns, "nresults");
  if (!nresults) return Fail(error, 400, "limit without nresults");
  std::string text = Trim(Text(nresults));
  char *end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0) return Fail(error, 400, "nresults is a number");
  *limit = value;
  return true;
}

}  // namespace

void InitXmlReading() {
  xmlInitParser();
}

bool ParsePropfind(const std::string &body, PropSelection *selection, BodyError *error) {
  selection->mode = PropSelection::kAllProp;
  if (Trim(body).empty()) return true;
  Doc doc = Parse(body, error);
  if (!doc) return false;
  const xmlNode *root = xmlDocGetRootElement(doc.get());
  if (!Is(root, kDavNs, "propfind")) return Fail(error, 400, "expected DAV:propfind");
  return ReadSelection(root, selection, error);
}

bool ParseProppatch(const std::string &body, std::vector<PropName> *props, BodyError *error) {
  Doc doc = Parse(body, error);
  if (!doc) return false;
  const xmlNode *root = xmlDocGetRootElement(doc.get());
  if (!Is(root, kDavNs, "propertyupdate")) return Fail(error, 400, "expected DAV:propertyupdate");
  for (const xmlNode *c = FirstElement(root->children); c; c = NextElement(c)) {
    if (!Is(c, kDavNs, "set") && !Is(c, kDavNs, "remove")) continue;
    const xmlNode *prop = Child(c, kDavNs, "prop");
    if (!prop) continue;
    for (const xmlNode *p = FirstElement(prop->children); p; p = NextElement(p)) props->push_back(NameOf(p));
  }
  if (props->empty()) return Fail(error, 400, "no property to change");
  return true;
}

bool ParseReport(const std::string &body, ReportRequest *report, BodyError *error) {
  Doc doc = Parse(body, error);
  if (!doc) return false;
  const xmlNode *root = xmlDocGetRootElement(doc.get());
  report->selection.mode = PropSelection::kAllProp;
  if (Is(root, kCardDavNs, "addressbook-multiget")) {
    report->kind = ReportRequest::kMultiget;
    for (const xmlNode *c = FirstElement(root->children); c; c = NextElement(c))
      if (Is(c, kDavNs, "href")) report->hrefs.push_back(Trim(Text(c)));
  } else if (Is(root, kCardDavNs, "addressbook-query")) {
    report->kind = ReportRequest::kQuery;
    const xmlNode *filter = Child(root, kCardDavNs, "filter");
    if (!filter) return Fail(error, 400, "addressbook-query without a filter");
    if (!ReadFilter(filter, &report->filter, error)) return false;
    if (!ReadLimit(root, kCardDavNs, &report->limit, error)) return false;
  } else if (Is(root, kDavNs, "sync-collection")) {
    report->kind = ReportRequest::kSyncCollection;
    const xmlNode *token = Child(root, kDavNs, "sync-token");
    if (!token) return Fail(error, 400, "sync-collection without a sync-token");
    report->syncToken = Trim(Text(token));
    const xmlNode *level = Child(root, kDavNs, "sync-level");
    report->syncLevel = level ? Trim(Text(level)) : "1";
    if (report->syncLevel != "1" && report->syncLevel != "infinite")
      return Fail(error, 400, "sync-level is 1 or infinite");
    if (!ReadLimit(root, kDavNs, &report->limit, error)) return false;
  } else {
    report->kind = ReportRequest::kUnsupported;
    return true;
  }
  return ReadSelection(root, &report->selection, error);
}

}  // namespace carddav
