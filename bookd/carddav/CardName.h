/* The names of cards whose records no CardDAV client named (made by Distributed Objects
 * clients, kindex or another process): named after their unique ids, so that a name finds its
 * record without a table and stays the same across restarts. */
#ifndef BOOKD_CARDDAV_CARDNAME_H
#define BOOKD_CARDDAV_CARDNAME_H

#include <string>
#include <string_view>

namespace carddav {

// "<uid>.vcf", with '%', '/' and control characters of the uid percent-encoded (so that any
// uid gives a valid name, and the name gives the uid back). May be longer than a name may
// be: see hashedName.
std::string nameOfUid(std::string_view uid);
// The same into *name, using its room.
void nameOfUid(std::string_view uid, std::string *name);
// The uid nameOfUid made name of; false when name is none of its names (*uid may have
// changed then).
bool uidOfName(const std::string &name, std::string *uid);

// The name of a record whose nameOfUid is too long, or taken by a card a client named so: the
// start of nameOfUid, '-', 16 hex digits of a hash of the uid, ".vcf". Not reversible: the
// collection finds such a name by comparing.
std::string hashedName(std::string_view uid);
// Whether name has the form hashedName gives.
bool looksHashed(const std::string &name);

}  // namespace carddav

#endif
