// How many records the conversion created and handed to the shared book; read once, for
// the summary line.
#pragma once

#include <cstdint>

extern int32_t groupsConverted;
extern int32_t peopleConverted;
