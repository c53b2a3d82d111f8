# Run by CPack on the staged tree: every file the package puts under /etc is a configuration file
# that dpkg keeps when the package is removed (until it is purged) and never overwrites when the
# administrator has changed it.
file(GLOB_RECURSE found RELATIVE "${CPACK_TEMPORARY_DIRECTORY}" "${CPACK_TEMPORARY_DIRECTORY}/etc/*")
list(TRANSFORM found PREPEND "/")
list(JOIN found "\n" lines)
if(lines)
  string(APPEND lines "\n")
endif()
file(WRITE "${CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA}" "${lines}")
