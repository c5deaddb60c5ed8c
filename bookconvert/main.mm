// bookconvert: adds the groups and people of an address book that the GNUMail mail client
// archived to the user's shared address book.
#import <Foundation/Foundation.h>
#import <Kindex/Kindex.h>
#include <cstdio>
#include <string>
#import "AddressBook.h"
#import "Address.h"
#import "ArchiveReader.h"
#import "ConversionCounters.h"
#import "ElementConversion.h"
#import "Group.h"
#import "LogCapture.h"
#import "SharedBookSave.h"

// Converts the checked root by its own class's rule. Only an AddressBook saves the book
// itself; a lone group or entry is saved here, so that what the summary counts is stored.
static void ConvertRoot(id root)
{
  if ([root isKindOfClass: [AddressBook class]])
    {
      [(AddressBook *)root addToAddressBook];
      return;
    }
  if ([root isKindOfClass: [Group class]])
    [(Group *)root addToAddressBook];
  else
    [(Address *)root addToAddressBook];
  SaveSharedBook();
}

// Opens the shared book before any conversion, quietly: the library would log its own
// lines about a failure, and the user gets the converter's one line instead.
static bool OpenSharedBook()
{
  LogCapture log;
  return [KXAddressBook sharedAddressBook] != nil;
}

int main(int argc, char **argv)
{
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  if (argc != 2)
    {
      fprintf(stderr, "Usage: %s PATH_TO_GNUMAIL_ADDRESS_BOOK\n", argc > 0 ? argv[0] : "bookconvert");
      return -1;
    }
  const char *path = argv[1];
  printf("Converting from '%s'...\n", path);
  fflush(stdout);

  std::string error;
  id root = ReadArchivedBook(path, &error);
  if (root == nil)
    {
      fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  if (!OpenSharedBook())
    {
      NSString *location = [KXLocalAddressBook sharedAddressBookLocation];
      fprintf(stderr, "Error: cannot open the shared address book at '%s'\n",
              location != nil ? [location UTF8String] : "(no Library directory)");
      return 1;
    }

  std::string failure;
  @try
    {
      ConvertRoot(root);
    }
  @catch (id)
    {
      // Nothing is saved after a failure half-way; under g++ the caught pointer is not the
      // exception object, so its reason can't be told.
      failure = "Error: the conversion into the shared address book failed";
    }
  ReportSkippedElements(stderr, path);
  if (failure.empty() && SharedBookSaveFailed())
    {
      failure = "Error: cannot save the shared address book";
      if (!SharedBookSaveFailure().empty()) failure += " (" + SharedBookSaveFailure() + ")";
    }
  if (!failure.empty())
    {
      fprintf(stderr, "%s\n", failure.c_str());
      return 1;
    }

  printf("Converted %d groups and %d people\n", groupsConverted, peopleConverted);
  [pool release];
  return 0;
}
