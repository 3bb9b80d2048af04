# Resources of the Windows build: the icons are drawn as pixel rows in
# resources/icons/*.txt and turned into .ico files by tools/mkicon.py.
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

add_custom_target(kivvet_resources DEPENDS ${KIVVET_ICON_FILES})
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I ${KIVVET_GENERATED}")
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/kivvetle.rc PROPERTIES
  OBJECT_DEPENDS "${KIVVET_ICON_FILES}")
