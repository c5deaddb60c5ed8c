#include "ConversionCounters.h"

int32_t groupsConverted = 0;
int32_t peopleConverted = 0;
