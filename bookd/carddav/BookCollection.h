/* The CardDAV collection over the book bookd serves. It reads what the book's store holds
 * (never a Distributed Objects view's unsaved changes) and writes through the library's own
 * saves, so that a card stored over CardDAV merges with, and shows to, every other client of
 * the book, and their saves show in the next CardDAV answer.
 *
 * Names: a card stored by a CardDAV client keeps the name that client chose; a record that
 * never came through CardDAV is named after its unique id. */
#ifndef BOOKD_CARDDAV_BOOKCOLLECTION_H
#define BOOKD_CARDDAV_BOOKCOLLECTION_H

#import <Foundation/Foundation.h>

#include <memory>

#include "CardCollection.h"

@class KXLocalAddressBook;

namespace carddav {

// The collection over book, which must outlive it and be used from the same thread.
std::unique_ptr<CardCollection> newBookCollection(KXLocalAddressBook *book);

}  // namespace carddav

#endif
