// The name a user knows an object's class by: GNUstep's strings and collections are
// private subclasses (GSCBufferString, GSArray) of the public ones.
#pragma once

#import <Foundation/Foundation.h>
#include <string>

std::string ClassKind(id object);
