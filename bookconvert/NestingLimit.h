// A bound on how deep archived groups and books may nest inside one another while they
// are decoded. The mail client never nests them at all; an archive that nests them
// thousands deep would otherwise exhaust the stack, in the unarchiver or later in the
// conversion, which recurses as deep.
#pragma once

const int maximumNesting = 1000;

// Called by each archived class's -initWithCoder: around its own decoding. Enter raises
// (caught where the archive is read) when the bound is passed.
void EnterNestedObject();
void LeaveNestedObject();

// Start of a decoding; and whether it was stopped by the bound.
void ResetNesting();
bool NestingExceeded();
