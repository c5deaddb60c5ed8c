/* The two ways bookd ends during start-up: a message, or the usage text. Both write on
 * standard error directly (not through NSLog) and end the process normally with the given
 * status; neither returns. */
#ifndef BOOKD_DIEFUNCTIONS_H
#define BOOKD_DIEFUNCTIONS_H

#import <Foundation/Foundation.h>

/* Writes the message's bytes unformatted: a "%" in it is written as it is. */
void DiePrintingMessage(NSString *message, int status) __attribute__((noreturn));
/* Writes the usage text with the name the program was started under. */
void DiePrintingUsage(int status) __attribute__((noreturn));

#endif
