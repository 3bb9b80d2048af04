// The UIDs of the mailbox as the last check found them, in KivvetLE.log.
#ifndef KIVVET_CHECK_KNOWNUIDS_H
#define KIVVET_CHECK_KNOWNUIDS_H

int loadKnownUids();

#endif
