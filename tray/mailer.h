// Starting the user's mail program.
#ifndef KIVVET_TRAY_MAILER_H
#define KIVVET_TRAY_MAILER_H

#include "platform/win32.h"

// Starts mailerPath with the command line " " + mailerArgs, in the mail
// program's own directory, without waiting for it.
void launchMailer();

#endif
