#import "ArchiveReader.h"
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#import "ArchivedClasses.h"

namespace {

const char *notBook = "is not a GNUMail address book: ";

// The nesting of the decoding under way. The unarchiver calls the archived classes with
// nothing but itself, so the count can't travel with the call; one decoding runs at a time.
const int maximumNesting = 1000;
int nestingDepth = 0;
bool nestingExceeded = false;

// While it lives, turns a crash into the reader's own error line and exit status 1.
//
// GNUstep's unarchiver decodes nested arrays by recursion, so a small archive of arrays
// nested some tens of thousands deep overflows the stack inside GNUstep. The guard catches
// SIGSEGV and SIGBUS on a stack of its own, writes the line prepared beforehand, and ends
// the process; nothing has reached the shared book by then, since the archive is read
// before the book is opened. A signal handler may only write what is ready, hence the
// buffers at file level.
char crashLine[4096];
size_t crashLineLength = 0;
alignas(16) char alternateStack[1 << 16];

void reportCrash(int) {
  ssize_t ignored = write(STDERR_FILENO, crashLine, crashLineLength);
  (void)ignored;
  _exit(1);
}

class StackOverflowGuard {
 public:
  // errorLine is written, with a newline, if the process crashes while the guard lives.
  explicit StackOverflowGuard(const std::string &errorLine) {
    std::string line = errorLine.substr(0, sizeof crashLine - 2) + "\n";
    std::memcpy(crashLine, line.data(), line.size());
    crashLineLength = line.size();

    stack_t stack = {};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    sigaltstack(&stack, &previousStack_);

    struct sigaction action = {};
    action.sa_handler = reportCrash;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, &previousSegv_);
    sigaction(SIGBUS, &action, &previousBus_);
  }

  ~StackOverflowGuard() {
    sigaction(SIGSEGV, &previousSegv_, nullptr);
    sigaction(SIGBUS, &previousBus_, nullptr);
    sigaltstack(&previousStack_, nullptr);
  }

  StackOverflowGuard(const StackOverflowGuard &) = delete;
  StackOverflowGuard &operator=(const StackOverflowGuard &) = delete;

 private:
  struct sigaction previousSegv_;
  struct sigaction previousBus_;
  stack_t previousStack_;
};

// The file's bytes, or nil with errno telling why. Read here rather than by the unarchiver,
// which answers a missing file and a broken one alike.
NSData *readWholeFile(const char *path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nil;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    int saved = S_ISDIR(info.st_mode) ? EISDIR : errno;
    close(fd);
    errno = saved;
    return nil;
  }
  NSMutableData *data = [NSMutableData data];
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      close(fd);
      errno = saved;
      return nil;
    }
    [data appendBytes:buffer length:(NSUInteger)got];
  }
  close(fd);
  return data;
}

// Text from the archive (a class name GNUstep logs) made fit for a terminal: control
// characters, C0 and C1, become \xNN.
std::string printable(const std::string &text) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (c < 0x20 || c == 0x7F || c1) {
      if (c1) c = static_cast<unsigned char>(text[++i]);
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The decoded root, retained, or nil with *reason set.
id decode(NSData *data, std::string *reason) {
  id root = nil;
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  // GNUstep logs some failures, such as a class it doesn't know, before it raises.
  LogCapture log;
  nestingDepth = 0;
  nestingExceeded = false;
  @try {
    NSUnarchiver *unarchiver = [[[NSUnarchiver alloc] initForReadingWithData:data] autorelease];
    if (unarchiver == nil) {
      *reason = "it is not an archive";
    } else {
      root = [[unarchiver decodeObject] retain];
      if (root != nil && ![unarchiver isAtEnd]) {
        [root release];
        root = nil;
        *reason = "it holds more than the objects of an address book";
      } else if (root == nil) {
        *reason = "it holds no object";
      }
    }
  } @catch (id) {
    // Under g++ the caught pointer is not the exception object: leave it alone.
    [root release];
    root = nil;
    std::string logged = printable(log.lastLine());
    if (nestingExceeded)
      *reason = "its groups are nested more than " + std::to_string(maximumNesting) + " deep";
    else
      *reason = logged.empty() ? "it can't be decoded" : "it can't be decoded (" + logged + ")";
  }
  [pool release];
  return root;
}

}  // namespace

id readArchivedBook(const char *path, std::string *error) {
  std::string reason;
  id root = nil;
  // The file's bytes go as soon as they are decoded, not at the end of the run.
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  NSData *data = readWholeFile(path);
  if (data == nil) {
    *error = std::string("Error: cannot read '") + path + "': " + strerror(errno);
    [pool release];
    return nil;
  }
  {
    StackOverflowGuard guard(std::string("Error: '") + path + "' " + notBook +
                             "it can't be decoded (the unarchiver crashed on it)");
    root = decode(data, &reason);
  }
  [pool release];
  if (root != nil) {
    GraphCheck check;
    reason = check.checkRoot(root);
    if (!reason.empty()) {
      [root release];
      root = nil;
    }
  }
  if (root == nil) {
    *error = std::string("Error: '") + path + "' " + notBook + reason;
    return nil;
  }
  return [root autorelease];
}

void enterNestedObject() {
  if (++nestingDepth > maximumNesting) {
    nestingExceeded = true;
    [NSException raise:NSInvalidArgumentException
                format:@"archived objects nested more than %d deep", maximumNesting];
  }
}

void leaveNestedObject() {
  nestingDepth--;
}

std::string GraphCheck::checkRoot(id root) {
  if (root == nil) return "it holds no object";
  if ([root isKindOfClass:[AddressBook class]]) return [(AddressBook *)root checkFieldsWith:*this];
  if ([root isKindOfClass:[Group class]] || [root isKindOfClass:[Address class]]) return element(root);
  return "its root object is of class " + classKindOf(root);
}

std::string GraphCheck::element(id element) {
  if ([element isKindOfClass:[Address class]]) return [(Address *)element checkFieldsWith:*this];
  if (![element isKindOfClass:[Group class]]) return std::string();

  // A group shared by several arrays is checked once, so that sharing can't make this
  // walk exponential.
  const void *key = (const void *)element;
  if (checked_.count(key) != 0) return std::string();
  if (onPath_.count(key) != 0) return "a group contains itself";
  onPath_.insert(key);
  std::string problem = [(Group *)element checkFieldsWith:*this];
  onPath_.erase(key);
  if (problem.empty()) checked_.insert(key);
  return problem;
}

std::string fieldKindProblem(id value, Class kind, const char *owner, const char *field) {
  if (value == nil || [value isKindOfClass:kind]) return std::string();
  return std::string("the ") + field + " of " + owner + " is an object of class " + classKindOf(value);
}

std::string classKindOf(id object) {
  Class known[] = {[NSString class], [NSArray class], [NSDictionary class], [NSNumber class],
                   [NSData class],   [NSDate class],  [NSNull class]};
  for (Class kind : known)
    if ([object isKindOfClass:kind]) return [NSStringFromClass(kind) UTF8String];
  return [NSStringFromClass([object class]) UTF8String];
}

// NSLog's handler is a plain function, so what it keeps lives at file level; one capture
// is alive at a time.
static NSString *lastLogMessage = nil;

static void keepLogMessage(NSString *message) {
  ASSIGN(lastLogMessage, message);
}

LogCapture::LogCapture() : previous_(_NSLog_printf_handler) {
  DESTROY(lastLogMessage);
  _NSLog_printf_handler = keepLogMessage;
}

LogCapture::~LogCapture() {
  _NSLog_printf_handler = previous_;
}

std::string LogCapture::lastLine() const {
  if (lastLogMessage == nil) return std::string();
  NSString *text = lastLogMessage;
  NSRange stamp = [text rangeOfString:@"] "];
  if (stamp.location != NSNotFound) text = [text substringFromIndex:NSMaxRange(stamp)];
  text = [text stringByTrimmingCharactersInSet:[NSCharacterSet whitespaceAndNewlineCharacterSet]];
  std::string line = [text UTF8String];
  for (char &c : line)
    if (c == '\n' || c == '\r') c = ' ';
  return line;
}
