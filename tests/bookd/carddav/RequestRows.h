// The request tables of RequestTableTest, for running some of their rows over other collections
// too: each row a request and what its answer must be, on the four known cards (DavHarness.h)
// logged in read-write.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "DavHarness.h"

namespace davtest {

struct Row {
  const char *name;
  std::string method;
  std::string path;
  std::string headers;  // header lines with CRLF
  std::string body;
  int status;
  std::vector<std::string> xpaths = {};                   // over the answer's body
  std::map<std::string, std::string> answerHeaders = {};  // exact values, names in lower case
};

std::vector<Row> propfindRows();
std::vector<Row> readRows();
std::vector<Row> writeRows();
std::vector<Row> reportRows();

inline void checkAnswer(const Row &row, const HttpResponse &answer) {
  EXPECT_EQ(row.status, answer.status) << answer.body;
  for (const auto &header : row.answerHeaders) {
    EXPECT_EQ(header.second, answer.header(header.first)) << header.first;
  }
  if (!row.xpaths.empty()) {
    EXPECT_EQ("", checkXml(answer.body, row.xpaths));
  }
}

}  // namespace davtest
