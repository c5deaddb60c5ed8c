/* Password comparison for bookd: exact bytes, letter case included, no trimming, and in
 * time that depends only on the offered password's length, so that timing replies does not
 * reveal how much of a guess was right. */
#ifndef BOOKD_PASSWORDMATCH_H
#define BOOKD_PASSWORDMATCH_H

#include <string>

bool PasswordsMatch(const std::string &stored, const std::string &offered);

#endif
