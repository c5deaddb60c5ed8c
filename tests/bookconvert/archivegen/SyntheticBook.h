// A large address book of made-up entries, for timing the converter.
#import <Foundation/Foundation.h>

// groupCount groups of entriesPerGroup entries each; every entry has a two-word name and
// its own e-mail address.
id buildSyntheticBook(int groupCount, int entriesPerGroup);
