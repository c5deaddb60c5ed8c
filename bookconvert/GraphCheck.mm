#import "GraphCheck.h"
#import "Address.h"
#import "AddressBook.h"
#import "ClassKind.h"
#import "Group.h"

std::string GraphCheck::checkRoot(id root)
{
  if (root == nil) return "it holds no object";
  if ([root isKindOfClass: [AddressBook class]]) return [(AddressBook *)root checkFieldsWith: *this];
  if ([root isKindOfClass: [Group class]] || [root isKindOfClass: [Address class]])
    return element(root);
  return "its root object is of class " + ClassKind(root);
}

std::string GraphCheck::element(id element)
{
  if ([element isKindOfClass: [Address class]]) return [(Address *)element checkFieldsWith: *this];
  if (![element isKindOfClass: [Group class]]) return std::string();

  // A group shared by several arrays is checked once, so that sharing can't make this
  // walk exponential.
  const void *key = (const void *)element;
  if (checked_.count(key) != 0) return std::string();
  if (onPath_.count(key) != 0) return "a group contains itself";
  onPath_.insert(key);
  std::string problem = [(Group *)element checkFieldsWith: *this];
  onPath_.erase(key);
  if (problem.empty()) checked_.insert(key);
  return problem;
}

std::string FieldKindProblem(id value, Class kind, const char *owner, const char *field)
{
  if (value == nil || [value isKindOfClass: kind]) return std::string();
  return std::string("the ") + field + " of " + owner + " is an object of class " + ClassKind(value);
}
