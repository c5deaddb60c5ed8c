// Converting one element of an archived array by the rule of its own class, and the
// elements that have no rule: anything but a Group or an Address (an AddressBook among
// them too, which makes no record to add and would save the book half-way). Those are
// skipped and counted by class, for one line per class at the end of the run.
#import <Foundation/Foundation.h>
#include <cstdio>

@class KXRecord;

// The new record, or nil for a skipped element.
KXRecord *ConvertElement(id element);
// One line per class of skipped elements, in the order first met.
void ReportSkippedElements(FILE *stream, const char *path);
