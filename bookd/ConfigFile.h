/* Reads bookd's configuration file: a property list whose top-level value is a dictionary
 * with the optional keys AddressBookLocation, ReadOnlyPassword, ReadWritePassword,
 * ReceivePort, SendPort and ListenAddress; other keys are ignored. */
#ifndef BOOKD_CONFIGFILE_H
#define BOOKD_CONFIGFILE_H

#include <string>

#include "ServerSettings.h"

/* false when the file cannot be read, holds no property list, its top-level value is not a
 * dictionary, or one of the six keys holds a value of the wrong kind (a text key anything
 * but a string; a port key anything but a string or a number). A value of the wrong kind
 * would otherwise reach the book or the password check as an object that is no string. */
bool ReadConfigFile(const std::string &path, ConfigValues &values);

#endif
