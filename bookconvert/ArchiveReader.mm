#import "ArchiveReader.h"
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#import "GraphCheck.h"
#import "LogCapture.h"
#import "NestingLimit.h"
#import "StackOverflowGuard.h"

namespace {

const char *notBook = "is not a GNUMail address book: ";

// The file's bytes, or nil with errno telling why. Read here rather than by the unarchiver,
// which answers a missing file and a broken one alike.
NSData *ReadWholeFile(const char *path)
{
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nil;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))
    {
      int saved = S_ISDIR(info.st_mode) ? EISDIR : errno;
      close(fd);
      errno = saved;
      return nil;
    }
  NSMutableData *data = [NSMutableData data];
  char buffer[65536];
  for (;;)
    {
      ssize_t got = read(fd, buffer, sizeof buffer);
      if (got == 0) break;
      if (got < 0)
        {
          if (errno == EINTR) continue;
          int saved = errno;
          close(fd);
          errno = saved;
          return nil;
        }
      [data appendBytes: buffer length: (NSUInteger)got];
    }
  close(fd);
  return data;
}

// The decoded root, retained, or nil with *reason set.
id Decode(NSData *data, std::string *reason)
{
  id root = nil;
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  // GNUstep logs some failures, such as a class it doesn't know, before it raises.
  LogCapture log;
  ResetNesting();
  @try
    {
      NSUnarchiver *unarchiver = [[[NSUnarchiver alloc] initForReadingWithData: data] autorelease];
      if (unarchiver == nil)
        {
          *reason = "it is not an archive";
        }
      else
        {
          root = [[unarchiver decodeObject] retain];
          if (root != nil && ![unarchiver isAtEnd])
            {
              [root release];
              root = nil;
              *reason = "it holds more than the objects of an address book";
            }
          else if (root == nil)
            {
              *reason = "it holds no object";
            }
        }
    }
  @catch (id)
    {
      // Under g++ the caught pointer is not the exception object: leave it alone.
      [root release];
      root = nil;
      std::string logged = log.lastLine();
      if (NestingExceeded())
        *reason = "its groups are nested more than " + std::to_string(maximumNesting) + " deep";
      else
        *reason = logged.empty() ? "it can't be decoded" : "it can't be decoded (" + logged + ")";
    }
  [pool release];
  return root;
}

}  // namespace

id ReadArchivedBook(const char *path, std::string *error)
{
  std::string reason;
  id root = nil;
  // The file's bytes go as soon as they are decoded, not at the end of the run.
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  NSData *data = ReadWholeFile(path);
  if (data == nil)
    {
      *error = std::string("Error: cannot read '") + path + "': " + strerror(errno);
      [pool release];
      return nil;
    }
  {
    StackOverflowGuard guard(std::string("Error: '") + path + "' " + notBook +
                             "it can't be decoded (the unarchiver crashed on it)");
    root = Decode(data, &reason);
  }
  [pool release];
  if (root != nil)
    {
      GraphCheck check;
      reason = check.checkRoot(root);
      if (!reason.empty())
        {
          [root release];
          root = nil;
        }
    }
  if (root == nil)
    {
      *error = std::string("Error: '") + path + "' " + notBook + reason;
      return nil;
    }
  return [root autorelease];
}
