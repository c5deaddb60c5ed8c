// Holds back what GNUstep and the library log with NSLog for as long as it lives, so that
// a failure reaches the user as the converter's own single line; the last line logged can
// go into that line as its reason.
#pragma once

#import <Foundation/Foundation.h>
#include <string>

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  // The last message, without NSLog's time and process stamp, on one line; empty when none.
  std::string lastLine() const;

 private:
  NSLog_printf_handler *previous_;
};
