#import "DieFunctions.h"

#include <cstdio>
#include <cstdlib>

void DiePrintingMessage(NSString *message, int status) {
  NSData *bytes = [message dataUsingEncoding:NSUTF8StringEncoding allowLossyConversion:YES];
  if ([bytes length] > 0) fwrite([bytes bytes], 1, [bytes length], stderr);
  fflush(stderr);
  exit(status);
}

void DiePrintingUsage(int status) {
  NSArray *arguments = [[NSProcessInfo processInfo] arguments];
  NSString *name = [arguments count] > 0 ? [arguments objectAtIndex:0] : @"bookd";
  // Kept as is (no --sock in synopsis, "port", PASS, CONFIGFILE, blank before newline): scripts rely on it.
  NSString *usage =
      [NSString stringWithFormat:@"Usage: %@\n"
                                 @"       [--ab LOC] [--ro PWD] [--rw PWD] [--conf CFILE]\n"
                                 @"       [--rp PORT] [--sp port]\n"
                                 @"Options:\n"
                                 @"\t--ab LOC     Serve address book at the given location\n"
                                 @"\t--ro PWD     Use PASS as read-only access password\n"
                                 @"\t--rw PWD     Use PASS as read-write access password\n"
                                 @"\t--rp PORT    Use PORT as receive port number\n"
                                 @"\t--sp PORT    Use PORT as send port number\n"
                                 @"\t--sock PORT  Use PORT as socket port number (default: 5000)\n"
                                 @"\t--dav PORT   Serve the book over CardDAV on PORT (default: off)\n"
                                 @"\t--conf CFILE Read values for AddressBookLocation, \n"
                                 @"\t             ReadOnlyPassword, ReadWritePassword,\n"
                                 @"\t             SendPort, ReceivePort from CONFIGFILE\n"
                                 @"\t             (proplist dictionary). Values given on\n"
                                 @"\t             the command line override these.\n",
                                 name];
  DiePrintingMessage(usage, status);
}
