#include "MultiStatus.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdlib>
#include <cstring>

namespace davbench {

namespace {

const char kDav[] = "DAV:";
const char kCardDav[] = "urn:ietf:params:xml:ns:carddav";

bool is(const xmlNode *node, const char *ns, const char *name) {
  return node->type == XML_ELEMENT_NODE && node->ns != nullptr &&
         std::strcmp(reinterpret_cast<const char *>(node->ns->href), ns) == 0 &&
         std::strcmp(reinterpret_cast<const char *>(node->name), name) == 0;
}

const xmlNode *child(const xmlNode *parent, const char *ns, const char *name) {
  for (const xmlNode *c = parent->children; c != nullptr; c = c->next)
    if (is(c, ns, name)) return c;
  return nullptr;
}

std::string textOf(const xmlNode *node) {
  if (node == nullptr) return "";
  xmlChar *content = xmlNodeGetContent(node);
  std::string text = content != nullptr ? reinterpret_cast<const char *>(content) : "";
  xmlFree(content);
  return text;
}

// "HTTP/1.1 200 OK" -> 200
int statusCode(const std::string &line) {
  size_t space = line.find(' ');
  return space == std::string::npos ? 0 : std::atoi(line.c_str() + space + 1);
}

std::string pathOf(std::string href) {
  size_t begin = href.find_first_not_of(" \t\r\n");
  size_t end = href.find_last_not_of(" \t\r\n");
  href = begin == std::string::npos ? "" : href.substr(begin, end - begin + 1);
  size_t scheme = href.find("://");
  if (scheme != std::string::npos) {
    size_t path = href.find('/', scheme + 3);
    href = path == std::string::npos ? "/" : href.substr(path);
  }
  return href;
}

}  // namespace

bool parseMultiStatus(const std::string &xml, MultiStatus *out, std::string *error) {
  out->entries.clear();
  out->syncToken.clear();
  xmlDoc *doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "answer.xml", nullptr,
                              XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  const xmlNode *root = doc != nullptr ? xmlDocGetRootElement(doc) : nullptr;
  if (root == nullptr || !is(root, kDav, "multistatus")) {
    *error = "not a DAV:multistatus answer: " + xml.substr(0, 200);
    if (doc != nullptr) xmlFreeDoc(doc);
    return false;
  }
  for (const xmlNode *r = root->children; r != nullptr; r = r->next) {
    if (is(r, kDav, "sync-token")) out->syncToken = textOf(r);
    if (!is(r, kDav, "response")) continue;
    DavEntry entry;
    entry.href = pathOf(textOf(child(r, kDav, "href")));
    const xmlNode *status = child(r, kDav, "status");
    if (status != nullptr) entry.status = statusCode(textOf(status));
    for (const xmlNode *ps = r->children; ps != nullptr; ps = ps->next) {
      if (!is(ps, kDav, "propstat")) continue;
      const int code = statusCode(textOf(child(ps, kDav, "status")));
      if (entry.status == 0 || (code == 200 && status == nullptr)) entry.status = code;
      const xmlNode *prop = child(ps, kDav, "prop");
      if (code != 200 || prop == nullptr) continue;
      const xmlNode *etag = child(prop, kDav, "getetag");
      if (etag != nullptr) entry.etag = textOf(etag);
      const xmlNode *card = child(prop, kCardDav, "address-data");
      if (card != nullptr) entry.addressData = textOf(card);
      const xmlNode *token = child(prop, kDav, "sync-token");
      if (token != nullptr) out->syncToken = textOf(token);
    }
    out->entries.push_back(std::move(entry));
  }
  xmlFreeDoc(doc);
  return true;
}

}  // namespace davbench
