#import "ElementConversion.h"
#import <Kindex/Kindex.h>
#include <string>
#include <utility>
#include <vector>
#import "Address.h"
#import "ClassKind.h"
#import "Group.h"

static std::vector<std::pair<std::string, long>> skipped;

static void NoteSkipped(id element)
{
  std::string kind = ClassKind(element);
  for (auto &entry : skipped)
    if (entry.first == kind)
      {
        entry.second++;
        return;
      }
  skipped.emplace_back(kind, 1);
}

KXRecord *ConvertElement(id element)
{
  if ([element isKindOfClass: [Group class]]) return [(Group *)element addToAddressBook];
  if ([element isKindOfClass: [Address class]]) return [(Address *)element addToAddressBook];
  NoteSkipped(element);
  return nil;
}

void ReportSkippedElements(FILE *stream, const char *path)
{
  for (const auto &entry : skipped)
    fprintf(stream, "Warning: '%s': skipped %ld element%s of class %s\n", path, entry.second,
            entry.second == 1 ? "" : "s", entry.first.c_str());
}
