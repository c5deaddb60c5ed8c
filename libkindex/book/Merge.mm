#import "book/Merge.h"

namespace kx {

namespace {

bool isMulti(id value) {
  return [value isKindOfClass:[KXMultiValue class]];
}

const KXEntryList &entriesOf(KXMultiValue *value, const KXEntryList &empty) {
  NSUInteger primary = 0;
  return value != nil ? KXMultiValueEntries(value, &primary) : empty;
}

const KXEntryList::Item *find(const KXEntryList &entries, NSString *identifier) {
  size_t i = entries.indexOf(identifier);
  return i != KXEntryList::npos ? &entries[i] : nullptr;
}

}  // namespace

bool sameEntry(const KXEntryList::Item &a, const KXEntryList::Item &b) {
  return !entriesDiffer(a, b);
}

KXMultiValue *mergeMultiValue(KXMultiValue *base, KXMultiValue *ours, KXMultiValue *saved) {
  // Whoever did not change the value leaves it to the other, in the other's order.
  if (sameValue(ours, base)) return saved;
  if (sameValue(saved, base)) return ours;
  KXEntryList *empty = KXEntryList::make(0);
  const KXEntryList &b = entriesOf(base, *empty), &o = entriesOf(ours, *empty), &t = entriesOf(saved, *empty);
  KXEntryList *result = KXEntryList::make(t.count + o.count);
  auto keep = [&](const KXEntryList::Item &item) {
    item.retain();
    KXEntryList::insert(result, result->count, item);
  };
  for (const KXEntryList::Item &theirs : t) {
    const KXEntryList::Item *mine = find(o, theirs.identifier), *seen = find(b, theirs.identifier);
    if (mine != nullptr) {
      keep(seen != nullptr && sameEntry(*mine, *seen) ? theirs : *mine);
    } else if (seen == nullptr) {
      keep(theirs);
    }  // else the editor removed it
  }
  for (const KXEntryList::Item &mine : o) {
    if (find(t, mine.identifier) != nullptr) continue;
    const KXEntryList::Item *seen = find(b, mine.identifier);
    // Saved removed what the editor saw: kept only when the editor changed it.
    if (seen == nullptr || !sameEntry(mine, *seen)) keep(mine);
  }
  KXEntryList::destroy(empty);
  if (result->count == 0 && ours == nil) {
    KXEntryList::destroy(result);
    return nil;
  }
  NSString *primary = [saved primaryIdentifier];
  NSString *oursPrimary = [ours primaryIdentifier];
  if (!sameValue(oursPrimary, [base primaryIdentifier]) &&
      result->indexOf(oursPrimary) != KXEntryList::npos) {
    primary = oursPrimary;
  }
  return [[[KXMultiValue alloc] _initAdoptingEntries:result primary:primary] autorelease];
}

id mergeValue(id base, id ours, id saved) {
  bool multi = isMulti(base) || isMulti(ours) || isMulti(saved);
  bool allMulti =
      (base == nil || isMulti(base)) && (ours == nil || isMulti(ours)) && (saved == nil || isMulti(saved));
  if (multi && allMulti) return mergeMultiValue(base, ours, saved);
  return sameValue(ours, base) ? saved : ours;
}

KXValueList *mergedValues(const RecordChange &change, const KXValueList &ours, const KXValueList *saved) {
  KXValueList *result = saved != nullptr ? KXValueList::clone(saved) : KXValueList::make(ours.count);
  auto put = [&](NSString *key, id value) {
    if (value != nil) {
      KXValueList::set(result, key, value);
    } else {
      result->remove(key);
    }
  };
  if (change.added) {
    for (const KXValueList::Item &item : ours) {
      put(item.key, mergeValue(nil, item.value, saved != nullptr ? saved->get(item.key) : nil));
    }
  } else {
    for (const RecordChange::Dirty &d : change.dirty) {
      put(d.key, mergeValue(d.base, ours.get(d.key), saved != nullptr ? saved->get(d.key) : nil));
    }
  }
  return result;
}

NSMutableArray *mergedMembers(const RecordChange &change, NSArray *saved) {
  NSMutableArray *result = saved != nil ? [NSMutableArray arrayWithArray:saved] : [NSMutableArray array];
  NSUInteger added = [change.membersAdded count], removed = [change.membersRemoved count];
  if (added == 0 && removed == 0) return result;
  // A set, since a group may have thousands of members.
  NSMutableSet *present = [NSMutableSet setWithArray:result];
  for (NSUInteger i = 0; i < added; i++) {
    NSString *uid = [change.membersAdded objectAtIndex:i];
    if (![present containsObject:uid]) {
      [present addObject:uid];
      [result addObject:uid];
    }
  }
  if (removed > 0) {
    NSMutableSet *gone = [NSMutableSet setWithArray:change.membersRemoved];
    NSMutableArray *kept = [NSMutableArray arrayWithCapacity:[result count]];
    for (NSUInteger i = 0; i < [result count]; i++) {
      NSString *uid = [result objectAtIndex:i];
      if (![gone containsObject:uid]) [kept addObject:uid];
    }
    result = kept;
  }
  return result;
}

}  // namespace kx
