// Writes a hand-picked list of fields in place of a class's own, so that a test can build
// archives whose objects hold other fields than the converter expects.
//
// Each item of the list is one field: a string is written as an object, an empty
// dictionary as an absent object, and a dictionary { int = N; } as a plain C int.
#import <Foundation/Foundation.h>

void writeFieldList(NSCoder *coder, NSArray *fields);
