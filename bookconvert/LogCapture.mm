#import "LogCapture.h"

static NSString *lastMessage = nil;

static void KeepMessage(NSString *message)
{
  ASSIGN(lastMessage, message);
}

LogCapture::LogCapture() : previous_(_NSLog_printf_handler)
{
  DESTROY(lastMessage);
  _NSLog_printf_handler = KeepMessage;
}

LogCapture::~LogCapture()
{
  _NSLog_printf_handler = previous_;
}

std::string LogCapture::lastLine() const
{
  if (lastMessage == nil) return std::string();
  NSString *text = lastMessage;
  NSRange stamp = [text rangeOfString: @"] "];
  if (stamp.location != NSNotFound) text = [text substringFromIndex: NSMaxRange(stamp)];
  text = [text stringByTrimmingCharactersInSet: [NSCharacterSet whitespaceAndNewlineCharacterSet]];
  std::string line = [text UTF8String];
  for (char &c : line)
    if (c == '\n' || c == '\r') c = ' ';
  return line;
}
