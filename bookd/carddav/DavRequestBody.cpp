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

const char *namespaceOf(const xmlNode *node) {
  return node->ns && node->ns->href ? reinterpret_cast<const char *>(node->ns->href) : "";
}

bool is(const xmlNode *node, const char *ns, const char *name) {
  return node && node->type == XML_ELEMENT_NODE && std::strcmp(namespaceOf(node), ns) == 0 &&
         std::strcmp(reinterpret_cast<const char *>(node->name), name) == 0;
}

const xmlNode *firstElement(const xmlNode *node) {
  for (; node; node = node->next)
    if (node->type == XML_ELEMENT_NODE) return node;
  return nullptr;
}
const xmlNode *nextElement(const xmlNode *node) {
  return firstElement(node->next);
}

const xmlNode *child(const xmlNode *parent, const char *ns, const char *name) {
  for (const xmlNode *c = firstElement(parent->children); c; c = nextElement(c))
    if (is(c, ns, name)) return c;
  return nullptr;
}

std::string textOf(const xmlNode *node) {
  xmlChar *content = xmlNodeGetContent(node);
  std::string text = content ? reinterpret_cast<const char *>(content) : "";
  xmlFree(content);
  return text;
}

std::string trimmedText(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool attribute(const xmlNode *node, const char *name, std::string *value) {
  xmlChar *v = xmlGetProp(node, reinterpret_cast<const xmlChar *>(name));
  if (!v) return false;
  *value = reinterpret_cast<const char *>(v);
  xmlFree(v);
  return true;
}

bool failParse(BodyError *error, int status, const std::string &message, const std::string &condition = "") {
  error->status = status;
  error->message = message;
  error->condition = condition;
  return false;
}

Doc parse(const std::string &body, BodyError *error) {
  // A document type declaration is the door to entities; requests never need one.
  if (body.find("<!DOCTYPE") != std::string::npos || body.find("<!ENTITY") != std::string::npos) {
    failParse(error, 400, "document type declarations are not accepted");
    return nullptr;
  }
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
  Doc doc(xmlReadMemory(body.data(), static_cast<int>(body.size()), "request.xml", nullptr, options));
  if (!doc || !xmlDocGetRootElement(doc.get()) || doc->intSubset) {
    failParse(error, 400, "malformed XML");
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

PropName nameOf(const xmlNode *node) {
  PropName prop;
  prop.ns = namespaceOf(node);
  prop.name = reinterpret_cast<const char *>(node->name);
  for (const KnownProp &known : kKnownProps)
    if (prop.ns == known.ns && prop.name == known.name) prop.id = known.id;
  return prop;
}

// CARDDAV:address-data's attributes and CARDDAV:prop children.
bool readAddressData(const xmlNode *node, PropSelection *selection, BodyError *error) {
  std::string type, version;
  if (attribute(node, "content-type", &type) && type != "text/vcard")
    return failParse(error, 403, "only text/vcard", "<c:supported-address-data/>");
  if (attribute(node, "version", &version)) {
    if (version == "3.0") {
      selection->addressDataVersion = 3;
    } else if (version == "4.0") {
      selection->addressDataVersion = 4;
    } else {
      return failParse(error, 403, "vCard 3.0 and 4.0 only", "<c:supported-address-data/>");
    }
  }
  for (const xmlNode *c = firstElement(node->children); c; c = nextElement(c)) {
    if (is(c, kCardDavNs, "allprop")) {
      selection->addressDataProps.clear();
      break;
    }
    if (!is(c, kCardDavNs, "prop")) continue;
    std::string name, novalue;
    if (!attribute(c, "name", &name) || name.empty())
      return failParse(error, 400, "CARDDAV:prop without a name");
    for (char &ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    selection->addressDataProps[name] = attribute(c, "novalue", &novalue) && novalue == "yes";
  }
  return true;
}

// The DAV:prop / DAV:allprop / DAV:propname part shared by PROPFIND and the reports.
bool readSelection(const xmlNode *parent, PropSelection *selection, BodyError *error) {
  bool any = false;
  for (const xmlNode *c = firstElement(parent->children); c; c = nextElement(c)) {
    if (is(c, kDavNs, "prop")) {
      any = true;
      selection->mode = PropSelection::kProps;
      for (const xmlNode *p = firstElement(c->children); p; p = nextElement(p)) {
        PropName prop = nameOf(p);
        if (prop.id == PropId::kAddressData && !readAddressData(p, selection, error)) return false;
        selection->props.push_back(prop);
      }
    } else if (is(c, kDavNs, "allprop")) {
      any = true;
      selection->mode = PropSelection::kAllProp;
    } else if (is(c, kDavNs, "propname")) {
      any = true;
      selection->mode = PropSelection::kPropName;
    } else if (is(c, kDavNs, "include")) {
      for (const xmlNode *p = firstElement(c->children); p; p = nextElement(p))
        selection->props.push_back(nameOf(p));
    }
  }
  if (!any) selection->mode = PropSelection::kAllProp;
  return true;
}

bool readTextMatch(const xmlNode *node, TextMatch *match, BodyError *error) {
  std::string collation, matchType, negate;
  attribute(node, "collation", &collation);
  if (!collationNamed(collation, &match->collation))
    return failParse(error, 403, "unsupported collation", "<c:supported-collation/>");
  if (attribute(node, "match-type", &matchType)) {
    if (matchType == "equals") {
      match->matchType = MatchType::kEquals;
    } else if (matchType == "contains") {
      match->matchType = MatchType::kContains;
    } else if (matchType == "starts-with") {
      match->matchType = MatchType::kStartsWith;
    } else if (matchType == "ends-with") {
      match->matchType = MatchType::kEndsWith;
    } else {
      return failParse(error, 400, "unknown match-type");
    }
  }
  if (attribute(node, "negate-condition", &negate)) {
    if (negate != "yes" && negate != "no") return failParse(error, 400, "negate-condition is yes or no");
    match->negate = negate == "yes";
  }
  match->folded = foldText(textOf(node), match->collation);
  return true;
}

bool readTest(const xmlNode *node, bool *allOf, BodyError *error) {
  std::string test;
  if (!attribute(node, "test", &test)) return true;
  if (test != "anyof" && test != "allof") return failParse(error, 400, "test is anyof or allof");
  *allOf = test == "allof";
  return true;
}

std::string upperName(const xmlNode *node) {
  std::string name;
  attribute(node, "name", &name);
  for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

bool readFilter(const xmlNode *node, CardFilter *filter, BodyError *error) {
  if (!readTest(node, &filter->allOf, error)) return false;
  for (const xmlNode *p = firstElement(node->children); p; p = nextElement(p)) {
    if (!is(p, kCardDavNs, "prop-filter")) return failParse(error, 400, "unexpected element in filter");
    PropFilter prop;
    prop.name = upperName(p);
    if (prop.name.empty()) return failParse(error, 400, "prop-filter without a name");
    if (!readTest(p, &prop.allOf, error)) return false;
    for (const xmlNode *c = firstElement(p->children); c; c = nextElement(c)) {
      if (is(c, kCardDavNs, "is-not-defined")) {
        prop.isNotDefined = true;
      } else if (is(c, kCardDavNs, "text-match")) {
        TextMatch match;
        if (!readTextMatch(c, &match, error)) return false;
        prop.textMatches.push_back(match);
      } else if (is(c, kCardDavNs, "param-filter")) {
        ParamFilter param;
        param.name = upperName(c);
        if (param.name.empty()) return failParse(error, 400, "param-filter without a name");
        for (const xmlNode *t = firstElement(c->children); t; t = nextElement(t)) {
          if (is(t, kCardDavNs, "is-not-defined")) {
            param.isNotDefined = true;
          } else if (is(t, kCardDavNs, "text-match")) {
            param.hasTextMatch = true;
            if (!readTextMatch(t, &param.textMatch, error)) return false;
          } else {
            return failParse(error, 400, "unexpected element in param-filter");
          }
        }
        prop.paramFilters.push_back(param);
      } else {
        return failParse(error, 400, "unexpected element in prop-filter");
      }
    }
    filter->propFilters.push_back(prop);
  }
  return true;
}

bool readLimit(const xmlNode *report, const char *ns, long *limit, BodyError *error) {
  const xmlNode *limitNode = child(report, ns, "limit");
  if (!limitNode) return true;
  const xmlNode *nresults = child(limitNode, ns, "nresults");
  if (!nresults) return failParse(error, 400, "limit without nresults");
  std::string text = trimmedText(textOf(nresults));
  char *end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0) return failParse(error, 400, "nresults is a number");
  *limit = value;
  return true;
}

}  // namespace

void initXmlReading() {
  xmlInitParser();
}

bool parsePropfind(const std::string &body, PropSelection *selection, BodyError *error) {
  selection->mode = PropSelection::kAllProp;
  if (trimmedText(body).empty()) return true;
  Doc doc = parse(body, error);
  if (!doc) return false;
  const xmlNode *root = xmlDocGetRootElement(doc.get());
  if (!is(root, kDavNs, "propfind")) return failParse(error, 400, "expected DAV:propfind");
  return readSelection(root, selection, error);
}

bool parseProppatch(const std::string &body, std::vector<PropName> *props, BodyError *error) {
  Doc doc = parse(body, error);
  if (!doc) return false;
  const xmlNode *root = xmlDocGetRootElement(doc.get());
  if (!is(root, kDavNs, "propertyupdate")) return failParse(error, 400, "expected DAV:propertyupdate");
  for (const xmlNode *c = firstElement(root->children); c; c = nextElement(c)) {
    if (!is(c, kDavNs, "set") && !is(c, kDavNs, "remove")) continue;
    const xmlNode *prop = child(c, kDavNs, "prop");
    if (!prop) continue;
    for (const xmlNode *p = firstElement(prop->children); p; p = nextElement(p)) props->push_back(nameOf(p));
  }
  if (props->empty()) return failParse(error, 400, "no property to change");
  return true;
}

bool parseReport(const std::string &body, ReportRequest *report, BodyError *error) {
  Doc doc = parse(body, error);
  if (!doc) return false;
  const xmlNode *root = xmlDocGetRootElement(doc.get());
  report->selection.mode = PropSelection::kAllProp;
  if (is(root, kCardDavNs, "addressbook-multiget")) {
    report->kind = ReportRequest::kMultiget;
    for (const xmlNode *c = firstElement(root->children); c; c = nextElement(c))
      if (is(c, kDavNs, "href")) report->hrefs.push_back(trimmedText(textOf(c)));
  } else if (is(root, kCardDavNs, "addressbook-query")) {
    report->kind = ReportRequest::kQuery;
    const xmlNode *filter = child(root, kCardDavNs, "filter");
    if (!filter) return failParse(error, 400, "addressbook-query without a filter");
    if (!readFilter(filter, &report->filter, error)) return false;
    if (!readLimit(root, kCardDavNs, &report->limit, error)) return false;
  } else if (is(root, kDavNs, "sync-collection")) {
    report->kind = ReportRequest::kSyncCollection;
    const xmlNode *token = child(root, kDavNs, "sync-token");
    if (!token) return failParse(error, 400, "sync-collection without a sync-token");
    report->syncToken = trimmedText(textOf(token));
    const xmlNode *level = child(root, kDavNs, "sync-level");
    report->syncLevel = level ? trimmedText(textOf(level)) : "1";
    if (report->syncLevel != "1" && report->syncLevel != "infinite")
      return failParse(error, 400, "sync-level is 1 or infinite");
    if (!readLimit(root, kDavNs, &report->limit, error)) return false;
  } else {
    report->kind = ReportRequest::kUnsupported;
    return true;
  }
  return readSelection(root, &report->selection, error);
}

}  // namespace carddav
