# Resources of the Windows build: the icons are drawn as pixel rows in
# resources/icons/*.txt and turned into .ico files by tools/mkicon.py; the
# resource library KivvetLE.dll and the help page are made here too.
enable_language(RC)

set(KIVVET_GENERATED ${CMAKE_BINARY_DIR}/generated)
set(KIVVET_ICONS app get blank voice1 voice2 nogood)
set(KIVVET_ICON_FILES)
foreach(icon ${KIVVET_ICONS})
  set(source ${CMAKE_SOURCE_DIR}/resources/icons/${icon}.txt)
  set(output ${KIVVET_GENERATED}/${icon}.ico)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KIVVET_GENERATED}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/mkicon.py ${source} ${output}
    DEPENDS ${source} ${CMAKE_SOURCE_DIR}/tools/mkicon.py
    COMMENT "Drawing ${icon}.ico")
  list(APPEND KIVVET_ICON_FILES ${output})
endforeach()

# The cat's voice is synthesised by tools/mkvoice.py.
set(KIVVET_VOICE ${KIVVET_GENERATED}/voice.wav)
add_custom_command(
  OUTPUT ${KIVVET_VOICE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KIVVET_GENERATED}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/mkvoice.py ${KIVVET_VOICE}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/mkvoice.py
  COMMENT "Synthesising voice.wav")
list(APPEND KIVVET_ICON_FILES ${KIVVET_VOICE})

# The manifest carries the version of resources/version.h.
file(STRINGS ${CMAKE_SOURCE_DIR}/resources/version.h KIVVET_VERSION_LINES
  REGEX "^#define KIVVET_VERSION_(MAJOR|MINOR|BUILD) ")
foreach(line ${KIVVET_VERSION_LINES})
  string(REGEX REPLACE "^#define (KIVVET_VERSION_[A-Z]+) ([0-9]+).*" "\\1;\\2" pair "${line}")
  list(GET pair 0 name)
  list(GET pair 1 value)
  set(${name} ${value})
endforeach()
set(KIVVET_MANIFEST ${KIVVET_GENERATED}/KivvetLE.exe.manifest)
configure_file(${CMAKE_SOURCE_DIR}/resources/KivvetLE.exe.manifest.in ${KIVVET_MANIFEST} @ONLY)
list(APPEND KIVVET_ICON_FILES ${KIVVET_MANIFEST})

add_custom_target(kivvet_resources DEPENDS ${KIVVET_ICON_FILES})
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I ${KIVVET_GENERATED} -I ${CMAKE_SOURCE_DIR}/resources")
# kivvetle.rc includes the dialog templates and the help topics.
set(KIVVET_RC_INCLUDES
  ${CMAKE_SOURCE_DIR}/resources/ids.h
  ${CMAKE_SOURCE_DIR}/resources/dialogs.rc
  ${CMAKE_SOURCE_DIR}/resources/help.rc
  ${CMAKE_SOURCE_DIR}/resources/version.rc
  ${CMAKE_SOURCE_DIR}/resources/version.h)
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/kivvetle.rc PROPERTIES
  OBJECT_DEPENDS "${KIVVET_ICON_FILES};${KIVVET_RC_INCLUDES}")

# The resource library KivvetLE.dll beside KivvetLE.exe: the bitmap "TITLE"
# of the splash window, drawn by tools/mktitle.py from the cat of the tray
# icon and the version of resources/version.h. It holds resources only: no code, no entry point, no imports.
set(KIVVET_TITLE ${KIVVET_GENERATED}/title.bmp)
add_custom_command(
  OUTPUT ${KIVVET_TITLE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KIVVET_GENERATED}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/mktitle.py ${KIVVET_TITLE}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/mktitle.py ${CMAKE_SOURCE_DIR}/tools/mkicon.py
          ${CMAKE_SOURCE_DIR}/resources/icons/app.txt ${CMAKE_SOURCE_DIR}/resources/version.h
  COMMENT "Drawing title.bmp")
add_library(KivvetLE_resources SHARED ${CMAKE_SOURCE_DIR}/resources/title.rc ${KIVVET_TITLE})
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/title.rc PROPERTIES
  OBJECT_DEPENDS "${KIVVET_TITLE};${CMAKE_SOURCE_DIR}/resources/version.rc;${CMAKE_SOURCE_DIR}/resources/version.h")
set_target_properties(KivvetLE_resources PROPERTIES
  OUTPUT_NAME KivvetLE
  PREFIX ""
  LINKER_LANGUAGE CXX
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
# GNU ld has no --no-entry for PE: an entry address of 0 means none, and
# without the start files and libraries nothing is imported.
target_link_options(KivvetLE_resources PRIVATE
  -nostdlib -Wl,--entry=0 -Wl,--subsystem,windows -Wl,--no-insert-timestamp -s)

# The help page, KivvetLE.html, beside KivvetLE.exe: the menu's help and
# home page commands open it from the program's own folder.
set(KIVVET_HELP_PAGE ${CMAKE_BINARY_DIR}/KivvetLE.html)
add_custom_command(
  OUTPUT ${KIVVET_HELP_PAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/help/KivvetLE.html ${KIVVET_HELP_PAGE}
  DEPENDS ${CMAKE_SOURCE_DIR}/help/KivvetLE.html
  COMMENT "Copying KivvetLE.html")
add_custom_target(kivvet_help ALL DEPENDS ${KIVVET_HELP_PAGE})
