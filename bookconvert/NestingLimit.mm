#import "NestingLimit.h"
#import <Foundation/Foundation.h>

static int depth = 0;
static bool exceeded = false;

void EnterNestedObject()
{
  if (++depth > maximumNesting)
    {
      exceeded = true;
      [NSException raise: NSInvalidArgumentException
                  format: @"archived objects nested more than %d deep", maximumNesting];
    }
}

void LeaveNestedObject()
{
  depth--;
}

void ResetNesting()
{
  depth = 0;
  exceeded = false;
}

bool NestingExceeded()
{
  return exceeded;
}
