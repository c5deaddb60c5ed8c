/* Password comparison for bookd, shared by the Distributed Objects service and the socket
 * login service: exact bytes, letter case included, no trimming, and in time that depends only
 * on the offered password's length, so that timing replies does not reveal how much of a guess
 * was right. */
#ifndef BOOKD_PASSWORDMATCH_H
#define BOOKD_PASSWORDMATCH_H

#include <string>

bool passwordsMatch(const std::string &stored, const std::string &offered);

#ifdef __OBJC__
#import <Foundation/Foundation.h>

/* The bytes a password check compares: the UTF-8 of a string of this process. false for
 * anything else (nil, a number, a proxy that would answer whatever its owner likes), which
 * then matches nothing. */
bool passwordBytes(id text, std::string &bytes);
#endif

#endif
