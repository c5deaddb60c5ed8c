// Checks a decoded archive before anything of it reaches the shared book: that the root is
// one of the three archived classes, that every field holds what the class expects (a
// string, an array, or nothing), and that no group holds itself, however deep, which would
// make the conversion recurse without end. Elements of other classes inside the arrays
// pass: the conversion skips them.
//
// Each archived class checks its own fields (-checkFieldsWith:) and hands its array
// elements back to element().
#pragma once

#import <Foundation/Foundation.h>
#include <string>
#include <unordered_set>

class GraphCheck {
 public:
  // Empty when the graph can be converted; otherwise the reason, one line.
  std::string checkRoot(id root);
  // For the archived classes: checks one element of an array field.
  std::string element(id element);

 private:
  std::unordered_set<const void *> onPath_;
  std::unordered_set<const void *> checked_;
};

// A reason for a field that holds an object of the wrong kind; nil and kindOf objects pass.
std::string FieldKindProblem(id value, Class kind, const char *owner, const char *field);
