#include "Cards.h"

#include <cstdint>
#include <cstdio>
#include <fstream>

namespace davbench {

const char kNeedle[] = "quokka";

namespace {

const char *const kFirst[] = {"Anna", "Ben",   "Chloé", "David", "Emma",   "Farid", "Greta", "Hiro",
                              "Ines", "Jonas", "Kofi",  "Lena",  "Marta",  "Noah",  "Olga",  "Pavel",
                              "Rosa", "Sven",  "Tomás", "Ulla",  "Vikram", "Wen",   "Yusuf", "Zoë"};
const char *const kLast[] = {"Andersen", "Becker",   "Castillo", "Dubois", "Eriksson", "Fischer",
                             "García",   "Hoffmann", "Ivanova",  "Jansen", "Kowalski", "Larsen",
                             "Müller",   "Nakamura", "O'Brien",  "Petrov", "Rossi",    "Schmidt",
                             "Tanaka",   "Umarov",   "Varga",    "Weber",  "Yilmaz",   "Zimmermann"};
const char *const kCompanies[] = {"Northwind Traders",  "Acme Tools",   "Globex",      "Initech",
                                  "Umbrella Logistics", "Stark Metals", "Wayne Foods", "Hooli"};
const char *const kDepartments[] = {"Sales", "Research", "Accounts", "Support", "Purchasing"};
const char *const kDomains[] = {"example.org", "example.com", "example.net", "mail.example.de"};
const char *const kStreets[] = {"High Street",    "Station Road", "Hauptstraße",
                                "Rue de la Paix", "Main Street",  "Kungsgatan"};
const char *const kCities[] = {"London", "Berlin", "Paris", "Stockholm", "Leeds", "Lyon", "Munich"};
const char *const kNotes[] = {"Met at the trade fair", "Prefers calls after 10", "Invoice by e-mail",
                              "Knows the building manager", "Call back about the quote"};

template <size_t N>
const char *pick(const char *const (&list)[N], uint64_t value) {
  return list[value % N];
}

// A fixed mix of card i's bits, so that neighbouring cards differ in every field.
uint64_t mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

std::string lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// An e-mail local part from a name: ASCII letters only.
std::string Local(const std::string &name) {
  std::string out;
  for (char c : lower(name))
    if (c >= 'a' && c <= 'z') out += c;
  return out;
}

// 8 KB of bytes that do not compress, in base64, different for each card.
std::string photo(int i) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(8192 / 3 * 4 + 4);
  uint64_t x = static_cast<uint64_t>(i);
  for (int k = 0; k < 8192 / 3; k++) {
    x = mix(x);
    for (int j = 0; j < 4; j++) out += kAlphabet[(x >> (6 * j)) & 63];
  }
  return out;
}

}  // namespace

std::string cardUid(int i) {
  const uint64_t a = mix(static_cast<uint64_t>(i)), b = mix(a);
  char uid[40];
  std::snprintf(uid, sizeof uid, "%08x-%04x-4%03x-a%03x-%012llx", static_cast<unsigned>(a >> 32),
                static_cast<unsigned>(a >> 16) & 0xffff, static_cast<unsigned>(a) & 0xfff,
                static_cast<unsigned>(b >> 52) & 0xfff,
                static_cast<unsigned long long>(b & 0xffffffffffffULL));
  return uid;
}

bool cardHasNeedle(int i) {
  return i % 2000 == 1234;
}

int cardsWithNeedle(int count) {
  int n = 0;
  for (int i = 0; i < count; i++) n += cardHasNeedle(i);
  return n;
}

std::string cardText(int i, int revision, bool photos) {
  const uint64_t h = mix(static_cast<uint64_t>(i) * 7919 + 1);
  const std::string first = pick(kFirst, h), last = pick(kLast, h >> 8);
  const std::string n = std::to_string(i);
  std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  card += "UID:" + cardUid(i) + "\r\n";
  card += "FN:" + first + " " + last + "\r\n";
  card += "N:" + last + ";" + first + ";;;\r\n";
  card += "ORG:" + std::string(pick(kCompanies, h >> 16)) + ";" + pick(kDepartments, h >> 20) + "\r\n";
  const int emails = 1 + static_cast<int>((h >> 24) % 3);
  for (int e = 0; e < emails; e++) {
    std::string local = Local(first) + "." + Local(last) + n;
    if (e == 0 && cardHasNeedle(i)) local = std::string(kNeedle) + "." + local;
    card += std::string("EMAIL;TYPE=INTERNET") + (e == 0 ? ";TYPE=WORK" : ";TYPE=HOME") + ":" + local + "@" +
            pick(kDomains, (h >> 28) + e) + "\r\n";
  }
  card += "TEL;TYPE=CELL:+44 7700 " + std::to_string(100000 + i % 900000) + "\r\n";
  if ((h >> 32) % 2) card += "TEL;TYPE=WORK:+49 30 " + std::to_string(2000000 + (h >> 36) % 7000000) + "\r\n";
  card += "ADR;TYPE=WORK:;;" + std::to_string(1 + (h >> 40) % 200) + " " + pick(kStreets, h >> 44) + ";" +
          pick(kCities, h >> 48) + ";;" + std::to_string(10000 + (h >> 52) % 89999) + ";\r\n";
  card += "NOTE:" + std::string(pick(kNotes, h >> 56));
  if (revision > 0) card += " (edited " + std::to_string(revision) + ")";
  card += "\r\n";
  if (photos && i % 10 == 9) card += "PHOTO;ENCODING=b;TYPE=JPEG:" + photo(i) + "\r\n";
  card += "END:VCARD\r\n";
  return card;
}

bool writeCardsFile(const std::string &path, int count, bool photos) {
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < count && out; i++) out << cardText(i, 0, photos);
  out.close();
  return static_cast<bool>(out);
}

bool writeCardFiles(const std::string &dir, int count) {
  for (int i = 0; i < count; i++) {
    std::ofstream out(dir + "/" + cardUid(i) + ".vcf", std::ios::binary);
    out << cardText(i);
    out.close();
    if (!out) return false;
  }
  return true;
}

}  // namespace davbench
