// bookconvert: adds the groups and people of an address book that the GNUMail mail client
// archived to the user's shared address book.
#import <Foundation/Foundation.h>
#import <Kindex/Kindex.h>
#include <cstdio>
#include <string>
#import "ArchiveReader.h"
#import "Conversion.h"

int main(int argc, char **argv) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  if (argc != 2) {
    fprintf(stderr, "Usage: %s PATH_TO_GNUMAIL_ADDRESS_BOOK\n", argc > 0 ? argv[0] : "bookconvert");
    return -1;
  }
  const char *path = argv[1];
  printf("Converting from '%s'...\n", path);
  fflush(stdout);

  std::string error;
  id root = readArchivedBook(path, &error);
  if (root == nil) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  NSError *openError = nil;
  KXAddressBook *book = [KXAddressBook sharedAddressBookReturningError:&openError];
  if (book == nil) {
    NSString *location = [KXLocalAddressBook sharedAddressBookLocation];
    fprintf(stderr, "Error: cannot open the shared address book at '%s': %s\n",
            location != nil ? [location UTF8String] : "(no Library directory)",
            [[openError localizedDescription] UTF8String]);
    return 1;
  }

  Conversion conversion(book);
  std::string failure;
  @try {
    conversion.convertRoot(root);
  } @catch (id) {
    // Nothing is saved after a failure half-way; under g++ the caught pointer is not the
    // exception object, so its reason can't be told.
    failure = "Error: the conversion into the shared address book failed";
  }
  conversion.reportSkippedElements(stderr, path);
  if (failure.empty() && conversion.saveFailed()) {
    failure = "Error: cannot save the shared address book";
    if (!conversion.saveFailure().empty()) failure += " (" + conversion.saveFailure() + ")";
  }
  if (!failure.empty()) {
    fprintf(stderr, "%s\n", failure.c_str());
    return 1;
  }

  printf("Converted %d groups and %d people\n", conversion.groupsConverted(), conversion.peopleConverted());
  [pool release];
  return 0;
}
