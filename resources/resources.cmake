# Included from src/CMakeLists.txt, so that the generated sources belong to
# the directory of the targets that compile them.
#
# Error texts come from one source, resources/errors.txt. The build makes
# from it the C++ table that the Linux FormatMessage stand-in reads and, for
# Windows, the message-table resource compiled into TWMAPAV9.DLL. The public
# header include/twerrors.h is generated from the same source and committed;
# a test checks that it is current.

set(TW_ERRORS_TXT ${PROJECT_SOURCE_DIR}/resources/errors.txt)
set(TW_ERRORS_GEN ${PROJECT_SOURCE_DIR}/resources/generate_errors.py)
set(GEN ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${GEN})

if(NOT WIN32)
  add_custom_command(OUTPUT ${GEN}/messagetable.cpp
    COMMAND ${Python3_EXECUTABLE} ${TW_ERRORS_GEN} ${TW_ERRORS_TXT} --table ${GEN}/messagetable.cpp
    DEPENDS ${TW_ERRORS_TXT} ${TW_ERRORS_GEN}
    COMMENT "Message table from errors.txt")
  set(TW_MESSAGE_TABLE_CPP ${GEN}/messagetable.cpp)
else()
  # windmc writes twerrors.rc, which names MSG00409.bin, into GEN; its own
  # header goes to a directory of its own so that nothing includes it in
  # place of the public twerrors.h.
  add_custom_command(OUTPUT ${GEN}/twerrors.rc ${GEN}/MSG00409.bin
    COMMAND ${CMAKE_COMMAND} -E make_directory ${GEN}/windmc
    COMMAND ${Python3_EXECUTABLE} ${TW_ERRORS_GEN} ${TW_ERRORS_TXT} --mc ${GEN}/twerrors.mc
    COMMAND ${TW_WINDMC} -U -r ${GEN} -h ${GEN}/windmc ${GEN}/twerrors.mc
    DEPENDS ${TW_ERRORS_TXT} ${TW_ERRORS_GEN}
    WORKING_DIRECTORY ${GEN}
    COMMENT "Message-table resource from errors.txt")
  configure_file(${PROJECT_SOURCE_DIR}/resources/version.rc.in ${GEN}/version.rc @ONLY)
  set(TW_RESOURCE_RC ${PROJECT_SOURCE_DIR}/resources/twmapav9.rc)
  set_source_files_properties(${TW_RESOURCE_RC} PROPERTIES
    OBJECT_DEPENDS "${GEN}/twerrors.rc;${GEN}/MSG00409.bin;${GEN}/version.rc")
  add_custom_target(twresources DEPENDS ${GEN}/twerrors.rc ${GEN}/MSG00409.bin)
endif()

