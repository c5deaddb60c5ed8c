// gnumail-archive: writes address-book archives in the mail client's format with GNUstep's
// own NSArchiver, for the converter's tests, benchmark and demonstration.
#import <Foundation/Foundation.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#import "BookDescription.h"
#import "SyntheticBook.h"

static int Usage(const char *program) {
  fprintf(stderr,
          "Usage: %s DESCRIPTION.plist OUTPUT\n"
          "       %s --synthetic GROUPS ENTRIES_PER_GROUP OUTPUT\n"
          "DESCRIPTION.plist describes the book as a property list (see BookDescription.h);\n"
          "- reads it from standard input.\n",
          program, program);
  return 2;
}

static id rootFromDescriptionFile(const char *path) {
  NSData *data = strcmp(path, "-") == 0
                     ? [[NSFileHandle fileHandleWithStandardInput] readDataToEndOfFile]
                     : [NSData dataWithContentsOfFile:[NSString stringWithUTF8String:path]];
  if (data == nil) {
    fprintf(stderr, "gnumail-archive: cannot read %s\n", path);
    return nil;
  }
  NSString *text = [[[NSString alloc] initWithData:data encoding:NSUTF8StringEncoding] autorelease];
  id description = nil;
  @try {
    description = [text propertyList];
  } @catch (id e) {
    fprintf(stderr, "gnumail-archive: %s is not a property list\n", path);
    return nil;
  }
  NSString *error = nil;
  id root = buildBookFromDescription(description, &error);
  if (root == nil) fprintf(stderr, "gnumail-archive: %s: %s\n", path, [error UTF8String]);
  return root;
}

int main(int argc, char **argv) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  id root = nil;
  const char *output = NULL;
  if (argc == 5 && strcmp(argv[1], "--synthetic") == 0) {
    int groups = atoi(argv[2]);
    int entries = atoi(argv[3]);
    if (groups < 0 || entries < 0) return Usage(argv[0]);
    root = buildSyntheticBook(groups, entries);
    output = argv[4];
  } else if (argc == 3 && (argv[1][0] != '-' || strcmp(argv[1], "-") == 0)) {
    root = rootFromDescriptionFile(argv[1]);
    output = argv[2];
  } else {
    return Usage(argv[0]);
  }
  if (root == nil) return 1;
  if (![NSArchiver archiveRootObject:root toFile:[NSString stringWithUTF8String:output]]) {
    fprintf(stderr, "gnumail-archive: cannot write %s\n", output);
    return 1;
  }
  [pool release];
  return 0;
}
