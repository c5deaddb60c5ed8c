#include "SharedBookSave.h"
#import <Kindex/Kindex.h>
#import "LogCapture.h"

static bool saveFailed = false;
static std::string saveFailure;

bool SaveSharedBook()
{
  LogCapture log;
  KXAddressBook *book = [KXAddressBook sharedAddressBook];
  bool saved = book != nil && [book save];
  if (!saved)
    {
      saveFailed = true;
      saveFailure = log.lastLine();
    }
  return saved;
}

bool SharedBookSaveFailed()
{
  return saveFailed;
}

std::string SharedBookSaveFailure()
{
  return saveFailure;
}
