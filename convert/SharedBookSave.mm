#include "SharedBookSave.h"
#import <Kindex/Kindex.h>

static bool saveFailed = false;

bool SaveSharedBook()
{
  KXAddressBook *book = [KXAddressBook sharedAddressBook];
  bool saved = book != nil && [book save];
  if (!saved) saveFailed = true;
  return saved;
}

bool SharedBookSaveFailed()
{
  return saveFailed;
}
