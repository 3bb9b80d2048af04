/* The program's version: what the title window shows (major.minor) and the
   build number that the version resources, the manifest, the package's
   name and the README carry beside it. Plain #define lines: read by
   windres, by CMake and by script/package. */
#ifndef KIVVET_RESOURCES_VERSION_H
#define KIVVET_RESOURCES_VERSION_H

#define KIVVET_VERSION_MAJOR 2
#define KIVVET_VERSION_MINOR 23
#define KIVVET_VERSION_BUILD 15

#define KIVVET_VERSION_TEXT "2.23.15"

#endif
