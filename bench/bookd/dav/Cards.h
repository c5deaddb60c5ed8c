// The cards both servers hold: vCard 3.0 as address books hold them (FN, N, one to three
// e-mail addresses, one or two phone numbers, an address, an organisation, a note, a UID),
// the same for a given index on every run. A few cards in every 2,000 carry kNeedle in an
// e-mail address and nowhere else, for the query.
#pragma once

#include <string>

namespace davbench {

extern const char kNeedle[];

std::string cardUid(int i);
// Card i; a revision above 0 changes its note, as an edit would. With photos, one card in ten
// carries an 8 KB photo, as a phone's address book does.
std::string cardText(int i, int revision = 0, bool photos = false);
bool cardHasNeedle(int i);
int cardsWithNeedle(int count);

// Cards 0 .. count-1 in one file, as kindex imports them.
bool writeCardsFile(const std::string &path, int count, bool photos = false);
// Cards 0 .. count-1, one file each named <UID>.vcf in dir, as a vdir (Radicale's store) holds them.
bool writeCardFiles(const std::string &dir, int count);

}  // namespace davbench
