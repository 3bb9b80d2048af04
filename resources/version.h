/* The program's version, written here once: what the title window and its
   picture show (major.minor, KIVVET_VERSION_SHORT) and the build number
   that the version resources, the manifest, the package's name and the
   README carry beside it. Plain #define lines: read by windres, by the
   compiler (tray/splash.cpp), by CMake, by tools/mktitle.py and, through
   script/lib/version.sh, by script/package, the demo and the package
   test. */
#ifndef KIVVET_RESOURCES_VERSION_H
#define KIVVET_RESOURCES_VERSION_H

#define KIVVET_VERSION_MAJOR 2
#define KIVVET_VERSION_MINOR 23
#define KIVVET_VERSION_BUILD 15

#define KIVVET_VERSION_TEXT "2.23.15"

/* The name under which Windows groups the program's notifications and
   its Start-menu shortcut: the program gives it to its process, the
   installer to the shortcut and to the registry key that names it. */
#define KIVVET_APP_USER_MODEL_ID "Kivvet.KivvetLE"

/* "2.23": major.minor as a string, made from the numbers above. */
#define KIVVET_VERSION_STRING_(number) #number
#define KIVVET_VERSION_STRING(number) KIVVET_VERSION_STRING_(number)
#define KIVVET_VERSION_SHORT \
  KIVVET_VERSION_STRING(KIVVET_VERSION_MAJOR) "." KIVVET_VERSION_STRING(KIVVET_VERSION_MINOR)

#endif
