# The configure-time summary of what this build makes. Every part beyond the core program
# is optional: it is built when what it needs is found, and the summary names the Debian
# packages that would add what is missing.
#
#   beamfall_feature(NAME CONDITION WHAT [DEBIAN_PACKAGE...])
#     CONDITION is anything if() takes, e.g. ON or "TARGET beamfall-quicklook".
#   beamfall_feature_summary()
#
# Every optional dependency can be hidden with CMAKE_DISABLE_FIND_PACKAGE_<Name>, also those
# looked up as a program or a library: help2man, dpkg (dpkg-shlibdeps), GeographicLib.
#
# With BEAMFALL_REQUIRE_ALL (the test command and CI set it) a part left out stops the
# configuration instead: there every part must be built and every test run.
option(BEAMFALL_REQUIRE_ALL "Fail the configuration when an optional part can't be built" OFF)

function(beamfall_feature name condition what)
  string(LENGTH "${name}" length)
  if(length LESS 29)
    string(REPEAT " " 29 full)
    string(SUBSTRING "${full}" ${length} -1 pad)
  else()
    set(pad " ")
  endif()
  set(line "${name}${pad}${what}")
  separate_arguments(condition)
  if(${condition})
    set_property(GLOBAL APPEND PROPERTY BEAMFALL_FEATURES_BUILT "${line}")
  else()
    if(ARGN)
      list(JOIN ARGN " " packages)
      string(APPEND line " - apt-get install ${packages}")
    endif()
    set_property(GLOBAL APPEND PROPERTY BEAMFALL_FEATURES_MISSING "${line}")
  endif()
endfunction()

function(beamfall_feature_summary)
  get_property(built GLOBAL PROPERTY BEAMFALL_FEATURES_BUILT)
  get_property(missing GLOBAL PROPERTY BEAMFALL_FEATURES_MISSING)
  set(text "Beamfall ${PROJECT_VERSION}, ${CMAKE_BUILD_TYPE} build\n   built:\n")
  foreach(line IN LISTS built)
    string(APPEND text "     ${line}\n")
  endforeach()
  if(missing)
    string(APPEND text "   not built:\n")
    foreach(line IN LISTS missing)
      string(APPEND text "     ${line}\n")
    endforeach()
  endif()
  message(STATUS "${text}")
  if(missing AND BEAMFALL_REQUIRE_ALL)
    message(FATAL_ERROR "BEAMFALL_REQUIRE_ALL: the parts listed as not built are missing")
  endif()
endfunction()
