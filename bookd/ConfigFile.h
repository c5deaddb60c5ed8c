/* Reads bookd's configuration file: a property list whose top-level value is a dictionary
 * with the optional keys AddressBookLocation, ReadOnlyPassword, ReadWritePassword,
 * ReceivePort, SendPort and ListenAddress, and for the CardDAV service CardDAVPort,
 * CardDAVListenAddress, CardDAVCertificate and CardDAVKey (PEM files), CardDAVAllowPlainHTTP
 * (YES to serve plain HTTP on an address other than loopback, behind a TLS proxy),
 * CardDAVDisplayName and CardDAVTrustedProxies (addresses, an array or one string); other
 * keys are ignored. */
#ifndef BOOKD_CONFIGFILE_H
#define BOOKD_CONFIGFILE_H

#include <string>

#include "ServerSettings.h"

/* false when the file cannot be read, holds no property list, its top-level value is not a
 * dictionary, or one of these keys holds a value of the wrong kind (a text key anything
 * but a string; a port key anything but a string or a number; the flag anything but a
 * boolean, a number or YES/NO; the proxies anything but strings). A value of the wrong kind
 * would otherwise reach the book or the password check as an object that is no string. */
bool readConfigFile(const std::string &path, ConfigValues &values);

#endif
