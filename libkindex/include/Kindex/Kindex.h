/* Everything a client of the Kindex address-book library includes. */
#ifndef KINDEX_KINDEX_H
#define KINDEX_KINDEX_H

#import <Kindex/KXProperties.h>
#import <Kindex/KXError.h>
#import <Kindex/KXMultiValue.h>
#import <Kindex/KXRecord.h>
#import <Kindex/KXAddressBook.h>
#import <Kindex/KXLocalAddressBook.h>
#import <Kindex/KXPublicAddressBook.h>
#import <Kindex/KXSimpleAddressBookServing.h>
#import <Kindex/KXConnectionTuning.h>
#import <Kindex/KXVCard.h>
#import <Kindex/KXSync.h>

#endif
