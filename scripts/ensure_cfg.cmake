# Creates an empty settings file when none exists; an existing one is kept.
if(NOT EXISTS "${CFG}")
  file(WRITE "${CFG}" "")
  file(CHMOD "${CFG}" PERMISSIONS OWNER_READ OWNER_WRITE)
endif()
