/* The in-process half of KXPublicAddressBook: a view of a KXLocalAddressBook in the process
 * that holds the book, with unsaved changes of its own (views/ViewState.h). What
 * -[KXPublicAddressBook initWithAddressBook:readOnly:] makes.
 *
 * It hands out new records bound to itself (and keeping it alive) on every read: read-only
 * ones for a read-only view; for a read-write view, records whose changes go to the view's
 * changes through the hooks of KXPrivate.h. Reading again gives a new record that shows the
 * view's changes. Sent over Distributed Objects it travels by copy as a KXRemoteView whose
 * server side is a KXViewEndpoint wrapping this view.
 */
#ifndef KINDEX_KXLOCALVIEW_H
#define KINDEX_KXLOCALVIEW_H

#import <Kindex/KXPublicAddressBook.h>
#import <Kindex/KXLocalAddressBook.h>

namespace kx {
class ViewState;
}

@interface KXLocalView : KXPublicAddressBook {
  KXLocalAddressBook *_book;
  kx::ViewState *_state;
}

- (kx::ViewState *)_state;
- (NSString *)_location;

@end

#endif
