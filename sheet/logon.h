// Start at log-on: a value under the user's Run key that starts this copy
// of the program in its own folder (the current directory, where its
// settings are) without the title window. Each folder has its own value,
// so copies with different folders each start at log-on.
#ifndef KIVVET_SHEET_LOGON_H
#define KIVVET_SHEET_LOGON_H

// 1 when the Run key holds this folder's value.
int startsAtLogOn();

// Adds this folder's value (or writes it anew, for a copy that moved) or
// removes it. 1 on success; removing a value that is not there succeeds.
int setStartAtLogOn(int on);

#endif
